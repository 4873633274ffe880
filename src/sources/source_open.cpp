// Opening a volume, a disk or a named path as the read-only ScanSource of a run.

#include "platform/image_container.h"
#include "run/messages.h"
#include "sources/drive_enumeration.h"

namespace kestrel {
namespace {

// Opens the `length` bytes at `base` of `path` (length 0: to the end). Returns 0 or the id of
// the message that ends the run.
int OpenBytes(const std::string& path, uint64_t base, uint64_t length, ScanSource* source) {
  source->device_path = path;
  source->bytes.reset();
  OpenedImage image = OpenImage(path, base, length);
  source->container = image.container;
  source->open_error = image.message;
  std::unique_ptr<ByteSource> bytes = std::move(image.bytes);
  if (!bytes) return image.message.empty() ? msg::kCannotReadDevice : msg::kImageUnreadable;
  const auto* file = dynamic_cast<const FileByteSource*>(bytes.get());
  source->bytes_per_sector = file ? QueryFdSectorSize(file->fd()) : kSectorBytes;
  source->sector_count = bytes->Size() / kSectorBytes;
  if (source->sector_count == 0) return msg::kMediaNotPresent;
  if (!bytes->ReadExact(0, source->boot_sector.data(), kSectorBytes)) return msg::kCannotReadDevice;
  source->bytes = std::move(bytes);
  return 0;
}

}  // namespace

int OpenVolumeSource(const VolumeEntry& volume, ScanSource* source) {
  source->kind = SourceKind::kVolume;
  source->drive_letter = volume.letter;
  source->disk_ordinal = -1;
  // A partition of an image is its slice of the file; any other volume is the whole file or
  // device, measured anew (a medium may have changed since the list was made).
  uint64_t length = volume.offset != 0 ? volume.bytes : 0;
  return OpenBytes(volume.device, volume.offset, length, source);
}

int OpenDiskSource(const PhysicalDiskEntry& disk, ScanSource* source) {
  source->kind = SourceKind::kDisk;
  source->drive_letter = 0;
  source->disk_ordinal = disk.ordinal;
  return OpenBytes(disk.device, 0, 0, source);
}

int OpenPathSource(const std::string& path, SourceKind kind, ScanSource* source) {
  source->kind = kind;
  source->drive_letter = 0;
  source->disk_ordinal = -1;
  return OpenBytes(path, 0, 0, source);
}

}  // namespace kestrel
