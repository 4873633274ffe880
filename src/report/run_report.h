#pragma once
// The report of one run, written as it goes into the run folder: "report.dfxml" (Digital
// Forensics XML), and, when asked for, the same as JSON lines. It is written as a partial file
// that gets its name when the run ends, however it ends; each file goes out as soon as it is
// known, so a run of any size is reported in the same small memory. Files are hashed and
// written out on the report's own thread, in the order they were added.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

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

// Where and when a run went on after it was interrupted.
struct RunResumption {
  uint64_t sector = 0;
  int64_t unix_seconds = 0;
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
  // Goes on with the report `name` of the run folder that an interrupted run of the same scan
  // left unfinished, from its first `length` bytes (where it held every file found before the
  // point the run goes on from). The JSON lines, when asked for, start anew.
  static std::unique_ptr<RunReport> Continue(const ReportChoice& choice,
                                             const std::string& run_folder, const std::string& name,
                                             uint64_t length, const ReportSource& source,
                                             std::string* error);
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
  // Where the run went on after interruptions, written at the report's end.
  void SetResumptions(std::vector<RunResumption> resumptions);
  // Calls `then` on the report's thread with the report's length once every file added so far
  // is written out and flushed to the file.
  void WhenWritten(std::function<void(uint64_t length)> then);
  // Waits until every file added so far is written out.
  void Drain() { worker_->Drain(); }
  // Closes the document with the end time and resources used, and gives it its name. False
  // when a write failed (the partial file stays).
  bool Finish();
  // Where the report is (or will be once finished), and its name in the run folder.
  const std::string& path() const { return path_; }
  std::string name() const { return path_.substr(path_.find_last_of('/') + 1); }

 private:
  RunReport() = default;
  // Opens the JSON lines and starts the report's thread; false with `error` set when the JSON
  // lines cannot be created.
  bool StartWriting(const ReportChoice& choice, std::string* error);
  void WriteJsonOpening(const ReportChoice& choice, const ReportSource& source);
  void WriteJsonLine(const nlohmann::json& line);
  void Write(const std::string& text);
  // Writes the file's entry (on the report's thread).
  void WriteFile(const ReportedFile& file);

  std::vector<DigestKind> digests_;
  OutputFile xml_;
  std::FILE* json_ = nullptr;
  bool json_is_stdout_ = false;
  std::string path_;
  int64_t start_ns_ = 0;
  std::vector<RunResumption> resumptions_;
  bool finished_ = false;
  bool failed_ = false;
  std::unique_ptr<HashWorker> worker_;  // made last and ended first: its tasks use the rest
};

}  // namespace kestrel
