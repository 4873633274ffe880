#include "support/disk_images.h"

#include "support/temp_dir.h"

namespace kestrel::testing {

bool MakeFatVolume(const std::string& path, int megabytes, const std::string& options) {
  return RunCommand("truncate -s " + std::to_string(megabytes) + "M '" + path + "' && mkfs.fat " +
                    options + " '" + path + "' >/dev/null") == 0;
}

bool MakeTwoPartitionDisk(const std::string& path, const std::string& part_two_label) {
  const std::string label = part_two_label.empty() ? "" : " -n " + part_two_label;
  return RunCommand("truncate -s 64M '" + path + "' && printf 'label: dos\\nstart=" +
                    std::to_string(kPartOneStart) + ", size=" + std::to_string(kPartOneSectors) +
                    ", type=6\\nstart=" + std::to_string(kPartTwoStart) +
                    ", size=" + std::to_string(kPartTwoSectors) + ", type=1\\n' | sfdisk -q '" +
                    path + "' && mkfs.fat -F 16 -n PARTONE --offset " +
                    std::to_string(kPartOneStart) + " '" + path + "' " +
                    std::to_string(kPartOneSectors / 2) + " >/dev/null 2>&1 && mkfs.fat -F 12" +
                    label + " --offset " + std::to_string(kPartTwoStart) + " '" + path + "' " +
                    std::to_string(kPartTwoSectors / 2) + " >/dev/null 2>&1") == 0;
}

}  // namespace kestrel::testing
