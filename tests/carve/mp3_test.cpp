// MPEG audio: MP3s written by ffmpeg (ID3v2, ID3v1, both tags, none, VBR with a Xing frame,
// MPEG-2 and 2.5 rates, layer II) end exactly after their last frame or tag; a lone frame
// header, a tag without frames and crafted frame chains keep nothing or end at the cap.

#include "carve/formats/mp3.h"

#include <cstring>

#include "support/carve_harness.h"
#include "support/media_files.h"
#include "support/mp3_builder.h"

namespace kestrel {
namespace {

using testing::ApeTag;
using testing::Mp3Frames;

// An ID3v2.3 tag of `body` bytes after its header (the size in four 7-bit bytes).
Bytes Id3v2Tag(size_t body) {
  Bytes tag = {'I', 'D', '3', 3, 0, 0};
  for (int shift = 21; shift >= 0; shift -= 7)
    tag.push_back(static_cast<uint8_t>(body >> shift & 0x7F));
  tag.resize(10 + body, 0);
  return tag;
}

const testing::MediaFile* Named(const char* name) {
  for (const auto& file : testing::FfmpegMp3s()) {
    if (file.name == name) return &file;
  }
  return nullptr;
}

TEST(Mp3, FfmpegFilesComeBackExactly) {
  const auto& files = testing::FfmpegMp3s();
  if (files.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  ASSERT_EQ(files.size(), 8u);
  for (const auto& file : files) {
    SCOPED_TRACE(file.name);
    ASSERT_GT(file.bytes.size(), 1000u);
    // Ended by filler, by zeros and by the source's end.
    for (const Bytes& after : {Filler(3000), Bytes(700, 0), Bytes{}}) {
      CarveHarness h;
      h.CarveOnly(Mp3State{}, "MP3", Concat({file.bytes, after}));
      h.ExpectKept(file.bytes);
    }
  }
}

TEST(Mp3, ApeAndId3v1TagsAfterTheLastFrameBelongToTheFile) {
  const auto* untagged = Named("untagged.mp3");
  const auto* both = Named("both-tags.mp3");
  if (untagged == nullptr || both == nullptr) GTEST_SKIP() << "ffmpeg is not installed";
  const Bytes id3v1(both->bytes.end() - 128, both->bytes.end());
  ASSERT_EQ(Bytes(id3v1.begin(), id3v1.begin() + 3), testing::Bytes("TAG"));
  for (const Bytes& tags : {ApeTag(), Concat({ApeTag(), id3v1})}) {
    const Bytes mp3 = Concat({untagged->bytes, tags});
    CarveHarness h;
    EXPECT_EQ(h.CarveOnly(Mp3State{}, "MP3", Concat({mp3, Filler(1000)})), mp3);
  }
}

TEST(Mp3, FramesStartAFileOnlyWhenTheNextFrameFollows) {
  const auto start = [](const Bytes& bytes) {
    return Mp3FramesStartAt(testing::SectorFeeder(bytes).At(0));
  };
  EXPECT_TRUE(start(Concat({Mp3Frames(2), Filler(600)})));
  EXPECT_FALSE(start(Concat({Mp3Frames(1), Filler(600)})));
  // The second frame has another sample rate: not the same stream.
  EXPECT_FALSE(start(Concat({Mp3Frames(1), Mp3Frames(1, 1), Filler(600)})));
  Bytes free_format = Mp3Frames(2);  // bitrate index 0 gives no length
  free_format[2] &= 0x0F;
  EXPECT_FALSE(start(free_format));
  Bytes reserved_rate = Mp3Frames(2);
  reserved_rate[2] |= 0x0C;
  EXPECT_FALSE(start(reserved_rate));
}

TEST(Mp3, CraftedStreamsEndAfterTheirLastFrame) {
  const Bytes first = Mp3Frames(6);
  Bytes info_frame = Mp3Frames(1);
  std::memcpy(info_frame.data() + 36, "Info", 4);
  const Bytes zeros_after_tag = Concat({Id3v2Tag(300), Bytes(1000, 0), Mp3Frames(kMinMp3Frames)});
  const struct {
    const char* what;
    Bytes image, expected;
  } kCases[] = {
      {"a frame of another sample rate", Concat({first, Mp3Frames(4, 1), Filler(600)}), first},
      {"an encoder's first frame with an Info header",
       Concat({first, info_frame, Mp3Frames(5), Filler(600)}), first},
      {"zeros between the tag and the first frame", Concat({zeros_after_tag, Filler(600)}),
       zeros_after_tag},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    CarveHarness h;
    EXPECT_EQ(h.CarveOnly(Mp3State{}, "MP3", c.image), c.expected);
  }
}

TEST(Mp3, TagsOrFewFramesAloneKeepNothing) {
  const Bytes tag = Id3v2Tag(100000);
  const Bytes kCases[] = {
      Concat({Id3v2Tag(300), Filler(2000)}),
      Concat({Id3v2Tag(300), Bytes(5000, 0), Mp3Frames(8)}),  // zeros past the lead allowance
      Concat({Id3v2Tag(300), Mp3Frames(kMinMp3Frames - 1), Filler(600)}),
      Concat({Mp3Frames(kMinMp3Frames - 1), Filler(600)}),
      Concat(
          {Bytes(tag.begin(), tag.begin() + 10), Mp3Frames(8)}),  // a tag reaching past the source
  };
  for (const Bytes& image : kCases) {
    CarveHarness h;
    h.CarveOnly(Mp3State{}, "MP3", image);
    h.ExpectNothingKept();
  }
}

TEST(Mp3, StreamCutOffInsideAFrameIsNotKept) {
  const Bytes image = Mp3Frames(10);
  CarveHarness h(image);
  // A new header (or a cancel) at the fourth sector finishes the file inside its fifth frame.
  h.Carve(Mp3State{}, "MP3", 0, 4);
  h.ExpectNothingKept();
}

TEST(Mp3, CraftedFrameChainEndsAtTheSizeCap) {
  const uint64_t start = kMaxMp3Bytes - 2000;
  uint64_t written = start;
  Mp3State state;
  const Fed fed = testing::FeedDirect(state, FeedMp3, Mp3Frames(40), written);
  EXPECT_EQ(fed.step, Step::kComplete);
  // Four whole frames fit below the cap; the fifth would pass it.
  EXPECT_EQ(written, start + 4 * 417);
  EXPECT_TRUE(FinishMp3(state).keep);
}

}  // namespace
}  // namespace kestrel
