#pragma once
// How recovered files are named in the run folder: carved files "KES" + five digits per
// extension, restored files under their own names with " - Copy(k)" on a clash. Names are
// always free ones: nothing here ever replaces an existing file.

#include <fcntl.h>

#include <cstdint>
#include <string>

namespace kestrel {

inline constexpr const char* kCarvedPrefix = "KES";
// The folder of the run folder that holds carved files that are not whole.
inline constexpr const char* kNotWholeFolder = "partial";

// "%s%05d.%s" of prefix, number and extension.
std::string CarvedName(const std::string& prefix, uint64_t number, const std::string& extension);

// The number after the highest "<prefix>*.<extension>" in `folder` whose five characters before
// a '.' are digits (1 when there is none). Writes the name; sets *base when it is 0. Returns
// whether matching files exist.
bool NextFreeNumber(const std::string& folder, const std::string& prefix,
                    const std::string& extension, std::string* name, uint64_t* base);

// Whether a recovered file may take `path` (relative to the folder open at `folder_fd`): neither
// it nor the partial file a write to it makes (".NAME.part") exists, as a file, a folder, a link
// or anything else.
bool NameIsFree(const std::string& path, int folder_fd = AT_FDCWD);

// `path`, or "<base> - Copy(k).<ext>" with the first free name from `*next_copy` on (0 is `path`
// itself, k >= 1 its copies; from 0 when null), tested relative to the folder open at
// `folder_fd`. `*next_copy` is left past the name returned, so that a run giving many files one
// name tests each copy's name once.
std::string MakeUniquePath(const std::string& path, uint64_t* next_copy = nullptr,
                           int folder_fd = AT_FDCWD);

}  // namespace kestrel
