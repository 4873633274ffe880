#pragma once
// Test helpers: a temporary folder removed at the end of the test, running tools, files.

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs a shell command; returns its exit status (output goes to the test log on failure).
int RunCommand(const std::string& command, std::string* output = nullptr);
// Whether a program is on PATH (tests that need a tool skip with a message when it is missing).
bool HaveTool(const std::string& name);
// Runs `command` in a fresh folder and returns the file "out" it made there (empty on failure).
std::vector<uint8_t> MakeWithTool(const std::string& command);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// Names of the regular files in a folder, sorted.
std::vector<std::string> ListFiles(const std::string& folder);

// The shared sample folder (../shared/samples next to the repository), empty when missing.
std::string SamplesDir();

}  // namespace kestrel::testing
