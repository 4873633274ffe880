#include "platform/settings_store.h"

// Placeholder until the .reg store lands: behaves as an empty, unwritable store.
namespace kestrel {
std::string SettingsStore::DefaultPath() { return {}; }
bool SettingsStore::KeyExists() { return false; }
bool SettingsStore::CreateKey() { return false; }
std::optional<std::string> SettingsStore::GetString(const std::string&) { return std::nullopt; }
std::optional<std::vector<uint8_t>> SettingsStore::GetBinary(const std::string&) { return std::nullopt; }
std::optional<uint8_t> SettingsStore::GetByte(const std::string&) { return std::nullopt; }
bool SettingsStore::SetString(const std::string&, const std::string&) { return false; }
bool SettingsStore::SetBinary(const std::string&, const std::vector<uint8_t>&) { return false; }
bool SettingsStore::DeleteValue(const std::string&) { return false; }
std::string SettingsStore::TakeCorruptionNotice() { return std::move(corruption_notice_); }
}  // namespace kestrel
