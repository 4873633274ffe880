#pragma once
// The settings store: one key of named values kept in a text file in the ".reg" format
// ("Windows Registry Editor Version 5.00"). Every read loads the file; every write loads it,
// changes one value and saves it atomically under a file lock, so that the window and the
// command line never lose each other's writes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

// The key every setting of the program lives under.
inline constexpr const char* kSettingsKey =
    "HKEY_LOCAL_MACHINE\\Software\\Quillmark\\Kestrel V3\\Settings";

class SettingsStore {
 public:
  // $KESTREL_REGISTRY, else $XDG_CONFIG_HOME/kestrel/registry.reg, else
  // ~/.config/kestrel/registry.reg.
  static std::string DefaultPath();

  explicit SettingsStore(std::string path) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }

  // Whether the settings key exists (the file exists and holds the key).
  bool KeyExists();
  // Creates the key (and the file and its folder) when missing. False when it cannot.
  bool CreateKey();

  std::optional<std::string> GetString(const std::string& name);
  std::optional<std::vector<uint8_t>> GetBinary(const std::string& name);
  // First byte of a binary value.
  std::optional<uint8_t> GetByte(const std::string& name);

  // Writes create the key when needed. False when the file cannot be written.
  bool SetString(const std::string& name, const std::string& value);
  bool SetBinary(const std::string& name, const std::vector<uint8_t>& value);
  bool SetByte(const std::string& name, uint8_t value) { return SetBinary(name, {value}); }
  bool DeleteValue(const std::string& name);

  // Set when the file was found corrupt: the path it was moved aside to. Cleared by the caller.
  std::string TakeCorruptionNotice();

 private:
  std::string path_;
  std::string corruption_notice_;
  friend class SettingsFile;
};

}  // namespace kestrel
