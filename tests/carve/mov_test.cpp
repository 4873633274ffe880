#include "carve/formats/mov.h"

#include <cstring>

#include "support/atom_builder.h"
#include "support/carve_harness.h"
#include "support/structured_fixtures.h"
#include "support/tiff_builder.h"

namespace kestrel {
namespace {

using testing::Atom;
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

// ---------------------------------------------------------------------------------------------
// The shared sample; movies made by ffmpeg (moov after the media data and before it) are among
// the walk's cases below.

TEST(MovSamples, ExifToolMovieComesBackWhole) {
  const std::string dir = testing::SamplesDir();
  if (dir.empty()) GTEST_SKIP() << "shared samples folder missing";
  const Bytes original = testing::ReadFileBytes(dir + "/exiftool-t-images/QuickTime.mov");
  ASSERT_FALSE(original.empty());
  CarveHarness h(ImageWithFileAt(original, kFileSector));
  CarveMovie(h);
  h.ExpectKept(original, "KES00001.MOV");
}

// ---------------------------------------------------------------------------------------------
// The atom walk.

TEST(MovWalk, MovieEndsAfterItsLastAtom) {
  Bytes zero_size = Atom("mdat", 64);
  std::memset(zero_size.data(), 0, 4);
  const struct {
    const char* what;
    Bytes movie, after;
  } kCases[] = {
      {"ffmpeg, moov last", StructuredSample("moov_last.mov"), {}},
      {"ffmpeg, moov first", StructuredSample("moov_first.mov"), {}},
      {"moov, mdat, then zeros", Concat({Atom("moov", 0x1000), Atom("mdat", 0x20000, 2)}), {}},
      {"an extended size",
       Concat({Atom("moov", 0x300), WideAtom("mdat", 5000, 5000), Atom("free", 64)}),
       {}},
      {"size 0 ends it even for a known type", Concat({Atom("moov", 0x280), Atom("mdat", 0x100)}),
       zero_size},
      {"extended size 0 ends it", Concat({Atom("moov", 0x300), Atom("mdat", 0x120)}),
       WideAtom("mdat", 0, 64)},
      {"an atom of another type ends it",
       Concat({Atom("wide", 8), Atom("mdat", 900), Atom("moov", 700)}), Atom("abcd", 2000)},
      // Boundaries at 510 and at 1024 - 3: the headers straddle the sector ends.
      {"atom headers across sector ends",
       Concat({Atom("skip", 510), Atom("mdat", 511), Atom("moov", 1200), Atom("free", 8)}),
       {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    ASSERT_FALSE(c.movie.empty());
    CarveHarness h(ImageWithFileAt(Concat({c.movie, c.after}), kFileSector));
    CarveMovie(h);
    h.ExpectKept(c.movie, "KES00001.MOV");
  }
}

TEST(MovWalk, ExtendedSizeBeyondFourGibIsCarriedWhole) {
  // A 6 GiB source is not built: after the first sector the walk must still owe the rest of
  // the 5 GiB atom, not its low 32 bits.
  ZeroSource source(uint64_t{6} << 30);
  const uint64_t size = (uint64_t{5} << 30) + 123;
  const Bytes first = ImageWithFileAt(WideAtom("mdat", size, 512), 0);
  const SectorFeeder feeder(first);
  const SectorInput in = feeder.At(0);
  MovState state;
  const Fed fed = FeedMov(state, CarveView{in, source, 0, kAllFileTypesMask});
  EXPECT_EQ(fed.step, Step::kMore);
  EXPECT_EQ(fed.write, 512u);
  EXPECT_EQ(state.atom_left, size - 512);
}

TEST(MovWalk, SecondMovieWalksFromItsOwnFirstAtom) {
  const Bytes unfinished = Atom("mdat", 0x4000);
  const Bytes second = Concat({Atom("moov", 0x400), Atom("mdat", 0x600)});
  Bytes image = ImageWithFileAt(unfinished, kFileSector, 0);
  const uint64_t second_sector = image.size() / 512;
  const Bytes tail = ImageWithFileAt(second, 0);
  image.insert(image.end(), tail.begin(), tail.end());
  CarveHarness h(image);
  CarveMovie(h, kFileSector, kFileSector + 4);  // cut off by another header: deleted
  EXPECT_TRUE(h.Files().empty());
  CarveMovie(h, second_sector);
  h.ExpectKept(second, "KES00001.MOV");
}

// ---------------------------------------------------------------------------------------------
// Bad input: no file listed that was not written whole.

// Run without the finish at the end: the movie itself must have ended.
TEST(MovBadInput, SixtyFourBitSizeOfTwoToTheSixtyThirdIsDroppedAtOnce) {
  const Bytes movie = Concat({Atom("moov", 0x200), WideAtom("mdat", uint64_t{1} << 63, 64)});
  CarveHarness h(ImageWithFileAt(movie, kFileSector, 64 * 1024));
  CarveMovie(h, kFileSector, kFileSector + 2, /*finish_at_end=*/false);
  h.ExpectNothingKept();
}

TEST(MovBadInput, AtomReachingPastTheSourcesEndIsDropped) {
  const Bytes movie = Concat({Atom("moov", 0x200), Atom("mdat", 0x10000)});
  Bytes image = ImageWithFileAt(movie, kFileSector, 0);
  image.resize(image.size() - 0x1000);
  CarveHarness h(image);
  CarveMovie(h, kFileSector, kFileSector + 2, /*finish_at_end=*/false);
  h.ExpectNothingKept();
}

TEST(MovBadInput, FirstAtomWithZeroSizeKeepsNothing) {
  Bytes atom = Atom("moov", 0x400);
  std::memset(atom.data(), 0, 4);
  CarveHarness h(ImageWithFileAt(atom, kFileSector));
  CarveMovie(h, kFileSector, UINT64_MAX, /*finish_at_end=*/false);
  h.ExpectNothingKept();
}

TEST(MovWalk, MovieEndingWithTheSourceIsKept) {
  // The chain of small atoms goes on to the source's last byte: nothing can follow it.
  // It holds a movie (moov and mdat), so it is kept.
  Bytes movie = Concat({Atom("moov", 0x200), Atom("mdat", 0x400)});
  while (movie.size() < 40 * 512) {
    const Bytes atom = Atom("free", 64);
    movie.insert(movie.end(), atom.begin(), atom.end());
  }
  CarveHarness h(ImageWithFileAt(movie, kFileSector, 0));
  CarveMovie(h, kFileSector, UINT64_MAX, /*finish_at_end=*/false);
  h.ExpectKept(movie, "KES00001.MOV");
}

}  // namespace
}  // namespace kestrel
