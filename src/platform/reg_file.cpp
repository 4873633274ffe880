#include "platform/reg_file.h"
#include "platform/text_trim.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace kestrel {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) {
      return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return lower(x) == lower(y);
  });
}

// Lines of this file are trimmed of blanks and a CR, not of other line ends.
std::string_view TrimLine(std::string_view text) {
  return Trim(text, " \t\r");
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted string starting at text[*pos] == '"'; leaves *pos after the closing quote.
std::optional<std::string> ReadQuoted(std::string_view text, size_t* pos) {
  std::string out;
  size_t i = *pos + 1;
  while (i < text.size()) {
    char c = text[i];
    if (c == '"') {
      *pos = i + 1;
      return out;
    }
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
      out += text[i + 1];
      i += 2;
      continue;
    }
    out += c;  // a lone backslash before any other character stays as written
    ++i;
  }
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> ParseHexList(std::string_view list) {
  std::vector<uint8_t> bytes;
  list = TrimLine(list);
  if (list.empty()) return bytes;
  size_t start = 0;
  while (true) {
    size_t comma = list.find(',', start);
    std::string_view item = TrimLine(list.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (item.size() != 2 || HexDigit(item[0]) < 0 || HexDigit(item[1]) < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(HexDigit(item[0]) * 16 + HexDigit(item[1])));
    if (comma == std::string_view::npos) return bytes;
    start = comma + 1;
  }
}

std::optional<uint32_t> ParseDword(std::string_view digits) {
  digits = TrimLine(digits);
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (char c : digits) {
    int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    value = value * 16 + static_cast<uint32_t>(d);
  }
  return value;
}

std::string HexList(const std::vector<uint8_t>& bytes) {
  std::string out;
  char item[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(item, sizeof item, i == 0 ? "%02x" : ",%02x", bytes[i]);
    out += item;
  }
  return out;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") text_.remove_prefix(3);
  }

  RegParseResult Run() {
    RegFile file;
    bool header_seen = false;
    RegKey* key = nullptr;
    bool key_removed = false;
    std::string_view line;
    while (NextLine(&line)) {
      line = TrimLine(line);
      if (line.empty() || line.front() == ';') continue;
      if (!header_seen) {
        if (line != kRegFileHeader)
          return Fail("the first line is not \"" + std::string(kRegFileHeader) + "\"");
        header_seen = true;
      } else if (line.front() == '[') {
        if (line.back() != ']' || line.size() < 3) return Fail("a key line must read [key]");
        std::string_view name = line.substr(1, line.size() - 2);
        key_removed = name.front() == '-';
        if (key_removed) {
          RemoveKey(&file, name.substr(1));
          key = nullptr;
        } else {
          key = &file.FindOrAddKey(name);
        }
      } else if (line.front() == '"' || line.front() == '@') {
        if (key == nullptr && !key_removed) return Fail("a value before any key");
        std::optional<RegValue> value;
        bool erase = false;
        if (!ParseValueLine(line, &value, &erase)) return Fail(error_);
        if (key == nullptr) continue;  // values of a removed key are dropped with it
        if (erase) {
          key->Erase(value->name);
        } else {
          key->Set(std::move(*value));
        }
      } else {
        return Fail("a line that is neither a key nor a value");
      }
    }
    RegParseResult result;
    result.file = std::move(file);
    return result;
  }

 private:
  bool NextLine(std::string_view* line) {
    if (pos_ >= text_.size()) return false;
    size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    *line = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    ++line_number_;
    return true;
  }

  RegParseResult Fail(std::string why) {
    RegParseResult result;
    result.error_line = line_number_;
    result.error = std::move(why);
    return result;
  }

  static void RemoveKey(RegFile* file, std::string_view name) {
    std::erase_if(file->keys, [&](const RegKey& k) { return EqualsIgnoringCase(k.name, name); });
  }

  bool ParseValueLine(std::string_view line, std::optional<RegValue>* out, bool* erase) {
    RegValue value;
    size_t pos = 1;
    if (line.front() == '"') {
      pos = 0;
      std::optional<std::string> name = ReadQuoted(line, &pos);
      if (!name) return Error("a value name without its closing quote");
      value.name = std::move(*name);
    }
    std::string_view rest = TrimLine(line.substr(pos));
    if (rest.empty() || rest.front() != '=') return Error("a value without \"=\"");
    rest = TrimLine(rest.substr(1));
    *erase = rest == "-";
    if (!*erase && !ParseData(rest, &value)) return false;
    *out = std::move(value);
    return true;
  }

  bool ParseData(std::string_view data, RegValue* value) {
    if (!data.empty() && data.front() == '"') {
      size_t pos = 0;
      std::optional<std::string> text = ReadQuoted(data, &pos);
      if (!text) return Error("a string without its closing quote");
      if (!TrimLine(data.substr(pos)).empty()) return Error("text after a string's closing quote");
      value->type = RegValue::Type::kString;
      value->text = std::move(*text);
      return true;
    }
    if (data.substr(0, 6) == "dword:") {
      std::optional<uint32_t> number = ParseDword(data.substr(6));
      if (!number) return Error("a dword that is not 1 to 8 hexadecimal digits");
      value->type = RegValue::Type::kDword;
      for (int i = 0; i < 4; ++i) value->bytes.push_back(static_cast<uint8_t>(*number >> (8 * i)));
      return true;
    }
    return ParseHexData(data, value);
  }

  bool ParseHexData(std::string_view data, RegValue* value) {
    size_t colon = data.find(':');
    if (colon == std::string_view::npos) return Error("unknown value data");
    std::string_view type = data.substr(0, colon);
    if (type == "hex") {
      value->type = RegValue::Type::kBinary;
    } else if (type.size() > 5 && type.substr(0, 4) == "hex(" && type.back() == ')') {
      std::optional<uint32_t> n = ParseDword(type.substr(4, type.size() - 5));
      if (!n) return Error("a hex(N) type that is not hexadecimal");
      value->type = RegValue::Type::kTypedHex;
      value->hex_type = static_cast<int>(*n);
    } else {
      return Error("unknown value data");
    }
    // Long hex lists continue on the next lines after a trailing backslash.
    std::string list(TrimLine(data.substr(colon + 1)));
    std::string_view next;
    while (!list.empty() && list.back() == '\\') {
      list.pop_back();
      if (!NextLine(&next)) return Error("a continued hex list at the end of the file");
      list += TrimLine(next);
    }
    std::optional<std::vector<uint8_t>> bytes = ParseHexList(list);
    if (!bytes) return Error("a hex list that is not two-digit bytes separated by commas");
    value->bytes = std::move(*bytes);
    return true;
  }

  bool Error(std::string why) {
    error_ = std::move(why);
    return false;
  }

  std::string_view text_;
  size_t pos_ = 0;
  int line_number_ = 0;
  std::string error_;
};

std::string SerializeValue(const RegValue& value) {
  std::string line = value.name.empty() ? "@" : "\"" + EscapeRegString(value.name) + "\"";
  line += '=';
  switch (value.type) {
    case RegValue::Type::kString:
      line += "\"" + EscapeRegString(value.text) + "\"";
      break;
    case RegValue::Type::kBinary:
      line += "hex:" + HexList(value.bytes);
      break;
    case RegValue::Type::kDword: {
      uint32_t number = 0;
      for (size_t i = 0; i < 4 && i < value.bytes.size(); ++i)
        number |= uint32_t{value.bytes[i]} << (8 * i);
      char digits[16];
      std::snprintf(digits, sizeof digits, "dword:%08x", number);
      line += digits;
      break;
    }
    case RegValue::Type::kTypedHex: {
      char type[24];
      std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.hex_type));
      line += type + HexList(value.bytes);
      break;
    }
  }
  return line;
}

}  // namespace

const RegValue* RegKey::Find(std::string_view value_name) const {
  for (const RegValue& value : values) {
    if (EqualsIgnoringCase(value.name, value_name)) return &value;
  }
  return nullptr;
}

void RegKey::Set(RegValue value) {
  for (RegValue& existing : values) {
    if (EqualsIgnoringCase(existing.name, value.name)) {
      value.name = existing.name;  // the stored spelling of the name is kept
      existing = std::move(value);
      return;
    }
  }
  values.push_back(std::move(value));
}

bool RegKey::Erase(std::string_view value_name) {
  return std::erase_if(
             values, [&](const RegValue& v) { return EqualsIgnoringCase(v.name, value_name); }) > 0;
}

const RegKey* RegFile::FindKey(std::string_view key_name) const {
  for (const RegKey& key : keys) {
    if (EqualsIgnoringCase(key.name, key_name)) return &key;
  }
  return nullptr;
}

RegKey* RegFile::FindKey(std::string_view key_name) {
  return const_cast<RegKey*>(std::as_const(*this).FindKey(key_name));
}

RegKey& RegFile::FindOrAddKey(std::string_view key_name) {
  for (RegKey& key : keys) {
    if (EqualsIgnoringCase(key.name, key_name)) return key;
  }
  keys.push_back(RegKey{std::string(key_name), {}});
  return keys.back();
}

RegParseResult ParseRegFile(std::string_view text) {
  return Parser(text).Run();
}

std::string SerializeRegFile(const RegFile& file) {
  std::string out(kRegFileHeader);
  out += "\n\n";
  for (const RegKey& key : file.keys) {
    out += "[" + key.name + "]\n";
    for (const RegValue& value : key.values) out += SerializeValue(value) + "\n";
    out += "\n";
  }
  return out;
}

std::string EscapeRegString(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace kestrel
