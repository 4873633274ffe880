#pragma once
// The report of one run, written as it goes into the run folder: "report.dfxml" (Digital
// Forensics XML), and, when asked for, the same as JSON lines. It is written as a partial file
// that gets its name when the run ends, however it ends; each file goes out as soon as it is
// known, so a run of any size is reported in the same small memory. Files are hashed and
// written out on the report's own thread, in the order they were added.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/output_file.h"
#include "report/digest_set.h"
#include "report/hash_worker.h"
#include "report/reported_file.h"
#include "report/written_digest.h"

namespace kestrel {

// What the front end asks of a run's report.
struct ReportChoice {
  bool enabled = true;
  std::vector<DigestKind> digests{DigestKind::kSha256};
  std::string command_line;     // empty: this process's own
  std::string json_lines_path;  // also write JSON lines there ("-": standard output)
};

// The source a run read.
struct ReportSource {
  std::string path;
  uint64_t size = 0;
  uint32_t sector_size = 512;
  std::string container;  // "raw", "split raw", "EWF"
};

class RunReport {
 public:
  // Starts the report in `run_folder` (ending with "/"), under "report.dfxml" or, when a run
  // of the same folder took that name, "report-N.dfxml". Null when it cannot be created;
  // `error` tells why.
  static std::unique_ptr<RunReport> Start(const ReportChoice& choice, const std::string& run_folder,
                                          const ReportSource& source, std::string* error);
  // Ends the report (as Finish does) when the run did not.
  ~RunReport();
  RunReport(const RunReport&) = delete;
  RunReport& operator=(const RunReport&) = delete;

  const std::vector<DigestKind>& digests() const { return digests_; }
  // A digest of a file to be written, hashed on the report's thread.
  WrittenDigest NewDigest() { return WrittenDigest(digests_, worker_.get()); }
  void Add(ReportedFile file);
  // `file` with the digests of `digest` once they are hashed.
  void Add(ReportedFile file, WrittenDigest digest);
  // Closes the document with the end time and resources used, and gives it its name. False
  // when a write failed (the partial file stays).
  bool Finish();
  // Where the report is (or will be once finished).
  const std::string& path() const { return path_; }

 private:
  RunReport() = default;
  void Write(const std::string& text);
  // Writes the file's entry (on the report's thread).
  void WriteFile(const ReportedFile& file);

  std::vector<DigestKind> digests_;
  OutputFile xml_;
  std::FILE* json_ = nullptr;
  bool json_is_stdout_ = false;
  std::string path_;
  int64_t start_ns_ = 0;
  bool finished_ = false;
  bool failed_ = false;
  std::unique_ptr<HashWorker> worker_;  // made last and ended first: its tasks use the rest
};

}  // namespace kestrel
