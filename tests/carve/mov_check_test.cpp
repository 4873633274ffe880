// Telling a whole movie from a broken one by its sample tables: ffmpeg's movies (H.264, H.265,
// MPEG-4 visual, H.263, Motion JPEG, PCM and AAC sound; movie box first or last) and the
// committed ones are whole; the same movies with a 4 KiB block of foreign bytes over their video
// samples, a block missing, another movie's tail or cut short are not; fragmented movies and
// images are left unchecked, and hostile tables end quickly. The sample tables tell AAC tracks
// (also in QuickTime's wave box) from the others.

#include "carve/formats/mov_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>

#include "carve/formats/iso_media.h"
#include "carve/formats/mov_tracks.h"
#include "support/atom_builder.h"
#include "support/carve_harness.h"
#include "support/damaged_blocks.h"
#include "support/damaged_files.h"
#include "support/media_files.h"
#include "support/structured_fixtures.h"

namespace kestrel {
namespace {

using testing::FfmpegSoundMovies;
using testing::FfmpegVideoMovies;

Whole CheckMovie(const Bytes& movie) {
  MemorySource source(movie);
  return CheckMov(source, 0, movie.size());
}

Bytes IsoMediaFixture(const std::string& name) {
  return testing::ReadFileBytes(std::string(KESTREL_SOURCE_DIR) + "/tests/fixtures/iso_media/" +
                                name);
}

Bytes Be(uint64_t value, int bytes) {
  Bytes out;
  for (int k = bytes - 1; k >= 0; --k) out.push_back(static_cast<uint8_t>(value >> (8 * k)));
  return out;
}

Bytes Box(const char* type, const Bytes& body) {
  return Concat({Be(body.size() + 8, 4), testing::Bytes(std::string(type, 4)), body});
}

// A counted table: version and flags, the count, then the entries.
Bytes Table(const char* type, uint32_t count, const Bytes& entries) {
  return Box(type, Concat({Be(0, 4), Be(count, 4), entries}));
}

// A movie of one H.264 track: ftyp, mdat with `data`, then a moov whose tables place chunks of
// `per_chunk` samples at `offsets` (counted from the mdat's data) with the sample `sizes`.
Bytes H264Movie(const Bytes& data, const std::vector<uint32_t>& sizes,
                const std::vector<uint64_t>& offsets, uint32_t per_chunk) {
  const Bytes ftyp = Box("ftyp", testing::Bytes(std::string_view("isom\0\0\0\0isom", 12)));
  const uint64_t data_at = ftyp.size() + 8;
  Bytes visual(78, 0);
  const Bytes entry = Box("avc1", Concat({visual, Box("avcC", Bytes{1, 0x64, 0, 0x1F, 0xFF})}));
  Bytes size_entries, offset_entries;
  for (uint32_t size : sizes) {
    const Bytes field = Be(size, 4);
    size_entries.insert(size_entries.end(), field.begin(), field.end());
  }
  for (uint64_t offset : offsets) {
    const Bytes field = Be(data_at + offset, 4);
    offset_entries.insert(offset_entries.end(), field.begin(), field.end());
  }
  const Bytes stbl = Box(
      "stbl", Concat({Table("stsd", 1, entry),
                      Table("stsc", 1, Concat({Be(1, 4), Be(per_chunk, 4), Be(1, 4)})),
                      Box("stsz", Concat({Be(0, 4), Be(0, 4), Be(sizes.size(), 4), size_entries})),
                      Table("stco", static_cast<uint32_t>(offsets.size()), offset_entries)}));
  const Bytes trak = Box("trak", Box("mdia", Box("minf", stbl)));
  return Concat({ftyp, Box("mdat", data), Box("moov", Concat({Box("mvhd", Bytes(100, 0)), trak}))});
}

// Three samples of NAL units with 4-byte lengths: [5 + SEI 6, IDR slice 9], [slice], [slice].
const Bytes kNalData = {0, 0, 0, 2, 0x06, 0x05, 0, 0, 0, 3, 0x65, 1, 2,
                        0, 0, 0, 2, 0x41, 7,    0, 0, 0, 3, 0x41, 8, 9};
const std::vector<uint32_t> kNalSizes = {13, 6, 7};

// ---------------------------------------------------------------------------------------------
// Whole movies.

TEST(MovCheck, FfmpegAndCommittedMoviesAreWhole) {
  const auto& video = FfmpegVideoMovies();
  const auto& sound = FfmpegSoundMovies();
  if (video.empty() || sound.empty()) GTEST_SKIP() << "ffmpeg is missing";
  for (const auto* movies : {&video, &sound}) {
    for (const auto& movie : *movies) EXPECT_EQ(CheckMovie(movie.bytes), Whole::kYes) << movie.name;
  }
  for (const char* name :
       {"clip.3gp", "faststart.mp4", "moov_last.mp4", "quicktime.mov", "tone.m4a"}) {
    EXPECT_EQ(CheckMovie(IsoMediaFixture(name)), Whole::kYes) << name;
  }
  for (const char* name : {"moov_first.mov", "moov_last.mov"}) {
    EXPECT_EQ(CheckMovie(testing::StructuredSample(name)), Whole::kYes) << name;
  }
  EXPECT_EQ(CheckMovie(H264Movie(kNalData, kNalSizes, {0}, 3)), Whole::kYes);
}

TEST(MovCheck, VariantsNotFollowedAreUnchecked) {
  EXPECT_EQ(CheckMovie(IsoMediaFixture("fragmented.mp4")), Whole::kUnchecked);
  EXPECT_EQ(CheckMovie(IsoMediaFixture("picture.heic")), Whole::kUnchecked);
  // The shared sample's chunk table was emptied: nothing places its samples.
  const std::string samples = testing::SamplesDir();
  if (!samples.empty()) {
    EXPECT_EQ(CheckMovie(testing::ReadFileBytes(samples + "/exiftool-t-images/QuickTime.mov")),
              Whole::kUnchecked);
  }
  // Start codes where the lengths belong, as some devices write them.
  Bytes annex_b = kNalData;
  annex_b[3] = 1;
  EXPECT_EQ(CheckMovie(H264Movie(annex_b, kNalSizes, {0}, 3)), Whole::kYes);
  EXPECT_EQ(CheckMovie(H264Movie(kNalData, kNalSizes, {0, 13}, 2)), Whole::kUnchecked)
      << "two chunks of two samples hold four samples, of three: the tables disagree";
}

// ---------------------------------------------------------------------------------------------
// Broken movies.

TEST(MovCheck, ForeignBytesOverVideoSamplesBreakTheMovie) {
  const auto& movies = FfmpegVideoMovies();
  if (movies.size() < 2) GTEST_SKIP() << "ffmpeg is missing";
  const auto variants = testing::DamagedVariantsOf(movies);
  for (const auto& variant : variants)
    EXPECT_EQ(CheckMovie(variant.bytes), Whole::kNo) << variant.what;
  EXPECT_GT(variants.size(), 100u);
}

// Sound samples other than AAC frames are not looked into: a movie with sound is broken by missing
// bytes, another movie's tail or its end cut off.
TEST(MovCheck, MissingBytesAndForeignTailsBreakMoviesWithSound) {
  const auto& movies = FfmpegSoundMovies();
  if (movies.size() < 2) GTEST_SKIP() << "ffmpeg is missing";
  for (const auto& variant : testing::DamagedVariantsOf(movies)) {
    const std::string& what = variant.what;
    if (what.find("block missing") != std::string::npos || what.ends_with("another file's tail") ||
        what.ends_with("cut in half")) {
      EXPECT_EQ(CheckMovie(variant.bytes), Whole::kNo) << what;
    }
  }
}

// A movie whose media data ends with sound frames, its last unit's frames in another place: the
// carve takes foreign bytes in their stead, over the frames' first bytes.
TEST(MovCheck, ForeignBytesOverTheLastSoundFramesBreakTheMovie) {
  if (!testing::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is missing";
  const Bytes movie = testing::MakeWithTool(
      "ffmpeg -v error -f lavfi -i sine=frequency=440:duration=2 -c:a aac -movflags +faststart "
      "-f mp4 out");
  ASSERT_GT(movie.size(), 8192u);
  ASSERT_EQ(CheckMovie(movie), Whole::kYes);
  const Bytes noise = testing::NoiseBlock(11);
  for (const size_t tail : {size_t{600}, size_t{2000}}) {
    Bytes carved = movie;
    std::copy(noise.begin(), noise.begin() + static_cast<ptrdiff_t>(tail),
              carved.end() - static_cast<ptrdiff_t>(tail));
    EXPECT_EQ(CheckMovie(carved), Whole::kNo) << "the last " << tail << " bytes foreign";
  }
}

TEST(MovCheck, NalUnitChainsMustEndAtTheSampleEnd) {
  Bytes longer = kNalData;
  longer[9] = 4;  // the IDR slice runs one byte into the next sample
  EXPECT_EQ(CheckMovie(H264Movie(longer, kNalSizes, {0}, 3)), Whole::kNo);
  Bytes forbidden = kNalData;
  forbidden[17] = 0xC1;
  EXPECT_EQ(CheckMovie(H264Movie(forbidden, kNalSizes, {0}, 3)), Whole::kNo);
  const Bytes zeros(26, 0);
  EXPECT_EQ(CheckMovie(H264Movie(zeros, kNalSizes, {0}, 3)), Whole::kNo) << "zeros are no NAL unit";
  Bytes padded = Concat({kNalData, Bytes(3, 0)});
  EXPECT_EQ(CheckMovie(H264Movie(padded, {13, 6, 10}, {0}, 3)), Whole::kYes)
      << "zeros after a unit";
}

// ---------------------------------------------------------------------------------------------
// Hostile tables: a verdict, soon, whatever they claim.

TEST(MovCheckBadInput, HostileTablesEndWithAVerdict) {
  const std::vector<uint64_t> absurd(100000, 0x7FFFFF00);
  EXPECT_EQ(CheckMovie(H264Movie(kNalData, std::vector<uint32_t>(100000, 1), absurd, 1)),
            Whole::kNo)
      << "100,000 chunks past the end";
  // More samples per chunk than the movie has, and a size table shorter than its count.
  EXPECT_EQ(CheckMovie(H264Movie(kNalData, kNalSizes, {0}, 0xFFFFFFFF)), Whole::kUnchecked);
  Bytes short_table = H264Movie(kNalData, kNalSizes, {0}, 3);
  const auto stsz = std::search(short_table.begin(), short_table.end(), "stsz", "stsz" + 4);
  short_table[static_cast<size_t>(stsz - short_table.begin()) + 15] = 0xFF;  // count 255
  EXPECT_EQ(CheckMovie(short_table), Whole::kNo);
  // A box inside the movie box that runs past it, and a movie box of no known boxes.
  Bytes overrun = H264Movie(kNalData, kNalSizes, {0}, 3);
  const auto trak = std::search(overrun.begin(), overrun.end(), "trak", "trak" + 4);
  overrun[static_cast<size_t>(trak - overrun.begin()) - 3] = 0x7F;
  EXPECT_EQ(CheckMovie(overrun), Whole::kNo);
  const Bytes pattern = Concat({testing::Atom("moov", 0x400), testing::Atom("mdat", 0x400, 2)});
  EXPECT_EQ(CheckMovie(pattern), Whole::kUnchecked);
}

// ---------------------------------------------------------------------------------------------
// Through the carving.

TEST(MovCheck, CarvingKeepsTheWholeMovieAndNotTheBrokenOne) {
  const auto& movies = FfmpegVideoMovies();
  if (movies.empty()) GTEST_SKIP() << "ffmpeg is missing";
  const Bytes& whole = movies[0].bytes;
  ASSERT_GT(whole.size(), 3u * 4096);
  CarveHarness kept;
  kept.source.bytes() = Concat({whole, Bytes(4096, 0)});
  kept.Carve(StartFileTypeMovie(whole.data()), "MOV");
  kept.ExpectKept(whole);

  Bytes broken = whole;
  std::fill(broken.begin() + 4096, broken.begin() + 8192, 'x');
  CarveHarness dropped;
  dropped.source.bytes() = Concat({broken, Bytes(4096, 0)});
  dropped.Carve(StartFileTypeMovie(broken.data()), "MOV");
  dropped.ExpectNothingKept();
}

// The tracks of the movie's first top-level movie box, whose bytes `body` keeps.
std::vector<MovTrack> TracksOfMovieBox(const Bytes& movie, Bytes* body) {
  for (size_t at = 0; at + 8 <= movie.size();) {
    const std::optional<MovBoxHeader> box = ReadMovBoxHeader(
        std::span<const uint8_t>(movie).subspan(at, std::min<size_t>(16, movie.size() - at)),
        movie.size() - at);
    if (!box) break;
    if (std::memcmp(movie.data() + at + 4, "moov", 4) == 0) {
      body->assign(movie.begin() + static_cast<ptrdiff_t>(at + box->header_bytes),
                   movie.begin() + static_cast<ptrdiff_t>(at + box->size));
      std::vector<MovTrack> tracks;
      EXPECT_EQ(ReadMovieTracks(*body, &tracks), MoovRead::kRead);
      return tracks;
    }
    at += static_cast<size_t>(box->size);
  }
  ADD_FAILURE() << "no movie box";
  return {};
}

TEST(MovTracks, AacTracksAreToldByTheirElementaryStreamDescriptor) {
  for (const char* name :
       {"clip.3gp", "faststart.mp4", "moov_last.mp4", "quicktime.mov", "tone.m4a"}) {
    Bytes body;
    const std::vector<MovTrack> tracks = TracksOfMovieBox(IsoMediaFixture(name), &body);
    size_t aac = 0;
    for (const MovTrack& track : tracks) {
      if (track.aac) ++aac;
      if (track.samples != MovSamples::kOpaque) {
        EXPECT_FALSE(track.aac) << name;
      }
    }
    EXPECT_EQ(aac, 1u) << name;
    for (const MovTrack& track : tracks) EXPECT_EQ(track.aac_channels, track.aac ? 1 : 0) << name;
  }
}

// ffmpeg's AAC encoder, mono and stereo: the sample entry gives the channel count, and every frame
// but the first (its name in a fill element) starts with the one channel element, strictly.
TEST(MovTracks, AacFramesStartWithTheirChannelElement) {
  if (!testing::HaveTool("ffmpeg") || !testing::HaveTool("ffprobe")) GTEST_SKIP() << "no ffmpeg";
  for (const int channels : {1, 2}) {
    testing::TempDir dir;
    const std::string path = dir / "sound.m4a";
    std::string listing;
    ASSERT_EQ(testing::RunCommand("ffmpeg -v error -f lavfi -i sine=duration=2 -ac " +
                                  std::to_string(channels) + " -c:a aac " + path),
              0);
    ASSERT_EQ(testing::RunCommand("ffprobe -v error -show_entries packet=pos -of csv=p=0 " + path,
                                  &listing),
              0);
    const Bytes movie = testing::ReadFileBytes(path);
    Bytes body;
    const std::vector<MovTrack> tracks = TracksOfMovieBox(movie, &body);
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0].aac_channels, channels);
    std::replace(listing.begin(), listing.end(), ',', ' ');
    std::istringstream lines(listing);
    size_t frames = 0;
    for (size_t at = 0; lines >> at; ++frames) {
      ASSERT_LE(at + kAacFrameHead, movie.size());
      EXPECT_EQ(StartsAacFrameOf(movie.data() + at, static_cast<uint8_t>(channels)), frames > 0)
          << channels << " channels, frame " << frames;
    }
    EXPECT_GT(frames, 50u);
  }
}

}  // namespace
}  // namespace kestrel
