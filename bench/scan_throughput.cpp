// Measures the raw scan's throughput in MB/s over image files: kestrel_scan_bench OUT IMAGE...
// Each image is read once to warm the page cache, then scanned into a fresh folder (recovered
// files are removed only after the timing: mass deletion just before would slow the file
// system's own inode allocation and measure that instead).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "recover/raw_scan.h"
#include "run/file_types.h"
#include "run/run_context.h"
#include "run/silent_run_ui.h"

namespace {

double ScanSeconds(const std::string& image, const std::string& out, int* files) {
  kestrel::SilentRunUi ui;
  kestrel::RunContext run(ui);
  run.BeginRun();
  kestrel::RawScanRequest request;
  request.types.mask = kestrel::kAllFileTypesMask;
  request.path = image;
  request.recovery_folder = out;
  auto start = std::chrono::steady_clock::now();
  kestrel::RunRawScan(run, request);
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  *files = ui.rows;
  return seconds;
}

void WarmCache(const std::string& image) {
  std::FILE* file = std::fopen(image.c_str(), "rb");
  if (file == nullptr) return;
  std::vector<char> buffer(1 << 20);
  while (std::fread(buffer.data(), 1, buffer.size(), file) == buffer.size()) {
  }
  std::fclose(file);
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
    WarmCache(image);
    std::filesystem::remove_all(out);
    const double seconds = ScanSeconds(image, out, &files);
    std::printf("%-40s %9.1f MB %8.3f s %9.1f MB/s %6d files\n",
                std::filesystem::path(image).filename().c_str(), megabytes, seconds,
                megabytes / seconds, files);
  }
  return 0;
}
