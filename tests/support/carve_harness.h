#pragma once
// A carving engine over a temporary run folder, for tests of the format modules: the writer
// writes into the folder, the fake RunUi records the listed files and the messages.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "carve/carve_engine.h"
#include "carve/registry.h"
#include "output/recovered_writer.h"
#include "platform/testing/source_doubles.h"
#include "run/run_context.h"
#include "support/byte_strings.h"
#include "support/fake_run_ui.h"
#include "support/sector_feeder.h"
#include "support/temp_dir.h"

namespace kestrel::testing {

struct CarveHarness {
  explicit CarveHarness(std::vector<uint8_t> source_bytes = {},
                        const TypeSet& selected = kAllFileTypesMask)
      : source(std::move(source_bytes)),
        writer(run, dir.path() + "/"),
        engine(writer, source, selected) {
    run.SetRunFolder(dir.path() + "/");
  }

  // The regular files in the run folder, sorted.
  std::vector<std::string> Files() const { return ListFiles(dir.path()); }
  std::vector<uint8_t> FileBytes(const std::string& name) const {
    return ReadFileBytes(dir / name);
  }
  // The one file in the run folder (empty when there is not exactly one).
  std::vector<uint8_t> OnlyFile() const {
    auto names = Files();
    return names.size() == 1 ? FileBytes(names[0]) : std::vector<uint8_t>{};
  }

  // Opens a file with `state` at sector `first` of the source (its header sector), as the
  // dispatch does, and feeds the sectors after it while the file stays open, up to `last`; with
  // `finish_at_end` a file still open is finished, as a new header or the scan's end would.
  // Returns the number of sectors the file took, its header sector included.
  template <typename State>
  uint64_t Carve(State state, const char* extension, uint64_t first = 0,
                 uint64_t last = std::numeric_limits<uint64_t>::max(), bool finish_at_end = true) {
    const SectorFeeder feeder(source.bytes());
    EXPECT_TRUE(
        engine.Open(extension, kNoGuards, MakeOpenFormat(std::move(state)), feeder.At(first)));
    uint64_t sector = first + 1;
    for (; engine.is_open() && sector < feeder.sector_count() && sector < last; ++sector) {
      engine.Feed(feeder.At(sector));
    }
    if (finish_at_end) engine.Finish();
    return sector - first;
  }

  // Carves `image` from sector 0 with `state` (finishing a file still open) and returns the one
  // file kept (empty when none).
  template <typename State>
  std::vector<uint8_t> CarveOnly(State state, const char* extension, std::vector<uint8_t> image) {
    source.bytes() = std::move(image);
    Carve(std::move(state), extension);
    return OnlyFile();
  }

  // Exactly `expected` was kept (under `name` when given) and listed once at its size, and the
  // file is closed.
  void ExpectKept(const std::vector<uint8_t>& expected, const std::string& name = {}) const {
    if (name.empty()) {
      EXPECT_EQ(OnlyFile(), expected);
    } else {
      ASSERT_EQ(Files(), std::vector<std::string>{name});
      EXPECT_EQ(FileBytes(name), expected);
    }
    ASSERT_EQ(ui.rows.size(), 1u);
    if (!name.empty()) {
      EXPECT_EQ(ui.rows[0].name, name);
    }
    EXPECT_EQ(ui.rows[0].bytes, expected.size());
    EXPECT_EQ(run.recovered_count(), 1u);
    EXPECT_FALSE(engine.is_open());
  }
  // Nothing was kept or listed, and the file is closed.
  void ExpectNothingKept() const {
    EXPECT_TRUE(Files().empty());
    EXPECT_TRUE(ui.rows.empty());
    EXPECT_EQ(run.recovered_count(), 0u);
    EXPECT_FALSE(engine.is_open());
  }

  // The start values the module makes from the header at sector `at` of the source.
  template <typename Start>
  auto StartAt(uint64_t at, Start start) {
    const SectorFeeder feeder(source.bytes());
    const SectorInput in = feeder.At(at);
    return start(engine.View(in));
  }

  TempDir dir;
  FakeRunUi ui;
  RunContext run{ui};
  MemorySource source;
  RecoveredWriter writer;
  CarveEngine engine;
};

// Feeds `image` from sector 0 straight to a module's feed function, as if `written` bytes of the
// file came before it, until the module stops asking for more; `written` grows by what was taken.
template <typename State, typename FeedFunction>
Fed FeedDirect(State& state, FeedFunction feed, const std::vector<uint8_t>& image,
               uint64_t& written) {
  const SectorFeeder feeder(image);
  MemorySource bytes(image);
  Fed fed;
  for (uint64_t sector = 0; sector < feeder.sector_count(); ++sector) {
    fed = feed(state, {feeder.At(sector), bytes, written, kAllFileTypesMask});
    written += fed.write;
    if (fed.step != Step::kMore) break;
  }
  return fed;
}

// Filler that no carving routine takes for a marker: `n` bytes of 'Z'.
inline std::vector<uint8_t> Filler(size_t n) {
  return std::vector<uint8_t>(n, 'Z');
}

}  // namespace kestrel::testing

namespace kestrel {
// The names every carving test uses.
using testing::CarveHarness;
using testing::Concat;
using testing::Filler;
using Bytes = std::vector<uint8_t>;
}  // namespace kestrel
