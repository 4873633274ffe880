#pragma once
// A carving session over a temporary run folder, for tests of the carving routines: the session
// writes into the folder, the fake RunUi records the listed files and the messages.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "carve/carve_session.h"
#include "disk/scan_source.h"
#include "platform/testing/source_doubles.h"
#include "run/run_context.h"
#include "support/fake_run_ui.h"
#include "support/sector_feeder.h"
#include "support/temp_dir.h"

namespace kestrel::testing {

struct CarveHarness {
  explicit CarveHarness(std::vector<uint8_t> source_bytes = {})
      : source(std::move(source_bytes)), session(run, source) {
    session.run_folder = dir.path() + "/";
    session.recovery_folder_text = dir.path();
    run.run_folder = session.run_folder;
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

  // Feeds sectors from `first` on while the output file stays open, as the driver's continuation
  // does for a routine that closes its own file. Returns the number of sectors fed.
  uint64_t FeedWhileOpen(const SectorFeeder& feeder,
                         const std::function<void(const SectorInput&)>& carve, uint64_t first = 0) {
    uint64_t fed = 0;
    for (uint64_t sector = first; sector < feeder.sector_count() && session.st.file_open;
         ++sector) {
      carve(feeder.At(sector));
      ++fed;
    }
    return fed;
  }

  // Opens a file of `code` as the dispatch does, gives the first sector to `start` and then
  // every sector from `first` on to `carve` while the file stays open (up to `last`); with
  // `finish_at_end` the common finish ends a file still open, as a new header or the scan's end
  // would.
  void CarveFrom(uint8_t code, const char* extension, uint64_t first, uint64_t last,
                 bool finish_at_end, const std::function<void(const SectorInput&)>& start,
                 const std::function<void(const SectorInput&)>& carve) {
    const SectorFeeder feeder(source.bytes());
    EXPECT_TRUE(session.OpenOutput(code, extension));
    start(feeder.At(first));
    for (uint64_t sector = first;
         session.st.file_open && sector < feeder.sector_count() && sector < last; ++sector) {
      carve(feeder.At(sector));
    }
    if (finish_at_end && session.st.file_open) session.FinishCarvedFile(code);
  }

  TempDir dir;
  FakeRunUi ui;
  RunContext run{ui};
  MemorySource source;
  CarveSession session;
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
