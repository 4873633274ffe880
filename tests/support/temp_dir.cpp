#include "support/temp_dir.h"

#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kestrel::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only restored files must not stop the clean-up.
  for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ec)) {
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path_, ec);
}

std::vector<uint8_t> MakeWithTool(const std::string& command) {
  TempDir work;
  if (RunCommand("cd '" + work.path() + "' && " + command) != 0) return {};
  return ReadFileBytes(work / "out");
}

int RunCommand(const std::string& command, std::string* output) {
  std::string full = command + " 2>&1";
  FILE* pipe = ::popen(full.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  std::array<char, 4096> chunk{};
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) text.append(chunk.data(), n);
  int status = ::pclose(pipe);
  if (output) *output = text;
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (code != 0 && !output)
    std::fprintf(stderr, "command failed (%d): %s\n%s\n", code, command.c_str(), text.c_str());
  return code;
}

bool HaveTool(const std::string& name) {
  return RunCommand("command -v " + name + " >/dev/null", nullptr) == 0;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string SamplesDir() {
  std::filesystem::path dir =
      std::filesystem::path(KESTREL_SOURCE_DIR) / ".." / "shared" / "samples";
  std::error_code ec;
  return std::filesystem::is_directory(dir, ec) ? std::filesystem::canonical(dir).string() : "";
}

}  // namespace kestrel::testing
