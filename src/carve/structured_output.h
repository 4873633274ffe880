#pragma once
// Finishing steps shared by the routines that measure a file from its own structure (TIFF,
// compound documents, ZIP, QuickTime): they decide the final name only after the file is
// complete, so they close it first, rename it, and list it under the final name.

#include <cstdint>
#include <string>

#include "carve/carve_session.h"

namespace kestrel {

// Closes the open output file without listing it. False when it was damaged by a failed write
// or its last flush failed: then it is deleted (a failure not yet reported is reported as the
// session's writes do). Either way no file is open afterwards.
bool CloseWithoutListing(CarveSession& s);

// Lists a kept file: a row of the results list and recovered count + 1 (shown).
void ListKeptFile(CarveSession& s, const std::string& path, uint64_t length);

// Deletes the open output file, never listed, and clears the open flags of the common finish.
void DiscardOpenFile(CarveSession& s);

// Whether `code` is among the run's selected types.
inline bool IsSelected(const CarveSession& s, uint8_t code) {
  return (s.selected_mask & TypeBit(code)) != 0;
}

}  // namespace kestrel
