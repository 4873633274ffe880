// Movies, sound and pictures that start with an "ftyp" atom (MP4, MOV, 3GP, M4A, HEIC made by
// ffmpeg and libheif), laid into images among zeros, among random bytes and next to files of
// other types, come back from the scan byte for byte under the name their major brand gives.

#include <cstring>
#include <iterator>
#include <random>

#include "support/fixture_samples.h"
#include "support/image_builder.h"
#include "support/memory_scan.h"

namespace kestrel {
namespace {

using testing::Filler;
using testing::ImageBuilder;

struct Movie {
  const char* file;  // in tests/fixtures/iso_media/
  const char* extension;
};

constexpr Movie kMovies[] = {
    {"moov_last.mp4", "MP4"}, {"faststart.mp4", "MP4"}, {"fragmented.mp4", "MP4"},
    {"quicktime.mov", "MOV"}, {"clip.3gp", "3GP"},      {"tone.m4a", "M4A"},
    {"picture.heic", "HEIC"},
};

std::vector<uint8_t> ReadMovie(const char* file) {
  return testing::ReadFileBytes(std::string(KESTREL_SOURCE_DIR) + "/tests/fixtures/iso_media/" +
                                file);
}

using testing::ExpectCarved;
using testing::ExpectedFiles;

TEST(IsoMediaRecovery, EveryMovieAmongZerosOrRandomBytesComesBackWhole) {
  for (Filler filler : {Filler::kZeros, Filler::kRandom}) {
    SCOPED_TRACE(filler == Filler::kZeros ? "zeros" : "random");
    ImageBuilder image(5);
    ExpectedFiles expected;
    uint64_t seed = 21;
    for (const Movie& movie : kMovies) {
      image.AddRandom(5, seed++, filler);  // zero sectors for kZeros
      image.AddFile(ReadMovie(movie.file), movie.file, filler);
      expected.Add(movie.extension, ReadMovie(movie.file));
    }
    image.AddRandom(16, seed, filler);
    ExpectCarved(image.bytes(), expected);
  }
}

TEST(IsoMediaRecovery, MoviesBackToBackComeBackWhole) {
  // Each movie's last sector is filled up with random bytes and the next movie starts at once.
  ImageBuilder image(9);
  ExpectedFiles expected;
  for (int round = 0; round < 2; ++round) {
    for (const Movie& movie : kMovies) {
      image.AddFile(ReadMovie(movie.file), movie.file, Filler::kRandom);
      expected.Add(movie.extension, ReadMovie(movie.file));
    }
  }
  image.AddZeros(4);
  ExpectCarved(image.bytes(), expected);
}

// Movies with files of other types right before and after them, no gap between.
ImageBuilder MoviesAmongOtherFiles(ExpectedFiles& movies, ExpectedFiles& all) {
  const char* const others[] = {"jfif.jpg",    "picture.png", "document.pdf", "tone.wav",
                                "picture.gif", "exif.jpg",    "clip.avi",     "tone.mp3"};
  ImageBuilder image;
  image.AddZeros(2);
  size_t next_other = 0;
  for (const Movie& movie : kMovies) {
    const char* other = others[next_other++ % std::size(others)];
    const testing::FixtureSample& sample = testing::FixtureSampleNamed(other);
    image.AddSample(other);
    all.Add(std::string(sample.extension), testing::ReadFixtureSample(other));
    image.AddFile(ReadMovie(movie.file), movie.file);
    all.Add(movie.extension, ReadMovie(movie.file));
    movies.Add(movie.extension, ReadMovie(movie.file));
  }
  image.AddSample("picture.png");
  all.Add("PNG", testing::ReadFixtureSample("picture.png"));
  image.AddZeros(8);
  return image;
}

TEST(IsoMediaRecovery, MoviesNextToFilesOfOtherTypesComeBackWholeUnderTheMovSelectionOnly) {
  ExpectedFiles movies;
  ExpectedFiles all;
  const ImageBuilder image = MoviesAmongOtherFiles(movies, all);
  ExpectCarved(image.bytes(), all);
  ExpectCarved(image.bytes(), movies, TypeBit(kMov));
  for (const auto& file :
       testing::CarveInMemory(image.bytes(), kAllFileTypesMask & ~TypeBit(kMov))) {
    const std::string extension = file.name.substr(file.name.find('.') + 1);
    for (const Movie& movie : kMovies) EXPECT_NE(extension, movie.extension) << file.name;
  }
}

TEST(IsoMediaRecovery, RandomSectorsNamingMovieAtomsGiveNoFile) {
  // Random sectors whose first bytes read like an atom header: a file type atom with a sane
  // size and brand, and each of the five atom types that start a movie without one, their sizes
  // random but inside the image. None holds a movie's description and media data.
  constexpr uint64_t kSectors = 4096;
  ImageBuilder image(3);
  image.AddRandom(kSectors, 77);
  std::vector<uint8_t> bytes = image.bytes();
  std::mt19937_64 random(78);
  const char* const types[] = {"ftyp", "mdat", "moov", "free", "skip", "wide"};
  for (int k = 0; k < 60; ++k) {
    const uint64_t sector = 1 + random() % (kSectors - 64);
    uint8_t* header = bytes.data() + sector * 512;
    const char* type = types[k % std::size(types)];
    const bool file_type = std::strcmp(type, "ftyp") == 0;
    const uint32_t size =
        file_type ? 24 : static_cast<uint32_t>(16 + random() % ((kSectors - sector) * 512 - 16));
    for (int b = 0; b < 4; ++b) header[b] = static_cast<uint8_t>(size >> (24 - 8 * b));
    std::memcpy(header + 4, type, 4);
    if (file_type) std::memcpy(header + 8, "isom", 4);
  }
  const auto carved = testing::CarveInMemory(bytes);
  for (const auto& file : carved) ADD_FAILURE() << "junk file " << file.name;
}

}  // namespace
}  // namespace kestrel
