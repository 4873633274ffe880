#pragma once
// The one place a volume's file system is recognised: a table of probes, each a name and an
// opener that looks at the boot sector and opens the file system or refuses the volume.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "fs/file_system.h"
#include "platform/byte_source.h"
#include "platform/sector_size.h"
#include "run/run_ui.h"

namespace kestrel {

// What a probe made of a volume: its file system, or why it is refused (message and icon).
struct ProbeResult {
  std::unique_ptr<FileSystem> file_system;
  int refusal = 0;
  MessageIcon icon = MessageIcon::kStop;
};

using BootSector = std::array<uint8_t, kSectorBytes>;

// Nothing when the boot sector is not of its file system.
using Opener = std::optional<ProbeResult> (*)(ByteSource& volume, const BootSector& boot);

struct ProbeRow {
  const char* name;
  Opener open;
};

// The rows in the order they are tried.
const std::vector<ProbeRow>& ProbeTable();

// Opens the file system of `volume` (which starts with its boot sector; read for as long as the
// result lives). A volume no row recognises is refused with 119, or 1090 when it has no bytes.
ProbeResult OpenFileSystem(ByteSource& volume);

}  // namespace kestrel
