#pragma once
// Taking a run folder back to a scan's checkpoint: the carved files ("KES" + number + "." +
// extension) written after it are removed, so that the scan can go on from the checkpoint and
// write them again under the same names (unfinished files go as before any run, see
// partial_files.h). Nothing else in the folder is touched, and a link is never followed.

#include <cstdint>
#include <map>
#include <string>

namespace kestrel {

// The next number per extension of the carved files in `folder` (one past the highest).
std::map<std::string, uint64_t> CarvedNextNumbers(const std::string& folder);

// Removes from `folder` every carved file whose number is at or past its extension's next
// number in `next` (every one of an extension `next` does not name). Returns 0, or the errno
// value of the first removal that failed.
int RemoveCarvedFilesFrom(const std::string& folder, const std::map<std::string, uint64_t>& next);

// Removes the temporary files "<prefix>XXXXXX" (mkstemp's six characters) that a run killed half
// way left in `folder`.
void RemoveLeftTemporaries(const std::string& folder, const std::string& prefix);

}  // namespace kestrel
