// Fuzzes the NTFS reader: one file record parsed, its name made a written name and its content
// read (first byte even), or a whole small volume opened through the probe table and its deleted
// files read (first byte odd).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "fs/file_name.h"
#include "fs/ntfs/ntfs_data_reader.h"
#include "fs/ntfs/ntfs_record.h"
#include "fs/probe.h"
#include "platform/testing/source_doubles.h"
#include "platform/utf16_text.h"
#include "run/run_context.h"
#include "run/silent_run_ui.h"
#include "sources/scan_source.h"

namespace {

using kestrel::MemorySource;

constexpr uint32_t kCluster = 4096;
constexpr uint64_t kVolumeClusters = 16;
constexpr uint64_t kMaxContentBytes = 1 << 20;
constexpr uint64_t kMaxRecords = 2048;

// Reads a content the way the recovery copies it (holes skipped), but stops after
// kMaxContentBytes.
template <typename Reader>
void Drain(Reader& reader) {
  std::vector<uint8_t> piece(kestrel::kNtfsPieceBytes);
  reader.StoredBytes();
  uint64_t total = 0;
  while (!reader.at_end() && total < kMaxContentBytes) {
    if (reader.SkipHole() != 0) continue;  // a hole costs no reading, whatever its length
    const int64_t got = reader.ReadNext(piece.data(), piece.size());
    if (got <= 0) break;
    total += static_cast<uint64_t>(got);
  }
}

void FuzzRecord(const uint8_t* data, size_t size) {
  static const uint32_t kSizes[] = {512, 1024, 4096};
  const uint32_t record_size = kSizes[size > 0 ? data[0] % 3 : 0];
  std::vector<uint8_t> record(record_size, 0);
  if (size > 1) std::memcpy(record.data(), data + 1, std::min<size_t>(size - 1, record_size));
  std::vector<uint8_t> volume(kVolumeClusters * kCluster);
  for (size_t i = 0; i < volume.size(); ++i) volume[i] = static_cast<uint8_t>(i * 31);
  MemorySource source(std::move(volume));

  kestrel::MftRecord parser;
  if (parser.SetParams(record_size, kCluster, kVolumeClusters) != 0) return;
  std::vector<uint8_t> copy = record;
  if (parser.ParseRecord(copy, false) == 0 && parser.file_name()) {
    kestrel::Utf8FileName(kestrel::Utf16ToUtf8(parser.file_name()->name));
  }
  if (parser.ParseRecord(record, true) != 0 || !parser.data()) return;
  kestrel::NtfsDataReader reader(source, kCluster, *parser.data());
  Drain(reader);
}

// A whole small volume through the FileSystem interface: its deleted files with their content,
// and its free-space map.
void FuzzVolume(const uint8_t* data, size_t size) {
  MemorySource source(std::vector<uint8_t>(data, data + size));
  kestrel::ProbeResult probed = kestrel::OpenFileSystem(source);
  if (!probed.file_system) return;
  kestrel::SilentRunUi ui;
  kestrel::RunContext run(ui);
  std::vector<kestrel::DeletedFile> files;
  if (probed.file_system->FindDeleted("/", run, &files) == kestrel::SearchResult::kDone) {
    for (size_t i = 0; i < std::min<size_t>(files.size(), kMaxRecords); ++i) {
      auto content = probed.file_system->OpenContent(files[i]);
      if (!content) continue;
      content->Runs();
      Drain(*content);
    }
  }
  std::unique_ptr<kestrel::FreeSpaceMap> map;
  probed.file_system->OpenFreeSpace(&map);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] % 2 == 0) {
    FuzzRecord(data + 1, size - 1);
  } else {
    FuzzVolume(data + 1, size - 1);
  }
  return 0;
}
