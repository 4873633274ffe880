#pragma once
// Reads back a run's report.dfxml in tests and checks it against the files and the source.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kestrel::testing {

struct ReadRun {
  uint64_t file_offset = 0;
  uint64_t img_offset = 0;
  uint64_t length = 0;
  bool sparse = false;
};

// One fileobject of a report, as written (one per line).
struct ReadFileObject {
  std::string state;
  std::string name;  // relative to the run folder; empty when not written
  std::string original_path;
  uint64_t size = 0;
  std::string mtime;
  std::vector<ReadRun> runs;
  std::map<std::string, std::string> digests;  // type -> hex
};

std::vector<ReadFileObject> ReadFileObjects(const std::string& report_path);

// Whether xmllint finds the report valid against the DFXML schema; its output in `output`.
bool SchemaValid(const std::string& report_path, std::string* output);
// Whether the schema and xmllint are there (tests skip with a message when not).
bool CanValidate();

// The digest of `bytes` in `algorithm` ("md5", "sha1", "sha256"), lower-case base 16.
std::string DigestOf(const std::string& algorithm, const std::vector<uint8_t>& bytes);

// Checks every written file of the report against `run_folder`: its digests match its bytes,
// and when it has byte runs, reading `source` there gives its bytes back. Returns how many
// written files it checked.
size_t ExpectReportMatchesFiles(const std::string& report_path, const std::string& run_folder,
                                const std::string& source);

}  // namespace kestrel::testing
