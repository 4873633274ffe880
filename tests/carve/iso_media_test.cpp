// ISO base media files started by their "ftyp" atom: named by the major brand, kept only with
// their media data and its description, and refused on atom sizes that cannot be.

#include "carve/formats/iso_media.h"

#include <cstring>
#include <random>

#include "support/atom_builder.h"
#include "support/carve_harness.h"
#include "support/tiff_builder.h"

namespace kestrel {
namespace {

using testing::Atom;
using testing::PutBe32;
using testing::WideAtom;

// A file type atom: the major brand, minor version 0x200, and the brand again as compatible.
Bytes Ftyp(const char* brand) {
  Bytes atom(20, 0);
  PutBe32(atom, 0, 20);
  std::memcpy(atom.data() + 4, "ftyp", 4);
  std::memcpy(atom.data() + 8, brand, 4);
  PutBe32(atom, 12, 0x200);
  std::memcpy(atom.data() + 16, brand, 4);
  return atom;
}

// Carves `movie` laid at sector 0, followed by `after`, as a movie started by its file type atom.
void CarveFileType(CarveHarness& h, const Bytes& movie, const Bytes& after = Bytes(4096, 0)) {
  h.source.bytes() = Concat({movie, after});
  h.Carve(StartFileTypeMovie(movie.data()), "MOV");
}

// ---------------------------------------------------------------------------------------------
// The file type atom and the major brand.

TEST(IsoMediaFileType, OnlyASaneFileTypeAtomStartsAMovie) {
  EXPECT_TRUE(IsFileTypeAtom(Ftyp("isom").data()));
  Bytes atom = Ftyp("isom");
  atom.resize(300, 0);
  for (uint32_t size : {0u, 8u, 12u, 18u, 260u, 0x10000u}) {
    PutBe32(atom, 0, size);
    EXPECT_FALSE(IsFileTypeAtom(atom.data())) << size;
  }
  PutBe32(atom, 0, 256);
  EXPECT_TRUE(IsFileTypeAtom(atom.data()));
  Bytes unprintable = Ftyp("is\x01m");
  EXPECT_FALSE(IsFileTypeAtom(unprintable.data()));
  Bytes other = Ftyp("isom");
  std::memcpy(other.data() + 4, "ftyq", 4);
  EXPECT_FALSE(IsFileTypeAtom(other.data()));
}

// Movies are kept with their moov and media data, HEIF images with their meta and media data.
TEST(IsoMediaFileType, TheMajorBrandNamesTheFile) {
  const std::vector<std::pair<const char*, std::string>> brands = {
      {"isom", "MP4"},  {"iso2", "MP4"}, {"iso6", "MP4"}, {"mp41", "MP4"}, {"mp42", "MP4"},
      {"avc1", "MP4"},  {"dash", "MP4"}, {"M4V ", "MP4"}, {"qt  ", "MOV"}, {"3gp4", "3GP"},
      {"3gp6", "3GP"},  {"3g2a", "3GP"}, {"M4A ", "M4A"}, {"abcd", "MOV"}, {"heic", "HEIC"},
      {"heix", "HEIC"}, {"mif1", "HEIC"}};
  for (const auto& [brand, extension] : brands) {
    SCOPED_TRACE(brand);
    const Bytes movie = extension == "HEIC"
                            ? Concat({Ftyp(brand), Atom("meta", 0x150), Atom("mdat", 700)})
                            : Concat({Ftyp(brand), Atom("moov", 0x300), Atom("mdat", 0x900, 2)});
    CarveHarness h;
    CarveFileType(h, movie);
    h.ExpectKept(movie, "KES00001." + extension);
  }
  // A HEIF brand without the meta atom that describes its pictures is no image.
  CarveHarness h;
  CarveFileType(h, Concat({Ftyp("heic"), Atom("moov", 0x150), Atom("mdat", 700)}));
  h.ExpectNothingKept();
}

// ---------------------------------------------------------------------------------------------
// The walk and the keep rule.

// A movie needs both its description and its media data, and ends before an atom that is not
// its own.
TEST(IsoMediaWalk, AMovieIsKeptWithItsDescriptionAndMediaDataUpToItsLastAtom) {
  const Bytes zeros(4096, 0);
  const Bytes short_movie = Concat({Ftyp("isom"), Atom("moov", 0x300), Atom("mdat", 0x6EC)});
  ASSERT_EQ(short_movie.size() % 512, 0u);
  // Size 0 means "to the end of the file", an end a raw scan cannot see: the atom is not taken.
  const Bytes before_open = Concat({Ftyp("isom"), Atom("moov", 0x200), Atom("mdat", 0x300)});
  const Bytes pattern = Concat({testing::PatternBytes(0x2000, 9), zeros});
  struct Case {
    const char* what;
    Bytes movie, after;
    bool kept;
  };
  const std::vector<Case> cases = {
      {"moov only", Concat({Ftyp("isom"), Atom("moov", 0x400)}), zeros, false},
      {"mdat only", Concat({Ftyp("isom"), Atom("free", 8), Atom("mdat", 0x4000)}), zeros, false},
      {"file type only", Concat({Ftyp("isom"), Atom("free", 0x200)}), zeros, false},
      {"media data of size 0 only", Concat({Ftyp("isom"), Atom("moov", 0x200)}),
       Concat({Atom("mdat", 0, 3), pattern}), false},
      {"mdat then moov",
       Concat({Ftyp("mp42"), Atom("wide", 8), Atom("mdat", 0x4000), Atom("moov", 0x400)}), zeros,
       true},
      {"fragments",
       Concat({Ftyp("iso6"), Atom("moov", 0x300), Atom("sidx", 44), Atom("moof", 0x120),
               Atom("mdat", 0x800), Atom("moof", 0x120), Atom("mdat", 0x700), Atom("mfra", 0x60)}),
       zeros, true},
      {"every other top-level atom",
       Concat({Ftyp("isom"), Atom("pdin", 20), Atom("uuid", 40), Atom("meta", 60),
               Atom("moov", 0x300), Atom("styp", 24), Atom("emsg", 50), Atom("prft", 32),
               Atom("mdat", 0x500), Atom("ssix", 28), Atom("meco", 16), Atom("skip", 12),
               Atom("pnot", 20), Atom("PICT", 90)}),
       zeros, true},
      {"a 64-bit media data size carried across sectors",
       Concat(
           {Ftyp("isom"), Atom("moov", 0x300), WideAtom("mdat", 70000, 70000), Atom("free", 24)}),
       zeros, true},
      {"ended by the next file type atom", short_movie,
       Concat({Ftyp("isom"), Atom("moov", 0x300), Bytes(2048, 0)}), true},
      {"ended by an unknown atom", short_movie, Concat({Atom("abcd", 64), Bytes(2048, 0)}), true},
      {"ended by an atom of size 0", before_open, Concat({Atom("mdat", 0, 3), pattern}), true},
      {"ended by an atom of 64-bit size 0", before_open, Concat({WideAtom("free", 0, 64), pattern}),
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CarveHarness h;
    CarveFileType(h, c.movie, c.after);
    if (c.kept) {
      h.ExpectKept(c.movie);
    } else {
      h.ExpectNothingKept();
    }
  }
}

TEST(IsoMediaWalk, ASizeBeyondFourGibIsOwedWhole) {
  // A 6 GiB source is not built: after the first sector the walk must still owe the rest of the
  // 5 GiB atom, not its low 32 bits.
  ZeroSource source(uint64_t{6} << 30);
  const uint64_t size = (uint64_t{5} << 30) + 123;
  const Bytes start = Concat({Ftyp("isom"), WideAtom("mdat", size, 492)});
  const testing::SectorFeeder feeder(start);
  MovState state = StartFileTypeMovie(start.data());
  const SectorInput in = feeder.At(0);
  const Fed fed = FeedMov(state, CarveView{in, source, 0, kAllFileTypesMask});
  EXPECT_EQ(fed.step, Step::kMore);
  EXPECT_EQ(fed.write, 512u);
  EXPECT_EQ(state.atom_left, size - 492);
}

// ---------------------------------------------------------------------------------------------
// Bad input: no file listed that was not written whole, and no walk that does not end.

TEST(IsoMediaBadInput, ImpossibleSizesRefuseTheMovie) {
  const Bytes head = Concat({Ftyp("isom"), Atom("moov", 0x200)});
  Bytes short_atom = Atom("mdat", 64);
  PutBe32(short_atom, 0, 4);
  Bytes huge_atom = Atom("mdat", 64);
  PutBe32(huge_atom, 0, 0x100000);
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"64-bit size 2^63", WideAtom("mdat", uint64_t{1} << 63, 64)},
      {"64-bit size past the source", WideAtom("mdat", uint64_t{1} << 32, 64)},
      {"32-bit size past the source", huge_atom},
      {"shorter than its header", short_atom},
      {"64-bit size shorter than its header", WideAtom("mdat", 12, 64)},
  };
  for (const auto& [what, tail] : cases) {
    SCOPED_TRACE(what);
    CarveHarness h;
    CarveFileType(h, Concat({head, tail, Atom("mdat", 0x400)}), Bytes(64 * 1024, 0));
    h.ExpectNothingKept();
  }
}

TEST(IsoMediaBadInput, AChainOfTinyAtomsIsWalkedToItsEndAndDropped) {
  // Four MiB of 8-byte "free" atoms: every one is visited once, the movie holds neither moov
  // nor mdat and is deleted.
  Bytes movie = Ftyp("isom");
  const Bytes tiny = Atom("free", 8);
  while (movie.size() < (size_t{4} << 20)) movie.insert(movie.end(), tiny.begin(), tiny.end());
  CarveHarness h;
  h.source.bytes() = movie;  // the chain ends with the source
  h.Carve(StartFileTypeMovie(movie.data()), "MOV", 0, ~uint64_t{0}, false);
  h.ExpectNothingKept();
}

// ---------------------------------------------------------------------------------------------
// The movie started by bytes 4..7 alone (mdat, moov, free, skip, wide) obeys the same keep rule.

TEST(IsoMediaOldStart, ARandomSectorNamingAnAtomIsNoMovie) {
  // A sector of random bytes whose bytes 4..7 happen to read "free" and whose size field fits
  // the source: the walk takes that one atom and then meets no atom. Without moov and mdat it
  // is not a movie.
  std::mt19937_64 random(11);
  Bytes junk(64 * 1024);
  for (uint8_t& b : junk) b = static_cast<uint8_t>(random());
  PutBe32(junk, 0, 5000);
  std::memcpy(junk.data() + 4, "free", 4);
  junk[5000 + 4] = 'x';  // no atom type where the walk lands
  CarveHarness h(junk);
  h.Carve(MovState{}, "MOV");
  h.ExpectNothingKept();

  const Bytes movie = Concat({Atom("moov", 0x300), Atom("mdat", 0x700)});
  CarveHarness old(Concat({movie, Bytes(2048, 0)}));
  old.Carve(MovState{}, "MOV");
  old.ExpectKept(movie, "KES00001.MOV");
}

}  // namespace
}  // namespace kestrel
