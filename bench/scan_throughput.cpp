// Measures the raw scan's throughput in MB/s over image files: kestrel_scan_bench IMAGE...
// Each image is scanned twice (the first pass warms the page cache) and the second is timed.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/settings_store.h"
#include "run/file_types.h"
#include "run/run_context.h"
#include "run/silent_run_ui.h"
#include "scan/raw_scan.h"

namespace {

double ScanSeconds(const std::string& image, const std::string& out, int* files) {
  kestrel::SilentRunUi ui;
  kestrel::RunContext run(ui);
  run.BeginRun();
  kestrel::FileTypeSelection types;
  types.mask = kestrel::kAllFileTypesMask;
  kestrel::SettingsStore settings(out + "/registry.reg");
  kestrel::RawScanRequest request;
  request.path = image;
  request.recovery_folder = out;
  auto start = std::chrono::steady_clock::now();
  kestrel::RunRawScan(run, types, settings, request);
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  *files = ui.rows;
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: kestrel_scan_bench OUT_DIR IMAGE...\n");
    return 2;
  }
  const std::string out = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::string image = argv[i];
    const double megabytes = static_cast<double>(std::filesystem::file_size(image)) / 1e6;
    int files = 0;
    std::filesystem::remove_all(out);
    ScanSeconds(image, out, &files);
    std::filesystem::remove_all(out);
    const double seconds = ScanSeconds(image, out, &files);
    std::printf("%-40s %9.1f MB %8.3f s %9.1f MB/s %6d files\n",
                std::filesystem::path(image).filename().c_str(), megabytes, seconds,
                megabytes / seconds, files);
  }
  return 0;
}
