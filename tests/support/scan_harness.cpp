#include "support/scan_harness.h"

#include <stdlib.h>

#include "output/recovered_output.h"
#include "platform/settings_store.h"
#include "recover/raw_scan.h"
#include "recover/scan_checkpoint.h"
#include "run/file_types.h"
#include "run/run_context.h"

namespace kestrel::testing {

std::unique_ptr<ScanRun> ScanImage(const std::vector<uint8_t>& image, const TempDir& dir,
                                   const ScanOptions& options) {
  const std::string image_path = dir / "source.img";
  WriteFileBytes(image_path, image);
  return ScanImageFile(image_path, dir, options);
}

std::unique_ptr<ScanRun> ScanImageFile(const std::string& image_path, const TempDir& dir,
                                       const ScanOptions& options) {
  ::setenv("KESTREL_REGISTRY", (dir / "registry.reg").c_str(), 1);
  auto scan = std::make_unique<ScanRun>();
  if (options.script) options.script(scan->ui);
  RunContext run(scan->ui);
  run.BeginRun();
  RawScanRequest request;
  request.path = image_path;
  request.recovery_folder = dir / "recovered";
  request.wrap_source = options.wrap_source;
  request.reading = options.reading;
  request.read_ahead = options.read_ahead;
  request.free_space_only = options.free_space_only;
  request.keep_not_whole = options.keep_not_whole;
  request.offer_resume = options.offer_resume;
  request.dfxml.enabled = options.report;
  scan->ui.on_progress = options.on_progress;
  if (options.on_pump) {
    FakeRunUi* ui = &scan->ui;
    scan->ui.on_pump = [&run, ui, &options] { options.on_pump(run, *ui); };
  }
  request.types.mask = options.types;
  SettingsStore settings(dir / "registry.reg");
  ApplyStoredChoices(settings, &request.types, &request.recovery_folder);
  scan->result = RunRawScan(run, request);
  scan->run_folder = run.run_folder();
  if (!scan->run_folder.empty()) {
    for (const std::string& name : ListFiles(scan->run_folder)) {
      // The checkpoint a scan that did not complete keeps is no recovered file.
      if (name != kCheckpointName) scan->files.push_back(name);
    }
  }
  return scan;
}

std::vector<uint8_t> PadToSector(std::vector<uint8_t> bytes) {
  bytes.resize((bytes.size() + 511) / 512 * 512, 0);
  return bytes;
}

}  // namespace kestrel::testing
