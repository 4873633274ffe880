// Sanity checks of the committed sample files (tests/fixtures/samples): each is there and small,
// its first sector starts the signature row it is meant for and no other sector starts a file, and
// the length fields or end sequences that the carving rules use lead exactly to its end. The end
// rules are followed here sector by sector as the scan applies them, with zero bytes after the
// file.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string_view>

#include "support/fixture_samples.h"
#include "support/signature_probe.h"
#include "support/temp_dir.h"

namespace kestrel::testing {
namespace {

constexpr size_t kSector = 512;

// A sample followed by zero bytes to the end of its last sector and one more zero sector, as the
// scan sees it in an image built with zero filler.
struct Padded {
  std::vector<uint8_t> bytes;
  size_t size = 0;  // of the sample itself

  explicit Padded(std::vector<uint8_t> sample) : bytes(std::move(sample)), size(bytes.size()) {
    bytes.resize((size + kSector - 1) / kSector * kSector + kSector, 0);
  }
  size_t sectors() const { return (size + kSector - 1) / kSector; }
  std::span<const uint8_t> Sector(size_t index) const {
    return std::span<const uint8_t>(bytes).subspan(index * kSector, kSector);
  }
  bool Is(size_t at, std::string_view text) const {
    return at + text.size() <= bytes.size() &&
           std::memcmp(&bytes[at], text.data(), text.size()) == 0;
  }
  uint16_t Le16(size_t i) const { return static_cast<uint16_t>(bytes[i] | bytes[i + 1] << 8); }
  uint16_t Be16(size_t i) const { return static_cast<uint16_t>(bytes[i] << 8 | bytes[i + 1]); }
  uint32_t Le32(size_t i) const { return uint32_t{Le16(i)} | uint32_t{Le16(i + 2)} << 16; }
  uint32_t Be32(size_t i) const { return uint32_t{Be16(i)} << 16 | Be16(i + 2); }
  // First occurrence of `text` starting at or after `from` and before the end of the sample's
  // last sector; nullopt when none.
  std::optional<size_t> Find(std::string_view text, size_t from = 0) const {
    for (size_t i = from; i < sectors() * kSector; ++i) {
      if (Is(i, text)) return i;
    }
    return std::nullopt;
  }
};

Padded Load(std::string_view file) {
  return Padded(ReadFixtureSample(file));
}

std::string_view Bytes(const char* text, size_t n) {
  return std::string_view(text, n);
}

// Rows whose guard is the open flag of their own type: a later sector of the same file that
// matches them again does not start a new file.
bool SelfGuarded(int row) {
  static const std::set<int> rows{3, 4, 10, 16, 17, 18, 19, 22, 25, 26, 27, 28, 29, 33};
  return rows.count(row) != 0;
}

// ---------------------------------------------------------------------------------------------
// Presence, size, signatures

TEST(SampleFiles, AreAllPresentSmallAndListed) {
  uint64_t total = 0;
  std::set<std::string> listed;
  for (const auto& sample : FixtureSamples()) {
    SCOPED_TRACE(std::string(sample.file));
    std::vector<uint8_t> bytes = ReadFixtureSample(sample.file);
    EXPECT_LE(bytes.size(), 32u * 1024);
    total += bytes.size();
    listed.insert(std::string(sample.file));
  }
  EXPECT_LT(total, 512u * 1024);
  for (const auto& name : ListFiles(FixtureSamplesDir())) {
    if (name == "README.md") continue;
    EXPECT_TRUE(listed.count(name)) << name << " is not in the catalogue";
  }
}

TEST(SampleFiles, FirstSectorStartsItsOwnRow) {
  for (const auto& sample : FixtureSamples()) {
    Padded p = Load(sample.file);
    EXPECT_EQ(FirstSignatureRow(p.Sector(0)), sample.row) << sample.file;
  }
}

TEST(SampleFiles, NoLaterSectorStartsAFile) {
  for (const auto& sample : FixtureSamples()) {
    Padded p = Load(sample.file);
    for (size_t s = 1; s <= p.sectors(); ++s) {
      for (int row : MatchingSignatureRows(p.Sector(s))) {
        bool own = row == sample.row && SelfGuarded(row);
        EXPECT_TRUE(own) << sample.file << " sector " << s << " matches row " << row;
      }
    }
  }
}

TEST(SignatureProbe, KnowsRowsThatNoSampleCovers) {
  auto row_of = [](std::string_view head) {
    std::vector<uint8_t> sector(kSector, 0);
    std::copy(head.begin(), head.end(), sector.begin());
    return FirstSignatureRow(sector);
  };
  EXPECT_EQ(row_of(Bytes("II*\0\x08\0\0\0", 8)), 9);
  EXPECT_EQ(row_of(Bytes("MM\0*\0\0\0\x08", 8)), 9);
  EXPECT_EQ(row_of(Bytes("II*\0\x04\0\0\0", 8)), 0);  // first IFD inside the header
  EXPECT_EQ(row_of("PK\x03\x04"), 12);
  EXPECT_EQ(row_of(Bytes("\0\0\0\x20moov", 8)), 13);
  EXPECT_EQ(row_of("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"), 34);
  EXPECT_EQ(row_of(Bytes("RIFF\0\0\0\0WAVE", 12)), 0);       // zero size starts neither AVI nor WAV
  EXPECT_EQ(row_of(Bytes("ID3\x04\0\0\0\0\x80\0", 10)), 0);  // size byte not syncsafe
}

// ---------------------------------------------------------------------------------------------
// Lengths stated in the header

// The total length that the row's start values give (rows with a fixed-length copy).
std::optional<uint64_t> StatedLength(int row, const Padded& p) {
  switch (row) {
    case 1:
      return uint64_t{p.Be32(4)} + 8;
    case 2:
      return p.Le32(2);
    case 3:
    case 4:
      return uint64_t{p.Le32(4)} + 8;
    case 5:
    case 6: {
      uint64_t n = p.Le16(4), sizes = 0;
      for (uint64_t e = 0; e < n; ++e) sizes += p.Le32(6 + 16 * e + 8);
      return sizes + 16 * n + 6;
    }
    case 11:
      return uint64_t{p.Be32(4)} + p.Be32(8);  // data offset + data size
    case 18:
      return 2 * uint64_t{p.Le32(28)} + 22;
    case 19:
      return 2 * uint64_t{p.Le32(6)};
    case 20:
      return p.Le32(70) != 0 ? p.Le32(70) : p.Le32(152);
    case 25:
      for (size_t i = 8; i + 16 <= kSector; ++i) {
        if (p.bytes[i] != 0xFF || p.bytes[i + 1] != 0xD8) continue;
        if (p.Is(i + 12, "MM") && p.Be16(i + 14) == 42)
          return uint64_t{p.Be32(i - 4)} + p.Be32(i - 8);
        if (p.Is(i + 12, "II") && p.Le16(i + 14) == 42)
          return uint64_t{p.Le32(i - 4)} + p.Le32(i - 8);
      }
      return std::nullopt;
    case 27: {
      std::optional<size_t> mark = p.Find(Bytes("MM\0*", 4));
      if (!mark || *mark >= kSector) return std::nullopt;  // the samples use the big-endian form
      uint32_t k = p.Be32(12);
      uint64_t x0 = p.Be16(k), x1 = p.Be16(k + 2), m = p.bytes[k + 8];
      uint64_t raw = m == 16 ? x0 * x1 * 2 : m == 12 ? x0 * x1 / 2 + x0 * x1 + 65536 : 0;
      return raw + p.Be16(6) + 8;
    }
    case 28:
      return uint64_t{p.Be32(156)} + 1024;
    case 29:
      return 32768;
    case 31:
      return p.Le32(168);
    default:
      return std::nullopt;
  }
}

TEST(SampleFiles, StatedLengthIsTheFileSize) {
  int checked = 0;
  for (const auto& sample : FixtureSamples()) {
    Padded p = Load(sample.file);
    std::optional<uint64_t> length = StatedLength(sample.row, p);
    if (!length) continue;
    EXPECT_EQ(*length, p.size) << sample.file;
    ++checked;
  }
  EXPECT_EQ(checked, 15);
}

TEST(SampleFiles, SunAudioDataSizeAloneMissesTheHeader) {
  Padded p = Load("tone.snd");
  EXPECT_EQ(p.Be32(4), 40u);  // header with an annotation
  EXPECT_EQ(p.Be32(8), p.size - 40);
}

// ---------------------------------------------------------------------------------------------
// End sequences

TEST(SampleFiles, FirstEndSequenceEndsTheFile) {
  struct Case {
    std::string_view file;
    std::string_view end;
    size_t written_after_start;
  };
  const Case cases[] = {
      {"clip.mpg", Bytes("\0\0\x01\xB9", 4), 4},
      {"playlist.asx", "</ASX>", 6},
      {"picture.png", "IEND\xAE\x42\x60\x82", 8},
      {"fragment.doc", "\xF4\x39\xB2\x71", 4},
  };
  for (const auto& c : cases) {
    Padded p = Load(c.file);
    std::optional<size_t> at = p.Find(c.end);
    ASSERT_TRUE(at) << c.file;
    EXPECT_EQ(*at + c.written_after_start, p.size) << c.file;
  }
}

TEST(SampleFiles, Mp3EndsAtItsId3v1Tag) {
  Padded p = Load("tone.mp3");
  auto text_or_zero = [](uint8_t b) { return b == 0 || (b >= 0x20 && b < 0x7F); };
  std::optional<size_t> end;
  for (size_t from = 0; !end;) {
    std::optional<size_t> tag = p.Find("TAG", from);
    ASSERT_TRUE(tag);
    if (std::all_of(&p.bytes[*tag + 3], &p.bytes[*tag + 32], text_or_zero)) end = *tag + 128;
    from = *tag + 1;
  }
  EXPECT_EQ(*end, p.size);
}

TEST(SampleFiles, PdfEndsAtEofMarkerAndOneLineEnd) {
  Padded p = Load("document.pdf");
  uint32_t skips = 0;
  std::optional<size_t> end;
  for (size_t from = 0; !end;) {
    std::optional<size_t> at = p.Find("%%EOF", from);
    ASSERT_TRUE(at);
    if (skips != 1 && p.bytes[*at + 7] == ' ' && p.bytes[*at + 8] == ' ') {
      ++skips;
    } else {
      end = *at + 6;
    }
    from = *at + 1;
  }
  EXPECT_EQ(*end, p.size);
  EXPECT_EQ(p.bytes[p.size - 1], '\n');
}

// JPEG (not JFIF) and GIF: the first end marker of each sector moves the end; the last one seen
// wins.
size_t PictureEnd(const Padded& p, std::string_view marker, int* sectors_with_marker) {
  size_t end = 0;
  *sectors_with_marker = 0;
  for (size_t s = 0; s <= p.sectors(); ++s) {
    for (size_t i = 0; i < kSector; ++i) {
      if (p.Is(s * kSector + i, marker)) {
        end = s * kSector + i + 2;
        ++*sectors_with_marker;
        break;
      }
    }
  }
  return end;
}

TEST(SampleFiles, PictureEndIsTheLastSectorsFirstMarker) {
  int marked = 0;
  Padded gif = Load("picture.gif");
  EXPECT_EQ(PictureEnd(gif, Bytes("\0;", 2), &marked), gif.size);
  Padded plain = Load("plain.jpg");
  EXPECT_EQ(PictureEnd(plain, "\xFF\xD9", &marked), plain.size);
  Padded exif = Load("exif.jpg");
  EXPECT_EQ(PictureEnd(exif, "\xFF\xD9", &marked), exif.size);
  EXPECT_EQ(marked, 2) << "the thumbnail's EOI lies in an earlier sector than the main EOI";
}

TEST(SampleFiles, ExifJpegCarriesItsThumbnailInApp1) {
  Padded p = Load("exif.jpg");
  EXPECT_TRUE(p.Is(0, "\xFF\xD8\xFF\xE1"));
  EXPECT_TRUE(p.Is(6, Bytes("Exif\0\0MM\0*", 10)));
  EXPECT_NE(p.Be16(4), 0x3845) << "APP1 length of the ORF pattern of row 9";
  std::optional<size_t> thumbnail = p.Find("\xFF\xD8", 2);
  ASSERT_TRUE(thumbnail);
  EXPECT_LT(*thumbnail, 4u + p.Be16(4));
}

TEST(SampleFiles, JfifSegmentWalkReachesTheEnd) {
  Padded p = Load("jfif.jpg");
  size_t at = 2;
  while (!p.Is(at, "\xFF\xDA")) {
    ASSERT_EQ(p.bytes[at], 0xFF) << "marker expected at " << at;
    at += 2 + p.Be16(at + 2);
    ASSERT_LT(at, p.size);
  }
  std::optional<size_t> eoi = p.Find("\xFF\xD9", at);
  ASSERT_TRUE(eoi);
  EXPECT_EQ(*eoi + 2, p.size);
}

// ---------------------------------------------------------------------------------------------
// Walks: MIDI tracks, CRW root directory, X3F directory, RTF trailer

TEST(SampleFiles, MidiEndsRightAfterItsLastTrack) {
  Padded p = Load("song.mid");
  uint16_t tracks = p.Be16(10);
  uint32_t tracks_left = tracks == 0xFFFF ? 1 : 1u + tracks;
  uint32_t track_length = 0, track_left = 0;
  std::optional<size_t> end;
  for (size_t s = 0; s <= p.sectors() && !end; ++s) {
    for (size_t i = 0; i < kSector && !end; ++i) {
      size_t at = s * kSector + i;
      if (p.Is(at, "MTrk")) {
        track_length = p.Be32(at + 4);
        track_left = track_length + 8;
        if (--tracks_left == 0) end = at;
      }
      if (!end && track_left == 0 && tracks_left == 1) end = at;
      if (track_length != 0) --track_left;
    }
  }
  ASSERT_TRUE(end);
  EXPECT_EQ(*end, p.size);
  EXPECT_EQ(tracks, 2);
}

TEST(SampleFiles, CrwRootDirectoryIsFoundInsideOneSector) {
  Padded p = Load("camera.crw");
  uint64_t written = 0;
  std::optional<size_t> end;
  for (size_t s = 0; s < p.sectors() && !end; ++s) {
    for (size_t i = 0; i < kSector && !end; ++i) {
      size_t at = s * kSector + i;
      if (p.Le16(at) == 0x2005 && p.Le32(at + 6) == 0 && p.Le32(at + 2) < written) {
        ASSERT_GE(i, 2u) << "record count in the previous sector";
        size_t e = i + 10 * size_t{p.Le16(at - 2)} + 4;
        EXPECT_LT(e, kSector) << "directory crosses the sector end";
        end = s * kSector + e;
      }
    }
    written += kSector;
  }
  ASSERT_TRUE(end);
  EXPECT_EQ(*end, p.size);
}

TEST(SampleFiles, X3fEndsAfterItsDirectory) {
  Padded p = Load("camera.x3f");
  std::optional<size_t> end;
  for (size_t s = 0; s < p.sectors() && !end; ++s) {
    for (size_t i = 0; i < kSector && !end; ++i) {
      size_t at = s * kSector + i;
      if (!p.Is(at, "SECd")) continue;
      size_t e = i + 12 * size_t{p.Le32(at + 8)} + 16;
      EXPECT_LE(e, kSector) << "directory crosses the sector end";
      end = s * kSector + std::min(e, 2 * kSector);
    }
  }
  ASSERT_TRUE(end);
  EXPECT_EQ(*end, p.size);
}

// The RTF trailer rule: a closing pattern followed by zero bytes up to the 16th byte from its start
// ends the file; the bytes written count the pattern length again when the pattern lies in the
// sector where the end is found.
TEST(SampleFiles, RtfEndsWithZeroBytesAfterItsClosingPattern) {
  Padded p = Load("document.rtf");
  const FixtureSample& sample = FixtureSampleNamed("document.rtf");
  bool trailer = false;
  uint32_t count = 0, pattern_length = 0;
  size_t pattern_sector = 0;
  std::optional<size_t> written;
  for (size_t s = 0; s <= p.sectors() && !written; ++s) {
    for (size_t i = 0; i < kSector && !written; ++i) {
      size_t at = s * kSector + i;
      if (count >= 16) {
        written = s * kSector + i + (s == pattern_sector ? pattern_length : 0);
      } else if (trailer) {
        uint32_t length_here = s == pattern_sector ? pattern_length : 0;
        if (count < length_here || p.bytes[at] == 0) {
          ++count;
        } else {
          trailer = false;
          count = 0;
        }
      } else if (p.Is(at, "\\par }}") || p.Is(at, "\\par }") || p.Is(at, "b\\\n\\\n}")) {
        trailer = true;
        count = 1;
        pattern_length = p.Is(at, "\\par }}") ? 7 : 6;
        pattern_sector = s;
      }
    }
  }
  ASSERT_TRUE(written);
  EXPECT_EQ(p.Find("\\par }").value_or(0), p.size - 7) << "one closing pattern, at the very end";
  EXPECT_GT(*written, p.size);
  EXPECT_LE(*written, p.size + sample.max_extra_zeros);
  EXPECT_LE(*written, p.sectors() * kSector) << "the trailer stays inside the last sector";
}

}  // namespace
}  // namespace kestrel::testing
