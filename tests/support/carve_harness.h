#pragma once
// A carving engine over a temporary run folder, for tests of the format modules: the writer
// writes into the folder, the fake RunUi records the listed files and the messages.

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "carve/carve_engine.h"
#include "platform/testing/source_doubles.h"
#include "run/recovered_writer.h"
#include "run/run_context.h"
#include "support/fake_run_ui.h"
#include "support/sector_feeder.h"
#include "support/temp_dir.h"

namespace kestrel::testing {

struct CarveHarness {
  explicit CarveHarness(std::vector<uint8_t> source_bytes = {},
                        uint64_t selected = kAllFileTypesMask)
      : source(std::move(source_bytes)),
        writer(run, dir.path() + "/"),
        engine(writer, source, selected) {
    run.run_folder = dir.path() + "/";
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
  uint64_t Carve(FormatState state, const char* extension, uint64_t first = 0,
                 uint64_t last = std::numeric_limits<uint64_t>::max(), bool finish_at_end = true) {
    const SectorFeeder feeder(source.bytes());
    EXPECT_TRUE(engine.Open(extension, kGuardNone, std::move(state), feeder.At(first)));
    uint64_t sector = first + 1;
    for (; engine.is_open() && sector < feeder.sector_count() && sector < last; ++sector) {
      engine.Feed(feeder.At(sector));
    }
    if (finish_at_end) engine.Finish();
    return sector - first;
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

// The concatenation of byte strings.
inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline std::vector<uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

// Filler that no carving routine takes for a marker: `n` bytes of 'Z'.
inline std::vector<uint8_t> Filler(size_t n) {
  return std::vector<uint8_t>(n, 'Z');
}

}  // namespace kestrel::testing
