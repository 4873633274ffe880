// Length-driven carving: files made by real tools, laid into a source with junk after them, are
// written to exactly their stated length and listed; absurd and empty lengths, and write
// failures, lose nothing and list nothing wrong.

#include "carve/formats/counted.h"

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <filesystem>
#include <functional>

#include "run/messages.h"
#include "support/carve_harness.h"

namespace kestrel {
namespace {

using testing::SectorFeeder;

uint32_t Le32(const Bytes& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}
uint32_t Be32(const Bytes& b, size_t at) {
  return (uint32_t{b[at]} << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}
uint16_t Le16(const Bytes& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

// The lengths the dispatch computes from each header.
uint64_t RiffLength(const Bytes& b) {
  return uint64_t{Le32(b, 4)} + 8;
}
uint64_t FormLength(const Bytes& b) {
  return uint64_t{Be32(b, 4)} + 8;
}
uint64_t BmpLength(const Bytes& b) {
  return Le32(b, 2);
}
// A Sun/NeXT sound: the data offset plus the data size (the whole file, header included).
uint64_t SndLength(const Bytes& b) {
  return uint64_t{Be32(b, 4)} + Be32(b, 8);
}
// An icon or cursor: the end of the image that ends last.
uint64_t IconLength(const Bytes& b) {
  const uint16_t n = Le16(b, 4);
  uint64_t end = 0;
  for (uint16_t k = 0; k < n; ++k) {
    end = std::max<uint64_t>(end, uint64_t{Le32(b, 6 + 16u * k + 8)} + Le32(b, 6 + 16u * k + 12));
  }
  return end;
}
uint64_t WmvLength(const Bytes& b) {
  return Le32(b, 70) != 0 ? Le32(b, 70) : Le32(b, 152);
}

struct CountedCase {
  const char* name;
  const char* tool;
  const char* command;  // writes "out" in the current folder
  const char* extension;
  uint64_t (*length)(const Bytes&);
  size_t bytes = 0;  // the size the tool writes, where the case depends on it
};

// `file` laid at sector 0 of a source with two sectors of junk after it.
std::vector<uint8_t> LaidOut(const Bytes& file) {
  return Concat({file, Filler(1024)});
}

// Carves the file at sector 0 of the harness's source as the dispatch starts it, with the
// length its header states; returns the sectors the file took.
uint64_t CarveLaidOut(CarveHarness& h, const char* extension, uint64_t length) {
  return h.Carve(CountedState{length}, extension, 0, std::numeric_limits<uint64_t>::max(),
                 /*finish_at_end=*/false);
}

void ExpectKeptWhole(CarveHarness& h, const Bytes& expected) {
  h.ExpectKept(expected);
  EXPECT_TRUE(h.ui.messages.empty());
}

class CountedToolFile : public ::testing::TestWithParam<CountedCase> {};

TEST_P(CountedToolFile, IsWrittenToItsStatedLength) {
  const CountedCase& c = GetParam();
  if (!testing::HaveTool(c.tool)) GTEST_SKIP() << c.tool << " is not installed";
  testing::TempDir work;
  ASSERT_EQ(testing::RunCommand("cd '" + work.path() + "' && " + c.command), 0);
  const auto file = testing::ReadFileBytes(work / "out");
  ASSERT_GT(file.size(), 0u);
  if (c.bytes != 0) {
    ASSERT_EQ(file.size(), c.bytes);
  }
  ASSERT_EQ(c.length(file), file.size()) << "the tool's header does not state its length";
  CarveHarness h(LaidOut(file));

  const uint64_t fed = CarveLaidOut(h, c.extension, c.length(file));

  EXPECT_EQ(fed, (file.size() + 511) / 512);
  ExpectKeptWhole(h, file);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, CountedToolFile,
    ::testing::Values(
        CountedCase{"Wav", "sox", "sox -n -r 8000 -b 16 -c 1 -t wav out synth 0.2 sine 440", "WAV",
                    RiffLength},
        CountedCase{"Aiff", "sox", "sox -n -r 8000 -b 16 -c 2 -t aiff out synth 0.1 sine 440",
                    "AIF", FormLength},
        CountedCase{"Snd", "sox", "sox -n -r 8000 -b 16 -c 1 -t au out synth 0.1 sine 440", "SND",
                    SndLength},
        CountedCase{"Bmp", "gm", "gm convert -size 37x23 gradient:red-blue bmp:out", "BMP",
                    BmpLength},
        CountedCase{"Ico", "icotool",
                    "gm convert -size 16x16 gradient:red-blue a.png && gm convert -size 32x32 "
                    "plasma: b.png && icotool -c -o out a.png b.png",
                    "ICO", IconLength},
        // A 256 x 256 image (stored as PNG) has 0 for its width and height.
        CountedCase{"IcoWith256PixelImage", "icotool",
                    "gm convert -size 16x16 gradient:red-blue a.png && gm convert -size 256x256 "
                    "plasma: b.png && icotool -c -o out a.png -r b.png",
                    "ICO", IconLength},
        CountedCase{"Cur", "icotool",
                    "gm convert -size 32x32 gradient:red-blue a.png && icotool -c --cursor "
                    "--hotspot-x=3 --hotspot-y=4 -o out a.png",
                    "CUR", IconLength},
        CountedCase{"Avi", "ffmpeg",
                    "ffmpeg -v error -f lavfi -i testsrc=duration=1:size=64x48:rate=5 -c:v mjpeg "
                    "-f avi out",
                    "AVI", RiffLength},
        CountedCase{"Wmv", "ffmpeg",
                    "ffmpeg -v error -f lavfi -i testsrc=duration=1:size=64x48:rate=5 -f lavfi -i "
                    "sine=duration=1 -f asf out",
                    "WMV", WmvLength},
        // 8-bit mono samples after a 44-byte header: 10,000 bytes take 20 sectors, and 1,024
        // bytes (whole sectors) close with their last sector.
        CountedCase{"Wav8Bit", "sox", "sox -n -r 8000 -b 8 -c 1 -t wav out synth 1.2445 sine 440",
                    "WAV", RiffLength, 10000},
        CountedCase{"Wav8BitWholeSectors", "sox",
                    "sox -n -r 8000 -b 8 -c 1 -t wav out synth 0.1225 sine 440", "WAV", RiffLength,
                    1024}),
    [](const ::testing::TestParamInfo<CountedCase>& param_info) {
      return std::string(param_info.param.name);
    });

// Samples from other producers; a sample is used only up to the length its header states.
TEST(CountedFile, SampleFilesEndAtTheirStatedLength) {
  const std::string samples = testing::SamplesDir();
  if (samples.empty()) GTEST_SKIP() << "the shared samples folder is missing";
  struct Sample {
    const char* name;
    const char* extension;
    uint64_t (*length)(const Bytes&);
  };
  for (const Sample& sample :
       {Sample{"AIFF.aif", "AIF", FormLength}, Sample{"BMP.bmp", "BMP", BmpLength},
        Sample{"ICO.ico", "ICO", IconLength}, Sample{"RIFF.wav", "WAV", RiffLength}}) {
    SCOPED_TRACE(sample.name);
    const auto file = testing::ReadFileBytes(samples + "/exiftool-t-images/" + sample.name);
    if (file.empty()) continue;
    const uint64_t length = sample.length(file);
    ASSERT_LE(length, file.size()) << "sample is cut short";
    CarveHarness h(LaidOut(file));
    CarveLaidOut(h, sample.extension, length);
    ExpectKeptWhole(h, {file.begin(), file.begin() + static_cast<ptrdiff_t>(length)});
  }
}

TEST(CountedFile, AbsurdLengthCopiesSectorsUntilTheDriverFinishesAndIsNotKept) {
  CarveHarness h(Concat({testing::Bytes("BM"), Filler(40 * 512)}));
  const uint64_t sectors = 41;

  // A 4 GiB bitmap.
  EXPECT_EQ(CarveLaidOut(h, "BMP", 0xFFFFFFFFu), sectors);
  EXPECT_TRUE(h.engine.is_open());
  EXPECT_EQ(h.writer.length(), sectors * 512);

  // The next header (or the end of the scan) finishes it: never complete, so not kept.
  h.engine.Finish();
  h.ExpectNothingKept();
}

TEST(CountedFile, StatedLengthOfZeroIsDeletedAndNotListed) {
  CarveHarness h(Concat({testing::Bytes("!BDN"), Filler(1000)}));
  // WMV files are otherwise kept even when incomplete.
  CountedState state{0, /*keep_unfinished=*/true};

  // Deleted with its header sector, before anything else can end it.
  h.Carve(state, "WMV", 0, 1, /*finish_at_end=*/false);
  h.ExpectNothingKept();
}

// Write failures: the damaged file is deleted and never listed, and the scan is told to stop.
void ExpectFailedWriteLeavesNothing(CarveHarness& h, const CarveEngine& engine,
                                    const std::string& folder, int message) {
  EXPECT_TRUE(engine.stopped());
  EXPECT_FALSE(engine.is_open());
  EXPECT_TRUE(h.ui.rows.empty());
  EXPECT_EQ(h.run.recovered_count(), 0u);
  EXPECT_TRUE(testing::ListFiles(folder).empty());
  ASSERT_EQ(h.ui.MessageIds(), std::vector<int>{message});
}

TEST(CountedFile, FullDiskStopsTheScanAndKeepsNothing) {
  const auto file = Concat({testing::Bytes("RIFF"), Filler(100 * 1024)});
  CarveHarness h(LaidOut(file));
  const std::string mount_point = h.dir / "small";
  std::filesystem::create_directory(mount_point);
  if (::mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=16k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs CAP_SYS_ADMIN)";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{mount_point};
  // The engine writes into the small file system.
  RecoveredWriter writer(h.run, mount_point + "/");
  CarveEngine engine(writer, h.source, kAllFileTypesMask);
  const SectorFeeder feeder(h.source.bytes());
  ASSERT_TRUE(
      engine.Open("WAV", kNoGuards, MakeOpenFormat(CountedState{file.size()}), feeder.At(0)));
  for (uint64_t sector = 1; engine.is_open() && sector < feeder.sector_count(); ++sector) {
    engine.Feed(feeder.At(sector));
  }

  ExpectFailedWriteLeavesNothing(h, engine, mount_point, msg::kDiskFull);
  EXPECT_EQ(h.ui.messages[0].argument, mount_point);
}

TEST(CountedFile, OtherWriteFailureDeletesTheFileAndListsNothing) {
  const auto file = Concat({testing::Bytes("RIFF"), Filler(20000)});
  CarveHarness h(LaidOut(file));
  // Writes beyond 4 KiB fail with EFBIG (the signal is ignored so that write() reports it).
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto* old_handler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

  CarveLaidOut(h, "WAV", file.size());

  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, old_handler);
  ExpectFailedWriteLeavesNothing(h, h.engine, h.dir.path(), msg::kWriteFailed);
}

}  // namespace
}  // namespace kestrel
