#include "support/cli_runner.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace kestrel::testing {

std::vector<std::string> CliResult::OutLines() const {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

namespace {

// Runs kestrel-cli through `runner` ("" or a command that runs the one after it).
CliResult RunCliWith(const TempDir& dir, const std::string& arguments, const std::string& extra_env,
                     const std::string& runner) {
  const std::string err_file = dir / "cli-stderr.txt";
  const std::string command = "(env KESTREL_NO_DEVICES=1 KESTREL_DEVICES='" + dir / "devices.conf" +
                              "' KESTREL_REGISTRY='" + dir / "registry.reg" + "' " + extra_env +
                              " " + runner + " " KESTREL_CLI_PATH " " + arguments +
                              " </dev/null 2>'" + err_file + "')" +
                              // The shell's own word on a killed run is not the program's.
                              (runner.empty() ? "" : " 2>/dev/null");
  CliResult result;
  result.status = RunCommand(command, &result.out);
  std::ifstream err(err_file);
  result.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
  return result;
}

}  // namespace

CliResult RunCli(const TempDir& dir, const std::string& arguments, const std::string& extra_env) {
  return RunCliWith(dir, arguments, extra_env, "");
}

CliResult RunCliKilledAfter(const TempDir& dir, const std::string& arguments, double seconds,
                            const std::string& extra_env) {
  return RunCliWith(dir, arguments, extra_env, "timeout -s KILL " + std::to_string(seconds));
}

std::string DayFolderBelow(const std::string& out) {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(out, ec)) {
    if (entry.is_directory()) found.push_back(entry.path().string());
  }
  return found.size() == 1 ? found[0] : "";
}

std::map<std::string, std::vector<uint8_t>> FilesBelow(const std::string& folder) {
  std::map<std::string, std::vector<uint8_t>> files;
  if (folder.empty()) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    files[std::filesystem::relative(entry.path(), folder).string()] =
        ReadFileBytes(entry.path().string());
  }
  return files;
}

}  // namespace kestrel::testing
