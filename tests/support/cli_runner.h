#pragma once
// Runs the built kestrel-cli in a test: no host devices, a private settings store and map.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace kestrel::testing {

struct CliResult {
  int status = -1;
  std::string out, err;
  std::vector<std::string> OutLines() const;
};

// Runs `kestrel-cli ARGUMENTS` with KESTREL_NO_DEVICES=1, KESTREL_REGISTRY and KESTREL_DEVICES
// pointing into `dir` (the map file is left as it is, or absent), `extra_env` ("NAME=value ...")
// besides, and no standard input.
CliResult RunCli(const TempDir& dir, const std::string& arguments,
                 const std::string& extra_env = "");

// The same, killed with SIGKILL after `seconds` when it has not ended by then.
CliResult RunCliKilledAfter(const TempDir& dir, const std::string& arguments, double seconds,
                            const std::string& extra_env = "");

// The only folder below `out` (the run's day folder), or empty when there is none or several.
std::string DayFolderBelow(const std::string& out);

// Every file below `folder` (a subfolder's files named "sub/name") with its bytes; empty when
// `folder` is empty.
std::map<std::string, std::vector<uint8_t>> FilesBelow(const std::string& folder);

}  // namespace kestrel::testing
