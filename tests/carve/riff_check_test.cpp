// The RIFF and IFF whole-file checks: AVIs ffmpeg writes, WAVs and AIFFs sox writes and the
// fixtures are whole; an AVI broken as fragmentation breaks files is not, nor a WAV or AIFF
// missing a block or cut short; OpenDML indexes must point at their chunks; hostile chunk trees
// end quickly; and a scan keeps a whole AVI but not one with foreign bytes inside.

#include "carve/formats/riff_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/broken_files.h"
#include "support/byte_strings.h"
#include "support/fixture_samples.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::Break;
using testing::CheckInSource;
using testing::Concat;
using testing::Le32Bytes;

// Four seconds of small video (with sound) in an AVI, by ffmpeg with `codecs`.
Bytes FfmpegAvi(const std::string& codecs) {
  return testing::MakeWithTool(
      "ffmpeg -v error -f lavfi -i testsrc=duration=4:size=64x48:rate=25 -f lavfi -i "
      "sine=duration=4 " +
      codecs + " -f avi out");
}

Bytes Chunk(const char* id, const Bytes& data) {
  Bytes chunk = Concat({testing::Bytes(id), Le32Bytes(static_cast<uint32_t>(data.size())), data});
  if (data.size() % 2 != 0) chunk.push_back(0);
  return chunk;
}
Bytes List(const char* type, const Bytes& body) {
  return Chunk("LIST", Concat({testing::Bytes(type), body}));
}
Bytes Le64Bytes(uint64_t v) {
  return Concat({Le32Bytes(static_cast<uint32_t>(v)), Le32Bytes(static_cast<uint32_t>(v >> 32))});
}

// An OpenDML AVI: a super index in the stream header pointing at the standard index "ix00" in
// the movie list, which points at its two frames, and an idx1 index of them too. The super
// index's entry is `super_entry`, the standard index's first size `indexed_size`.
Bytes OpenDmlAvi(uint64_t super_entry = 440, uint32_t indexed_size = 100) {
  // Offsets: the movie list at 260, its type at 268, the frames at 272 and 380, ix00 at 440.
  const Bytes super = Concat({{4, 0, 0, 0},
                              Le32Bytes(1),
                              testing::Bytes("00dc"),
                              Bytes(12, 0),
                              Le64Bytes(super_entry),
                              Le32Bytes(48),
                              Le32Bytes(2)});
  const Bytes header = List(
      "hdrl", Concat({Chunk("avih", Bytes(56, 0)),
                      List("strl", Concat({Chunk("strh", Bytes(56, 0)), Chunk("strf", Bytes(40, 0)),
                                           Chunk("indx", super)}))}));
  const Bytes standard = Concat({{2, 0, 0, 1},
                                 Le32Bytes(2),
                                 testing::Bytes("00dc"),
                                 Le64Bytes(272),
                                 Le32Bytes(0),
                                 Le32Bytes(8),
                                 Le32Bytes(indexed_size),
                                 Le32Bytes(116),
                                 Le32Bytes(51)});
  const Bytes movie = List("movi", Concat({Chunk("00dc", Bytes(100, 1)),
                                           Chunk("00dc", Bytes(51, 2)), Chunk("ix00", standard)}));
  const Bytes idx1 = Concat({testing::Bytes("00dc"), Le32Bytes(16), Le32Bytes(4), Le32Bytes(100),
                             testing::Bytes("00dc"), Le32Bytes(0), Le32Bytes(112), Le32Bytes(51)});
  return Chunk("RIFF", Concat({testing::Bytes("AVI "), header, movie, Chunk("idx1", idx1)}));
}

TEST(RiffCheck, FilesRealToolsWriteAreWhole) {
  if (!testing::HaveTool("ffmpeg") || !testing::HaveTool("sox")) GTEST_SKIP() << "no ffmpeg/sox";
  for (const char* codecs : {"-c:v mpeg4 -c:a libmp3lame", "-c:v mjpeg -c:a pcm_s16le"}) {
    EXPECT_EQ(CheckInSource(CheckAvi, FfmpegAvi(codecs)), Whole::kYes) << codecs;
  }
  EXPECT_EQ(CheckInSource(CheckAvi, testing::ReadFixtureSample("clip.avi")), Whole::kYes);
  EXPECT_EQ(CheckInSource(CheckAvi, OpenDmlAvi()), Whole::kYes);
  EXPECT_EQ(CheckInSource(CheckWav, testing::ReadFixtureSample("tone.wav")), Whole::kYes);
  EXPECT_EQ(CheckInSource(CheckAiff, testing::ReadFixtureSample("tone.aif")), Whole::kYes);
  for (const char* format : {"-b 8 -c 1 -t wav", "-b 24 -c 2 -t wav"}) {
    const Bytes wav =
        testing::MakeWithTool(std::string("sox -n -r 8000 ") + format + " out synth 0.5 sine 440");
    EXPECT_EQ(CheckInSource(CheckWav, wav), Whole::kYes) << format;
  }
  const Bytes aiff =
      testing::MakeWithTool("sox -n -r 8000 -b 16 -c 2 -t aiff out synth 1 sine 440");
  EXPECT_EQ(CheckInSource(CheckAiff, aiff), Whole::kYes);
  // A writer that leaves out the pad byte after an odd chunk.
  Bytes unpadded =
      Concat({testing::Bytes("WAVE"),
              Chunk("fmt ", {1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0}),
              Chunk("data", Bytes(7, 0x80))});
  unpadded.pop_back();
  unpadded = Concat({testing::Bytes("RIFF"), Le32Bytes(static_cast<uint32_t>(unpadded.size())),
                     unpadded, testing::Bytes("LIST"), Le32Bytes(4), testing::Bytes("INFO")});
  unpadded[4] += 12;
  EXPECT_EQ(CheckInSource(CheckWav, unpadded), Whole::kYes);
}

TEST(RiffCheck, BrokenAvisAreNotWhole) {
  if (!testing::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const Bytes avi = FfmpegAvi("-c:v mpeg4 -c:a libmp3lame");
  const Bytes other = FfmpegAvi("-c:v mjpeg -c:a pcm_s16le");
  ASSERT_GT(avi.size(), 16000u);
  for (const Break kind : testing::kEveryBreak) {
    EXPECT_EQ(CheckInSource(CheckAvi, testing::Broken(avi, kind, other)), Whole::kNo)
        << testing::BreakName(kind);
  }
}

// The samples of a WAV or AIFF are not checked: a block missing, a cut or a broken header is.
TEST(RiffCheck, SoundFilesMissingABlockOrCutShortAreNotWhole) {
  if (!testing::HaveTool("sox")) GTEST_SKIP() << "sox is not installed";
  const struct {
    WholeCheck check;
    const char* type;
  } kCases[] = {{CheckWav, "wav"}, {CheckAiff, "aiff"}};
  for (const auto& c : kCases) {
    const Bytes sound = testing::MakeWithTool(std::string("sox -n -r 8000 -b 16 -c 1 -t ") +
                                              c.type + " out synth 2 sine 440");
    for (const Break kind : {Break::kMissingBlock, Break::kCut}) {
      EXPECT_EQ(CheckInSource(c.check, testing::Broken(sound, kind, {})), Whole::kNo) << c.type;
    }
    Bytes header_gone = sound;
    std::fill(header_gone.begin() + 12, header_gone.begin() + 40, 'x');
    EXPECT_EQ(CheckInSource(c.check, header_gone), Whole::kNo) << c.type;
  }
}

TEST(RiffCheck, OpenDmlIndexesPointAtTheirChunks) {
  ASSERT_EQ(OpenDmlAvi().size(), 528u);
  // The super index points past the file (an extension that is not there), or the standard
  // index gives a frame another size.
  EXPECT_EQ(CheckInSource(CheckAvi, OpenDmlAvi(4000)), Whole::kNo);
  EXPECT_EQ(CheckInSource(CheckAvi, OpenDmlAvi(440, 99)), Whole::kNo);
  // idx1 offsets counted from the file's start (the entries' offsets at 504 and 520).
  Bytes absolute = OpenDmlAvi();
  const auto put = [&absolute](size_t at, uint32_t value) {
    const Bytes field = Le32Bytes(value);
    std::copy(field.begin(), field.end(), absolute.begin() + static_cast<ptrdiff_t>(at));
  };
  put(504, 272);
  put(520, 380);
  EXPECT_EQ(CheckInSource(CheckAvi, absolute), Whole::kYes);
  put(520, 388);  // the second entry off its chunk
  EXPECT_EQ(CheckInSource(CheckAvi, absolute), Whole::kNo);
}

TEST(RiffCheck, HostileChunkTreesEndQuickly) {
  // 200,000 idx1 entries that all point at one frame: whole, each looked up.
  const Bytes entry = Concat({testing::Bytes("00dc"), Le32Bytes(16), Le32Bytes(4), Le32Bytes(100)});
  Bytes entries;
  for (int k = 0; k < 200000; ++k) entries.insert(entries.end(), entry.begin(), entry.end());
  const auto avi = [](const Bytes& tail) {
    const Bytes header = List("hdrl", Chunk("avih", Bytes(56, 0)));
    return Chunk("RIFF", Concat({testing::Bytes("AVI "), header,
                                 List("movi", Chunk("00dc", Bytes(100, 1))), tail}));
  };
  EXPECT_EQ(CheckInSource(CheckAvi, avi(Chunk("idx1", entries))), Whole::kYes);
  // An entry far past the file; lists nested 100 deep; a chunk size of 4 GiB.
  const Bytes far =
      Concat({testing::Bytes("00dc"), Le32Bytes(16), Le32Bytes(0xFFFFFFF0), Le32Bytes(100)});
  EXPECT_EQ(CheckInSource(CheckAvi, avi(Chunk("idx1", far))), Whole::kNo);
  Bytes nested = Chunk("JUNK", {});
  for (int k = 0; k < 100; ++k) nested = List("deep", nested);
  EXPECT_EQ(CheckInSource(CheckAvi, avi(nested)), Whole::kUnchecked);
  Bytes huge = avi(Chunk("JUNK", Bytes(8, 0)));
  std::fill(huge.end() - 12, huge.end() - 8, 0xFF);
  EXPECT_EQ(CheckInSource(CheckAvi, huge), Whole::kNo);
}

TEST(RiffCheck, AScanKeepsTheWholeAviAndNotOneWithZerosInside) {
  if (!testing::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const Bytes avi = FfmpegAvi("-c:v mpeg4 -c:a libmp3lame");
  EXPECT_EQ(testing::KeptFromBrokenAndWhole(testing::Broken(avi, Break::kZeroBlock, {}), avi,
                                            TypeBit(kAvi)),
            std::vector<Bytes>{avi});
}

}  // namespace
}  // namespace kestrel
