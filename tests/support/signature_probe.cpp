#include "support/signature_probe.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <functional>
#include <string_view>

namespace kestrel::testing {
namespace {

constexpr size_t kSector = 512;
constexpr size_t kHeader = 172;

// One sector, zero-padded to 512 bytes, with the readers the rows need.
class Sector {
 public:
  explicit Sector(std::span<const uint8_t> bytes) {
    std::copy_n(bytes.begin(), std::min(bytes.size(), kSector), bytes_.begin());
  }

  uint8_t operator[](size_t i) const { return bytes_[i]; }
  bool Has(size_t offset, size_t length) const { return offset + length <= kSector; }
  uint16_t Le16(size_t i) const { return static_cast<uint16_t>(bytes_[i] | bytes_[i + 1] << 8); }
  uint16_t Be16(size_t i) const { return static_cast<uint16_t>(bytes_[i] << 8 | bytes_[i + 1]); }
  uint32_t Le32(size_t i) const { return uint32_t{Le16(i)} | uint32_t{Le16(i + 2)} << 16; }
  uint32_t Be32(size_t i) const { return uint32_t{Be16(i)} << 16 | Be16(i + 2); }
  bool Is(size_t i, std::string_view text) const {
    return std::memcmp(bytes_.data() + i, text.data(), text.size()) == 0;
  }
  // The header copy read as text from `from` to its first zero byte (or the header's end).
  bool HeaderContains(std::string_view needle, size_t from = 0) const {
    size_t end = from;
    while (end < kHeader && bytes_[end] != 0) ++end;
    std::string_view text(reinterpret_cast<const char*>(bytes_.data()) + from, end - from);
    return text.find(needle) != std::string_view::npos;
  }

 private:
  std::array<uint8_t, kSector> bytes_{};
};

// Rows 5 and 6: icon directory of `n` entries, none of them outside the sector.
bool IconDirectory(const Sector& s, uint16_t type) {
  if (s.Le16(0) != 0 || s.Le16(2) != type) return false;
  uint16_t n = s.Le16(4);
  if (n == 0 || s[9] != 0 || !s.Has(6, 16 * size_t{n})) return false;
  uint64_t sizes = 0;
  for (size_t e = 0; e < n; ++e) {
    size_t at = 6 + 16 * e;
    if (s[at] == 0 || s[at + 1] == 0 || s[at + 2] % 16 != 0 || s[at + 3] != 0) return false;
    sizes += s.Le32(at + 8);
  }
  return sizes != 0;
}

bool TiffMarkAt(const Sector& s, size_t i, bool* big_endian) {
  if (s.Is(i, "II") && s.Le16(i + 2) == 42) {
    *big_endian = false;
    return true;
  }
  if (s.Is(i, "MM") && s[i + 2] == 0 && s[i + 3] == 0x2A) {
    *big_endian = true;
    return true;
  }
  return false;
}

bool RawTiff(const Sector& s) {
  bool ii = s.Is(0, "II"), mm = s.Is(0, "MM");
  bool marked = (ii && s.Le16(2) == 42) || (mm && s[2] == 0 && s[3] == 0x2A) ||
                ((ii || mm) && (s.Is(2, "OR") || s.Is(2, "RS")));
  if (marked && s.Le32(4) >= 8) return true;
  return s.HeaderContains("\xFF\xD8\xFF\xE1\x38\x45\x45\x78\x69\x66");
}

bool KodakDc(const Sector& s) {
  if (!s.Is(0, "MM")) return false;
  const char* text = "kodak dc";
  for (size_t i = 0; i < 8; ++i) {
    if (std::tolower(s[470 + i]) != text[i]) return false;
  }
  return true;
}

bool Raf(const Sector& s) {
  if (!s.HeaderContains("FUJIFILMCCD-RAW")) return false;
  for (size_t i = 8; s.Has(i, 16); ++i) {
    bool big_endian = false;
    if (s[i] == 0xFF && s[i + 1] == 0xD8 && TiffMarkAt(s, i + 12, &big_endian)) return true;
  }
  return false;
}

bool Mrw(const Sector& s) {
  if (s[0] != 0 || !s.HeaderContains("MRM", 1) || s.Le16(6) == 0) return false;
  for (size_t i = 0; s.Has(i, 4); ++i) {
    bool big_endian = false;
    if (!TiffMarkAt(s, i, &big_endian)) continue;
    uint32_t k = big_endian ? s.Be32(12) : s.Le32(12);
    if (!s.Has(k, 9)) return false;
    auto value = [&](size_t at) { return big_endian ? s.Be16(at) : s.Le16(at); };
    return value(k + 4) < value(k) && value(k + 6) < value(k + 2);
  }
  return false;
}

bool PlaceableWmf(const Sector& s) {
  return s.Is(0, "\xD7\xCD\xC6\x9A") && s.Le16(4) == 0 && s.Le32(16) == 0 && s.Le16(22) == 1 &&
         s.Le16(24) == 9 && s.Le32(28) != 0 && s.Le16(38) == 0;
}

bool Id3(const Sector& s) {
  return s.Is(0, "ID3") && s[3] != 0xFF && s[4] != 0xFF && s[6] < 0x80 && s[7] < 0x80 &&
         s[8] < 0x80 && s[9] < 0x80;
}

using RowTest = std::function<bool(const Sector&)>;

const std::array<RowTest, kSignatureRowCount>& RowTests() {
  static const std::array<RowTest, kSignatureRowCount> rows{
      /* 1 */ [](const Sector& s) { return s.Is(0, "FORM"); },
      /* 2 */
      [](const Sector& s) {
        return s.Is(0, "BM") && s.Le32(2) != 0 && s.Le16(6) == 0 && s.Le16(8) == 0;
      },
      /* 3 */
      [](const Sector& s) { return s.Is(0, "RIFF") && s.Le32(4) != 0 && s.Is(8, "AVI LIST"); },
      /* 4 */ [](const Sector& s) { return s.Is(0, "RIFF") && s.Le32(4) != 0 && s.Is(8, "WAVE"); },
      /* 5 */ [](const Sector& s) { return IconDirectory(s, 2); },
      /* 6 */ [](const Sector& s) { return IconDirectory(s, 1); },
      /* 7 */ KodakDc,
      /* 8 */ [](const Sector&) { return false; },  // only when KDC is not selected
      /* 9 */ RawTiff,
      /* 10 */ [](const Sector& s) { return s.Is(0, "MThd"); },
      /* 11 */ [](const Sector& s) { return s.Is(0, ".snd"); },
      /* 12 */ [](const Sector& s) { return s.Is(0, "PK\x03\x04"); },
      /* 13 */
      [](const Sector& s) {
        return s.Is(4, "mdat") || s.Is(4, "moov") || s.Is(4, "free") || s.Is(4, "skip") ||
               s.Is(4, "wide");
      },
      /* 14 */ [](const Sector& s) { return s.Is(0, "GIF8"); },
      /* 15 */
      [](const Sector& s) { return s[0] == 0xFF && s[1] == 0xD8 && s.Is(6, "JFIF"); },
      /* 16 */ [](const Sector& s) { return s.Is(1, std::string_view("\x00\x01\xBA\x21", 4)); },
      /* 17 */ [](const Sector& s) { return s.Is(0, "%PDF"); },
      /* 18 */ PlaceableWmf,
      /* 19 */
      [](const Sector& s) {
        return s.Le16(0) == 1 && s.Le16(2) == 9 && s.Le32(6) != 0 && s.Le16(16) == 0;
      },
      /* 20 */ [](const Sector& s) { return s.Is(0, "\x30\x26\xB2\x75"); },
      /* 21 */ [](const Sector& s) { return s.Is(0, "<ASX") || s.Is(0, "<asx"); },
      /* 22 */ [](const Sector& s) { return s.Is(0, "\x89PNG"); },
      /* 23 */
      [](const Sector& s) { return s.Is(0, "\xD0\xCF\x11\xE0") && !s.Is(4, "\xA1\xB1\x1A\xE1"); },
      /* 24 */ [](const Sector& s) { return s.Is(0, "{\\rtf1"); },
      /* 25 */ Raf,
      /* 26 */
      [](const Sector& s) {
        return s.Le32(2) != 0 && (s.Is(0, "II") || s.Is(0, "MM")) && s.Is(6, "HEAPCCDR");
      },
      /* 27 */ Mrw,
      /* 28 */ [](const Sector& s) { return s.HeaderContains("MS_VOICE"); },
      /* 29 */
      [](const Sector& s) {
        return s.HeaderContains("MSGL") && s.Le32(8) == 0xFFFFFFFF && s.Le32(12) == 0xFFFFFFFF;
      },
      /* 30 */
      [](const Sector& s) {
        return s[0] == 0xFF && s[1] == 0xD8 && (s.Le16(2) & 0xDBFF) == 0xDBFF;
      },
      /* 31 */ [](const Sector& s) { return s.Is(0, "!BDN"); },
      /* 32 */ [](const Sector& s) { return s[0] == 0xFF && s[1] == 0xD8; },
      /* 33 */ [](const Sector& s) { return s.HeaderContains("FOVb"); },
      /* 34 */ [](const Sector& s) { return s.Is(0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"); },
      /* 35 */ Id3,
  };
  return rows;
}

}  // namespace

std::vector<int> MatchingSignatureRows(std::span<const uint8_t> sector) {
  Sector s(sector);
  std::vector<int> rows;
  const auto& tests = RowTests();
  for (size_t i = 0; i < tests.size(); ++i) {
    if (tests[i](s)) rows.push_back(static_cast<int>(i + 1));
  }
  return rows;
}

int FirstSignatureRow(std::span<const uint8_t> sector) {
  std::vector<int> rows = MatchingSignatureRows(sector);
  return rows.empty() ? 0 : rows.front();
}

}  // namespace kestrel::testing
