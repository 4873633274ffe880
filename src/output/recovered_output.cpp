#include "output/recovered_output.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "output/output_naming.h"
#include "platform/folder_handle.h"
#include "platform/partial_files.h"
#include "platform/settings_store.h"
#include "platform/text_trim.h"
#include "run/file_types.h"

namespace kestrel {
namespace {

std::string TwoDigits(int value) {
  if (value < 0) return "-1";
  char text[16];
  std::snprintf(text, sizeof text, "%02d", value);
  return text;
}

}  // namespace

std::string DefaultRecoveryFolder() {
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/Recover";
}

std::string StoredRecoveryFolder(SettingsStore& store, FileTypeSelection* selection) {
  if (!store.KeyExists()) return DefaultRecoveryFolder();
  if (selection) {
    if (auto scan_all = store.GetByte("Scan File")) selection->scan_all = *scan_all;
  }
  std::optional<std::string> folder = store.GetString("Default Folder");
  return folder && !folder->empty() ? *folder : DefaultRecoveryFolder();
}

std::string DayFolderPath(const std::string& folder, const LocalDate& date) {
  std::string path = folder;
  if (!path.empty() && path.back() == '/') path.pop_back();
  std::string year = date.year < 0 ? "-1" : std::to_string(date.year);
  return path + "/" + TwoDigits(date.month) + TwoDigits(date.day) + year;
}

void ApplyStoredChoices(SettingsStore& store, FileTypeSelection* selection, std::string* folder) {
  selection->LoadFileTypeMask(store);
  if (folder->empty()) *folder = StoredRecoveryFolder(store, selection);
}

std::string RecoveryFolderPath(SettingsStore& store, FileTypeSelection* selection,
                               const std::string& folder) {
  const std::string base = folder.empty() ? StoredRecoveryFolder(store, selection) : folder;
  return DayFolderPath(base, Today());
}

std::string ExistingAncestor(std::string path) {
  struct stat st {};
  while (!path.empty() && ::stat(path.c_str(), &st) != 0) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
  return path.empty() ? "." : path;
}

std::string MakeRecoveryFolder(SettingsStore& store, FileTypeSelection* selection,
                               const std::string& folder) {
  const std::string day = RecoveryFolderPath(store, selection, folder);
  std::error_code ec;
  std::filesystem::create_directories(day, ec);
  return day;
}

int CreateRunFolder(const std::string& path) {
  int error = 0;
  const FolderHandle folder = OpenRunFolder(path, true, &error);
  if (!folder.is_open()) return error;
  RemoveStalePartialFilesIn(folder.fd());  // what killed runs into this folder left unfinished
  return 0;
}

std::string RestoredFileName(const std::string& stored_name, const std::string& extension) {
  std::string name = stored_name;
  if (!name.empty() && name[0] == '_') name = kCarvedPrefix + name;
  name = std::string(Trim(name, " "));
  if (name.empty()) return {};
  if (!extension.empty()) name = std::string(Trim(name + "." + extension, " "));
  for (char& c : name) {
    if (c == '/' || c == '\0') c = '_';
  }
  if (name.empty() || name == "." || name == "..") return {};
  return name;
}

void ApplyFatAttributes(int fd, uint8_t attributes) {
  const uint8_t flags = attributes & (0x20 | 0x02 | 0x01 | 0x04);
  if (flags == 0) return;
  if (flags & 0x01) {
    struct stat st {};
    if (::fstat(fd, &st) == 0) ::fchmod(fd, st.st_mode & ~0222u);
  }
  if (flags & (0x20 | 0x02 | 0x04)) {
    // The Samba convention: the DOS attribute byte as text.
    char value[8];
    int n = std::snprintf(value, sizeof value, "0x%x", flags & (0x20 | 0x02 | 0x04));
    ::fsetxattr(fd, "user.DOSATTRIB", value, static_cast<size_t>(n), 0);
  }
}

std::string KeptPathOf(const std::string& volume_folder) {
  std::string folder;
  size_t start = 0;
  while (start < volume_folder.size()) {
    size_t end = volume_folder.find('/', start);
    if (end == std::string::npos) end = volume_folder.size();
    std::string component = volume_folder.substr(start, end - start);
    if (component == "." || component == "..") component = "_";
    if (!component.empty()) folder += component + "/";
    start = end + 1;
  }
  return folder;
}

}  // namespace kestrel
