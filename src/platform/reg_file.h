#pragma once
// The text of a ".reg" file ("Windows Registry Editor Version 5.00"), parsed into keys and values
// and written back. Knows strings ("name"="text"), binary values (hex:01,02), DWORDs
// (dword:00000001) and other typed hex values (hex(N):..), which are kept as they are.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

inline constexpr std::string_view kRegFileHeader = "Windows Registry Editor Version 5.00";

struct RegValue {
  enum class Type { kString, kBinary, kDword, kTypedHex };
  std::string name;  // "" is the key's default value (written as @)
  Type type = Type::kString;
  std::string text;            // kString
  std::vector<uint8_t> bytes;  // kBinary, kTypedHex; kDword as 4 little-endian bytes
  int hex_type = 0;            // N of hex(N):
};

struct RegKey {
  std::string name;
  std::vector<RegValue> values;

  // Value names compare without regard to ASCII case, as the registry's do.
  const RegValue* Find(std::string_view value_name) const;
  void Set(RegValue value);
  bool Erase(std::string_view value_name);
};

struct RegFile {
  std::vector<RegKey> keys;

  // Key names compare without regard to ASCII case.
  const RegKey* FindKey(std::string_view key_name) const;
  RegKey* FindKey(std::string_view key_name);
  RegKey& FindOrAddKey(std::string_view key_name);
};

struct RegParseResult {
  std::optional<RegFile> file;  // empty when the text is not a valid .reg file
  int error_line = 0;           // 1-based line of the first fault
  std::string error;
};

// Parses the text of a file. Blank or empty text is an empty file; anything else must start with
// the header line. "[-key]" and "name"=- remove what they name, as an import would.
RegParseResult ParseRegFile(std::string_view text);

// The file's text: the header, then every key with its values; "\n" line ends.
std::string SerializeRegFile(const RegFile& file);

// Backslash and double quote escaped with a backslash, as regedit writes names and strings.
std::string EscapeRegString(std::string_view text);

}  // namespace kestrel
