#pragma once
// The commands of kestrel-cli, each in its own file.

#include <string>
#include <vector>

namespace kestrel {

struct CliOptions {
  std::string command;                  // sources, types, scan, deleted
  std::vector<std::string> positional;  // SOURCE
  bool json = false;
  bool keep_paths = false;    // --keep-paths: the volume's folders below the run folder
  bool list = false;          // --list: what a deleted-files run would recover, nothing created
  std::string out;            // --out DIR
  std::string types;          // --types LIST|all
  std::string folder;         // --folder PATH
  std::string read_errors;    // --read-errors ask|abort|retry|ignore|ignore-all
  bool keep_partial = false;  // --keep-partial: write the carved files that are not whole apart
  bool free_space = false;    // --free-space: scan only a FAT, exFAT or NTFS volume's free clusters
  std::string progress;       // --progress line|json|none
  bool resume = false;        // --resume [RUN-FOLDER]: go on with an interrupted scan
  std::string resume_folder;  // the run folder given to --resume ("" to find it)
  bool no_report = false;     // --no-report: no report.dfxml in the run folder
  std::string hash;           // --hash md5,sha1,sha256|none: the report's digests
  std::string report_json;    // --report-json FILE|-: the report as JSON lines too
  std::string command_line;   // the arguments as given, for the report
};

int RunSourcesCommand(const CliOptions& options);
int RunTypesCommand(const CliOptions& options);
int RunScanCommand(const CliOptions& options);
int RunDeletedCommand(const CliOptions& options);

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// The run completed, but some files it found could not be written (each named on stderr).
inline constexpr int kExitFilesNotWritten = 3;
inline constexpr int kExitCancelled = 130;

}  // namespace kestrel
