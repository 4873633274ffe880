#include "platform/settings_store.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <utility>

#include "platform/atomic_file.h"
#include "platform/reg_file.h"

namespace kestrel {
namespace {

// Settings files are a few hundred bytes; anything far larger is not one.
constexpr size_t kMaxSettingsFileBytes = 16 * 1024 * 1024;

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string HomeFolder() {
  std::string home = EnvOrEmpty("HOME");
  if (!home.empty()) return home;
  const passwd* entry = ::getpwuid(::getuid());
  return entry && entry->pw_dir ? entry->pw_dir : "/";
}

// "-YYYYMMDD-HHMMSS" of the local time, for the name a corrupt file is moved aside to.
std::string CorruptSuffix() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, ".corrupt-%Y%m%d-%H%M%S", &local);
  return stamp;
}

// A line break or NUL would end the value's line in the file and break it.
bool FitsOnOneLine(const std::string& text) {
  return text.find_first_of(std::string("\n\r\0", 3)) == std::string::npos;
}

}  // namespace

// Loading and saving the file behind a SettingsStore.
class SettingsFile {
 public:
  explicit SettingsFile(SettingsStore& store) : store_(store) {}

  // The file's contents for a read: empty when the file is missing or was corrupt (it is then
  // moved aside first); nothing when it cannot be read.
  std::optional<RegFile> LoadForRead() {
    Loaded loaded = Load();
    if (loaded.state != State::kCorrupt) return std::move(loaded.file);
    // Make sure of the fault under the writers' lock before moving the file away: a writer
    // might have replaced it in the meantime.
    auto lock = ExclusiveFileLock::Acquire(LockPath());
    if (!lock) return std::nullopt;
    return LoadLocked();
  }

  // Applies `change` to the file under the lock and saves it atomically. `change` returns
  // whether it changed anything; nothing is written when it did not.
  bool Modify(const std::function<bool(RegFile&)>& change) {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::path(store_.path_).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    auto lock = ExclusiveFileLock::Acquire(LockPath());
    if (!lock) return false;
    std::optional<RegFile> file = LoadLocked();
    if (!file) return false;
    if (!change(*file)) return true;
    return ReplaceFileAtomically(store_.path_, SerializeRegFile(*file)) == 0;
  }

 private:
  enum class State { kOk, kCorrupt, kUnreadable };
  struct Loaded {
    State state = State::kOk;
    std::optional<RegFile> file;
  };

  std::string LockPath() const { return store_.path_ + ".lock"; }

  Loaded Load() {
    std::string text;
    switch (ReadWholeFile(store_.path_, kMaxSettingsFileBytes, &text)) {
      case ReadFileStatus::kMissing:
        return {State::kOk, RegFile{}};
      case ReadFileStatus::kFailed:
        return {State::kUnreadable, std::nullopt};
      case ReadFileStatus::kTooLarge:
        return {State::kCorrupt, std::nullopt};
      case ReadFileStatus::kOk:
        break;
    }
    RegParseResult parsed = ParseRegFile(text);
    if (!parsed.file) return {State::kCorrupt, std::nullopt};
    return {State::kOk, std::move(parsed.file)};
  }

  // Load() for a caller that holds the lock: a corrupt file is moved aside and the store
  // starts empty. When it cannot be moved, nothing is read or written, so it is never lost.
  std::optional<RegFile> LoadLocked() {
    Loaded loaded = Load();
    if (loaded.state != State::kCorrupt) return std::move(loaded.file);
    std::string moved_to = MoveAsideToFreeName(store_.path_, CorruptSuffix());
    if (moved_to.empty()) return std::nullopt;
    store_.corruption_notice_ = moved_to;
    return RegFile{};
  }

  SettingsStore& store_;
};

namespace {

std::optional<RegValue> ReadValue(SettingsStore& store, const std::string& name) {
  std::optional<RegFile> file = SettingsFile(store).LoadForRead();
  if (!file) return std::nullopt;
  const RegKey* key = file->FindKey(kSettingsKey);
  if (!key) return std::nullopt;
  const RegValue* value = key->Find(name);
  if (!value) return std::nullopt;
  return *value;
}

bool WriteValue(SettingsStore& store, RegValue value) {
  return SettingsFile(store).Modify([&](RegFile& file) {
    file.FindOrAddKey(kSettingsKey).Set(std::move(value));
    return true;
  });
}

}  // namespace

std::string SettingsStore::DefaultPath() {
  std::string explicit_path = EnvOrEmpty("KESTREL_REGISTRY");
  if (!explicit_path.empty()) return explicit_path;
  std::string config = EnvOrEmpty("XDG_CONFIG_HOME");
  // Relative XDG paths are invalid and ignored, as the XDG rules ask.
  if (config.empty() || config.front() != '/') config = HomeFolder() + "/.config";
  return config + "/kestrel/registry.reg";
}

bool SettingsStore::KeyExists() {
  std::optional<RegFile> file = SettingsFile(*this).LoadForRead();
  return file && file->FindKey(kSettingsKey) != nullptr;
}

bool SettingsStore::CreateKey() {
  if (KeyExists()) return true;
  return SettingsFile(*this).Modify([](RegFile& file) {
    if (file.FindKey(kSettingsKey)) return false;
    file.FindOrAddKey(kSettingsKey);
    return true;
  });
}

std::optional<std::string> SettingsStore::GetString(const std::string& name) {
  std::optional<RegValue> value = ReadValue(*this, name);
  if (!value || value->type != RegValue::Type::kString) return std::nullopt;
  return value->text;
}

std::optional<std::vector<uint8_t>> SettingsStore::GetBinary(const std::string& name) {
  std::optional<RegValue> value = ReadValue(*this, name);
  if (!value || value->type == RegValue::Type::kString) return std::nullopt;
  return value->bytes;
}

std::optional<uint8_t> SettingsStore::GetByte(const std::string& name) {
  std::optional<std::vector<uint8_t>> bytes = GetBinary(name);
  if (!bytes || bytes->empty()) return std::nullopt;
  return bytes->front();
}

bool SettingsStore::SetString(const std::string& name, const std::string& value) {
  if (!FitsOnOneLine(name) || !FitsOnOneLine(value)) return false;
  RegValue entry;
  entry.name = name;
  entry.type = RegValue::Type::kString;
  entry.text = value;
  return WriteValue(*this, std::move(entry));
}

bool SettingsStore::SetBinary(const std::string& name, const std::vector<uint8_t>& value) {
  if (!FitsOnOneLine(name)) return false;
  RegValue entry;
  entry.name = name;
  entry.type = RegValue::Type::kBinary;
  entry.bytes = value;
  return WriteValue(*this, std::move(entry));
}

bool SettingsStore::DeleteValue(const std::string& name) {
  bool found = false;
  bool written = SettingsFile(*this).Modify([&](RegFile& file) {
    RegKey* key = file.FindKey(kSettingsKey);
    found = key != nullptr && key->Erase(name);
    return found;
  });
  return written && found;
}

std::string SettingsStore::TakeCorruptionNotice() {
  return std::exchange(corruption_notice_, {});
}

}  // namespace kestrel
