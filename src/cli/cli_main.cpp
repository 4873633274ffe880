#include "cli/cli_main.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/terminal_run_ui.h"

namespace kestrel {
namespace {

constexpr const char* kUsage =
    "Usage: kestrel-cli COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  sources [--json]                    volumes and disks, as the source list shows them\n"
    "  types                               the recoverable file types\n"
    "  deleted SOURCE [--folder PATH] [--out DIR] [--types LIST|all] [--keep-paths] [--json]\n"
    "       [--no-report | --hash LIST] [--report-json FILE]\n"
    "  deleted SOURCE --list [--folder PATH] [--types LIST|all] [--json]\n"
    "                                      recover the deleted files of a FAT, exFAT or NTFS "
    "volume\n"
    "  scan SOURCE [--out DIR] [--types LIST] [--free-space] [--keep-partial]\n"
    "       [--resume [RUN-FOLDER]] [--progress MODE] [--json]\n"
    "       [--no-report | --hash LIST] [--report-json FILE]\n"
    "                                      recover files from a partition or disk by signature\n"
    "\n"
    "SOURCE is a letter (E:), a disk (disk0) or the path of a device or image file: a raw\n"
    "image, the first segment of a split one (disk.001, diskaa) or an EWF image (case.E01).\n"
    "Options:\n"
    "  --out DIR            recovery folder (default: the stored \"Default Folder\")\n"
    "  --types LIST         three-letter type names, comma separated, or \"all\"\n"
    "  --folder PATH        folder inside the volume to recover below (deleted)\n"
    "  --keep-paths         recreate the volume's folders below the run folder (deleted)\n"
    "  --list               print the deleted files a run would recover, with size and\n"
    "                       state, and create nothing (deleted)\n"
    "  --free-space         carve only the clusters a FAT, exFAT or NTFS volume marks free,\n"
    "                       skipping its live files (scan)\n"
    "  --keep-partial       also write the carved files that are not whole (a part\n"
    "                       missing or foreign bytes inside) to the run folder's\n"
    "                       partial/ folder, listed apart (scan)\n"
    "  --resume [RUN-FOLDER]\n"
    "                       go on with an interrupted scan of SOURCE (same types and\n"
    "                       options) in its run folder: the one given, or the newest\n"
    "                       below the recovery folder; it ends with the files an\n"
    "                       uninterrupted scan writes (scan)\n"
    "  --progress MODE      line (the progress line on a terminal), json (one progress\n"
    "                       object per line on stderr, about once a second) or none (scan)\n"
    "  --no-report          write no report.dfxml into the run folder (scan, deleted)\n"
    "  --hash LIST          the report's digests of each file: md5, sha1, sha256, comma\n"
    "                       separated, or none (default: sha256)\n"
    "  --report-json FILE   also write the report as JSON lines to FILE (\"-\": stdout):\n"
    "                       a creator, a source, one fileobject per file, an end\n"
    "  --json               one JSON object per line; a deleted file's also holds its\n"
    "                       name as the volume gives it (original_name)\n"
    "  --read-errors MODE   ask, abort, retry, ignore or ignore-all (default: ask on a\n"
    "                       terminal, ignore-all otherwise)\n"
    "  -q, --quiet          no progress line\n"
    "  -v, --verbose        progress line even without a terminal, status texts, and a\n"
    "                       closing line of speed and time (on stderr)\n"
    "  -h, --help           this text\n"
    "\n"
    "On a terminal, scan and deleted show a progress line on stderr: sector, files\n"
    "recovered, percentage, MB/s and time left. Ctrl-C asks whether to cancel.\n"
    "Names from a volume are written with \"_\" for control characters, bidirectional\n"
    "overrides and \"/\", and \"_\" for each character of a name of only dots and spaces;\n"
    "what the terminal would act on is printed escaped (\\u001b).\n"
    "With --progress json, scan writes instead, on stderr, about once a second and at its\n"
    "end, lines such as\n"
    "  {\"bytes_done\": 1048576, \"bytes_total\": 4194304, \"percent\": 25.00,\n"
    "   \"mb_per_s\": 812.3, \"seconds_left\": 0, \"files_recovered\": 2}\n"
    "(mb_per_s and seconds_left are null while they cannot be told yet).\n"
    "\n"
    "Every scan and deleted run writes report.dfxml (Digital Forensics XML) into its run\n"
    "folder: the program, command line and times, the source, and for each file found its\n"
    "name as written, original path and times (deleted), size, state, where its bytes lay\n"
    "on the source (byte_runs) and the digests of the bytes written.\n"
    "\n"
    "Exit status:\n"
    "  0    the run completed (whether or not files were found)\n"
    "  1    the run was refused or failed (the reason is on stderr)\n"
    "  2    usage error\n"
    "  3    the run completed, but files could not be written (each named on stderr)\n"
    "  130  cancelled, or aborted at a read error\n"
    "\n"
    "See kestrel-cli(1).\n";

bool TakeValue(int argc, char** argv, int* i, std::string* value) {
  if (*i + 1 >= argc) return false;
  *value = argv[++*i];
  return true;
}

bool IsFolder(const char* path) {
  struct stat st {};
  return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int UsageError(const std::string& text) {
  std::fprintf(stderr, "kestrel-cli: %s\n\n%s", text.c_str(), kUsage);
  return kExitUsage;
}

}  // namespace

int CliMain(int argc, char** argv) {
  CliOptions options;
  for (int i = 0; i < argc; ++i) {
    options.command_line += (i == 0 ? "" : " ") + std::string(argv[i]);
  }
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string* target = nullptr;
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--keep-paths") {
      options.keep_paths = true;
    } else if (arg == "--list") {
      options.list = true;
    } else if (arg == "--free-space") {
      options.free_space = true;
    } else if (arg == "--keep-partial") {
      options.keep_partial = true;
    } else if (arg == "--resume") {
      options.resume = true;
      // A folder after it is the run folder to go on in (a source is never a folder).
      if (i + 1 < argc && argv[i + 1][0] != '-' && IsFolder(argv[i + 1])) {
        options.resume_folder = argv[++i];
      }
    } else if (arg == "--progress") {
      target = &options.progress;
    } else if (arg == "-q" || arg == "--quiet") {
      SetVerbosity(Verbosity::kQuiet);
    } else if (arg == "-v" || arg == "--verbose") {
      SetVerbosity(Verbosity::kVerbose);
    } else if (arg == "--out") {
      target = &options.out;
    } else if (arg == "--types") {
      target = &options.types;
    } else if (arg == "--folder") {
      target = &options.folder;
    } else if (arg == "--read-errors") {
      target = &options.read_errors;
    } else if (arg == "--no-report") {
      options.no_report = true;
    } else if (arg == "--hash") {
      target = &options.hash;
    } else if (arg == "--report-json") {
      target = &options.report_json;
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      return UsageError("unknown option " + arg);
    } else if (options.command.empty()) {
      options.command = arg;
    } else {
      options.positional.push_back(arg);
    }
    if (target && !TakeValue(argc, argv, &i, target)) return UsageError(arg + " needs a value");
  }
  if (options.command != "scan" && options.command != "deleted" &&
      (options.no_report || !options.hash.empty() || !options.report_json.empty())) {
    return UsageError("--no-report, --hash and --report-json apply to \"scan\" and \"deleted\"");
  }
  if (options.command != "scan" &&
      (options.free_space || options.keep_partial || !options.progress.empty() || options.resume)) {
    return UsageError(
        "--free-space, --keep-partial, --progress and --resume apply to \"scan\" only");
  }
  if (options.command == "sources") return RunSourcesCommand(options);
  if (options.command == "types") return RunTypesCommand(options);
  if (options.command == "scan") return RunScanCommand(options);
  if (options.command == "deleted") return RunDeletedCommand(options);
  if (options.command.empty()) return UsageError("no command given");
  return UsageError("unknown command " + options.command);
}

}  // namespace kestrel
