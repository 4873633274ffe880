#pragma once
// How recovered files are named in the run folder: carved files "KES" + five digits per
// extension, restored files under their own names with " - Copy(k)" on a clash. Names are
// always free ones: nothing here ever replaces an existing file.

#include <cstdint>
#include <string>

namespace kestrel {

inline constexpr const char* kCarvedPrefix = "KES";

// "%s%05d.%s" of prefix, number and extension.
std::string CarvedName(const std::string& prefix, uint64_t number, const std::string& extension);

// The number after the highest "<prefix>*.<extension>" in `folder` whose five characters before
// a '.' are digits (1 when there is none). Writes the name; sets *base when it is 0. Returns
// whether matching files exist.
bool NextFreeNumber(const std::string& folder, const std::string& prefix,
                    const std::string& extension, std::string* name, uint64_t* base);

// `path`, or "<base> - Copy(k).<ext>" with the first k >= 1 that names no existing file.
std::string MakeUniquePath(const std::string& path);

}  // namespace kestrel
