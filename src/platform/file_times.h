#pragma once
// Giving a written file the modification and access times it had where it came from.

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel {

// Sets the times of the file at `path` (seconds since 1970-01-01 00:00 UTC); a time not given
// stays as it is. False when the file system refused them.
bool SetFileTimes(const std::string& path, std::optional<int64_t> modified,
                  std::optional<int64_t> accessed);

}  // namespace kestrel
