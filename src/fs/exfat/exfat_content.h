#pragma once
// The content of an exFAT file: the bytes of its clusters up to its valid length, then zeros
// up to its data length.

#include <memory>

#include "fs/exfat/exfat_plan.h"
#include "fs/exfat/exfat_volume.h"
#include "fs/file_system.h"

namespace kestrel {

std::unique_ptr<FileContent> OpenExfatContent(ExfatVolume& volume, const ExfatPlan& plan);

}  // namespace kestrel
