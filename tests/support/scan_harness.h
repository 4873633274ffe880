#pragma once
// Runs the raw scan over an image file as the command line does, with a scripted interface.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/byte_source.h"
#include "recover/raw_scan.h"
#include "run/file_types.h"
#include "run/run_context.h"
#include "run/run_outcome.h"
#include "support/fake_run_ui.h"
#include "support/temp_dir.h"

namespace kestrel::testing {

struct ScanRun {
  RunResult result;
  FakeRunUi ui;
  std::string run_folder;          // ends with "/"
  std::vector<std::string> files;  // names in the run folder, sorted
  std::vector<uint8_t> File(const std::string& name) const {
    return ReadFileBytes(run_folder + name);
  }
};

struct ScanOptions {
  TypeSet types = kAllFileTypesMask;
  std::function<std::unique_ptr<ByteSource>(std::unique_ptr<ByteSource>)> wrap_source;
  std::function<void(FakeRunUi&)> script;  // prepares answers before the run
  // Called at every pump of the run (e.g. to press Cancel).
  std::function<void(RunContext&, FakeRunUi&)> on_pump;
  // How the source is read, and what is scanned.
  RawScanRequest::Reading reading = RawScanRequest::Reading::kReadAhead;
  ReadAheadShape read_ahead;
  bool free_space_only = false;
  bool keep_not_whole = false;
  // Whether the scan offers to go on with an unfinished one (as the window does).
  bool offer_resume = false;
  bool report = false;  // the run writes its report.dfxml
  std::function<void(const RunProgress&)> on_progress;
};

// Options that select only `types`.
inline ScanOptions OnlyTypes(const TypeSet& types) {
  ScanOptions options;
  options.types = types;
  return options;
}

// Writes `image` into `dir`, scans it with a recovery folder inside `dir`, and collects the
// result. The settings store is a file in `dir`.
std::unique_ptr<ScanRun> ScanImage(const std::vector<uint8_t>& image, const TempDir& dir,
                                   const ScanOptions& options = {});

// Scans the image file `image_path` as it is (recovery folder and settings in `dir`).
std::unique_ptr<ScanRun> ScanImageFile(const std::string& image_path, const TempDir& dir,
                                       const ScanOptions& options = {});

// `bytes` padded with zeros to a whole number of sectors.
std::vector<uint8_t> PadToSector(std::vector<uint8_t> bytes);

}  // namespace kestrel::testing
