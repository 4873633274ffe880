#include "carve/formats/mov.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/testing/source_doubles.h"
#include "support/atom_builder.h"
#include "support/carve_harness.h"
#include "support/param_names.h"
#include "support/sector_feeder.h"
#include "support/structured_fixtures.h"
#include "support/tiff_builder.h"

namespace kestrel {
namespace {

using testing::Atom;
using testing::CarveHarness;
using testing::Concat;
using testing::ImageWithFileAt;
using testing::SectorFeeder;
using testing::StructuredSample;
using testing::WideAtom;

constexpr uint64_t kFileSector = 2;

// Opens the movie as the dispatch does and feeds sectors while it is open, up to `last`;
// with `finish_at_end` the end finishes a movie still open, as a new header or the scan's end.
void CarveMovie(CarveHarness& h, uint64_t first = kFileSector, uint64_t last = UINT64_MAX,
                bool finish_at_end = true) {
  h.Carve(MovState{}, "MOV", first, last, finish_at_end);
}

std::vector<std::string> Names(const std::vector<std::string>& names) {
  return names;
}

// ---------------------------------------------------------------------------------------------
// Movies made by ffmpeg, moov after the media data and before it.

class FfmpegMovie : public ::testing::TestWithParam<const char*> {};

TEST_P(FfmpegMovie, ComesBackByteForByte) {
  const std::vector<uint8_t> original = StructuredSample(GetParam());
  ASSERT_FALSE(original.empty()) << GetParam();
  CarveHarness h(ImageWithFileAt(original, kFileSector));
  CarveMovie(h);
  ASSERT_EQ(h.Files(), Names({"KES00001.MOV"}));
  EXPECT_EQ(h.FileBytes("KES00001.MOV"), original);
  ASSERT_EQ(h.ui.rows.size(), 1u);
  EXPECT_EQ(h.ui.rows[0].bytes, original.size());
}

INSTANTIATE_TEST_SUITE_P(Samples, FfmpegMovie, ::testing::Values("moov_last.mov", "moov_first.mov"),
                         [](const auto& param_info) {
                           return testing::ReadableTestName(param_info.param);
                         });

TEST(MovSamples, ExifToolMovieComesBackWhole) {
  const std::string dir = testing::SamplesDir();
  if (dir.empty()) GTEST_SKIP() << "shared samples folder missing";
  const std::vector<uint8_t> original =
      testing::ReadFileBytes(dir + "/exiftool-t-images/QuickTime.mov");
  ASSERT_FALSE(original.empty());
  CarveHarness h(ImageWithFileAt(original, kFileSector));
  CarveMovie(h);
  ASSERT_EQ(h.Files(), Names({"KES00001.MOV"}));
  EXPECT_EQ(h.FileBytes("KES00001.MOV"), original);
}

// ---------------------------------------------------------------------------------------------
// The atom walk.

TEST(MovWalk, MoovThenMdatThenZerosEndsAfterBothAtoms) {
  const std::vector<uint8_t> movie = Concat({Atom("moov", 0x1000), Atom("mdat", 0x20000, 2)});
  CarveHarness h(ImageWithFileAt(movie, kFileSector));
  CarveMovie(h);
  ASSERT_EQ(h.Files(), Names({"KES00001.MOV"}));
  EXPECT_EQ(h.FileBytes("KES00001.MOV").size(), 0x21000u);
  EXPECT_EQ(h.FileBytes("KES00001.MOV"), movie);
}

TEST(MovWalk, ExtendedSizeIsUsed) {
  const std::vector<uint8_t> movie =
      Concat({Atom("moov", 0x300), WideAtom("mdat", 5000, 5000), Atom("free", 64)});
  CarveHarness h(ImageWithFileAt(movie, kFileSector));
  CarveMovie(h);
  EXPECT_EQ(h.FileBytes("KES00001.MOV"), movie);
}

TEST(MovWalk, ExtendedSizeBeyondFourGibIsCarriedWhole) {
  // A 6 GiB source is not built: after the first sector the walk must still owe the rest of
  // the 5 GiB atom, not its low 32 bits.
  ZeroSource source(uint64_t{6} << 30);
  const uint64_t size = (uint64_t{5} << 30) + 123;
  const std::vector<uint8_t> first = ImageWithFileAt(WideAtom("mdat", size, 512), 0);
  const SectorFeeder feeder(first);
  const SectorInput in = feeder.At(0);
  MovState state;
  const Fed fed = FeedMov(state, CarveView{in, source, 0, kAllFileTypesMask});
  EXPECT_EQ(fed.step, Step::kMore);
  EXPECT_EQ(fed.write, 512u);
  EXPECT_EQ(state.atom_left, size - 512);
}

TEST(MovWalk, ZeroSizeEndsTheMovieEvenForAKnownType) {
  std::vector<uint8_t> stop = Atom("mdat", 64);
  std::memset(stop.data(), 0, 4);
  const std::vector<uint8_t> movie = Concat({Atom("moov", 0x280), Atom("mdat", 0x100)});
  CarveHarness h(ImageWithFileAt(Concat({movie, stop}), kFileSector));
  CarveMovie(h);
  EXPECT_EQ(h.FileBytes("KES00001.MOV"), movie);
}

TEST(MovWalk, AtomOfAnotherTypeEndsTheMovie) {
  const std::vector<uint8_t> movie =
      Concat({Atom("wide", 8), Atom("mdat", 900), Atom("moov", 700)});
  CarveHarness h(ImageWithFileAt(Concat({movie, Atom("abcd", 2000)}), kFileSector));
  CarveMovie(h);
  EXPECT_EQ(h.FileBytes("KES00001.MOV"), movie);
}

TEST(MovWalk, AtomHeaderAcrossASectorEndIsReadWhole) {
  // Boundaries at 510 and at 1024 - 3: the headers straddle the sector ends.
  const std::vector<uint8_t> movie =
      Concat({Atom("skip", 510), Atom("mdat", 511), Atom("moov", 1200), Atom("free", 8)});
  CarveHarness h(ImageWithFileAt(movie, kFileSector));
  CarveMovie(h);
  EXPECT_EQ(h.FileBytes("KES00001.MOV"), movie);
}

TEST(MovWalk, SecondMovieWalksFromItsOwnFirstAtom) {
  const std::vector<uint8_t> unfinished = Atom("mdat", 0x4000);
  const std::vector<uint8_t> second = Concat({Atom("moov", 0x400), Atom("mdat", 0x600)});
  std::vector<uint8_t> image = ImageWithFileAt(unfinished, kFileSector, 0);
  const uint64_t second_sector = image.size() / 512;
  const std::vector<uint8_t> tail = ImageWithFileAt(second, 0);
  image.insert(image.end(), tail.begin(), tail.end());
  CarveHarness h(image);
  CarveMovie(h, kFileSector, kFileSector + 4);  // cut off by another header: deleted
  EXPECT_TRUE(h.Files().empty());
  CarveMovie(h, second_sector);
  ASSERT_EQ(h.Files(), Names({"KES00001.MOV"}));
  EXPECT_EQ(h.FileBytes("KES00001.MOV"), second);
}

// ---------------------------------------------------------------------------------------------
// Bad input: no file listed that was not written whole.

// Run without the finish at the end: the movie itself must have ended.
void ExpectNothingKept(CarveHarness& h) {
  EXPECT_TRUE(h.Files().empty());
  EXPECT_TRUE(h.ui.rows.empty());
  EXPECT_EQ(h.run.recovered_count, 0u);
  EXPECT_FALSE(h.engine.is_open());
}

TEST(MovBadInput, SixtyFourBitSizeOfTwoToTheSixtyThirdIsDroppedAtOnce) {
  const std::vector<uint8_t> movie =
      Concat({Atom("moov", 0x200), WideAtom("mdat", uint64_t{1} << 63, 64)});
  CarveHarness h(ImageWithFileAt(movie, kFileSector, 64 * 1024));
  CarveMovie(h, kFileSector, kFileSector + 2, /*finish_at_end=*/false);
  ExpectNothingKept(h);
}

TEST(MovBadInput, AtomReachingPastTheSourcesEndIsDropped) {
  const std::vector<uint8_t> movie = Concat({Atom("moov", 0x200), Atom("mdat", 0x10000)});
  std::vector<uint8_t> image = ImageWithFileAt(movie, kFileSector, 0);
  image.resize(image.size() - 0x1000);
  CarveHarness h(image);
  CarveMovie(h, kFileSector, kFileSector + 2, /*finish_at_end=*/false);
  ExpectNothingKept(h);
}

TEST(MovBadInput, FirstAtomWithZeroSizeKeepsNothing) {
  std::vector<uint8_t> atom = Atom("moov", 0x400);
  std::memset(atom.data(), 0, 4);
  CarveHarness h(ImageWithFileAt(atom, kFileSector));
  CarveMovie(h, kFileSector, UINT64_MAX, /*finish_at_end=*/false);
  ExpectNothingKept(h);
}

TEST(MovBadInput, ExtendedSizeOfZeroEndsTheMovie) {
  const std::vector<uint8_t> movie = Concat({Atom("moov", 0x300), Atom("mdat", 0x120)});
  CarveHarness h(ImageWithFileAt(Concat({movie, WideAtom("mdat", 0, 64)}), kFileSector));
  CarveMovie(h);
  EXPECT_EQ(h.FileBytes("KES00001.MOV"), movie);
}

TEST(MovWalk, MovieEndingWithTheSourceIsKept) {
  // The chain of small atoms goes on to the source's last byte: nothing can follow it.
  // It holds a movie (moov and mdat), so it is kept.
  std::vector<uint8_t> movie = Concat({Atom("moov", 0x200), Atom("mdat", 0x400)});
  while (movie.size() < 40 * 512) {
    const std::vector<uint8_t> atom = Atom("free", 64);
    movie.insert(movie.end(), atom.begin(), atom.end());
  }
  CarveHarness h(ImageWithFileAt(movie, kFileSector, 0));
  CarveMovie(h, kFileSector, UINT64_MAX, /*finish_at_end=*/false);
  ASSERT_EQ(h.Files(), Names({"KES00001.MOV"}));
  EXPECT_EQ(h.FileBytes("KES00001.MOV"), movie);
}

}  // namespace
}  // namespace kestrel
