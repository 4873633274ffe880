#pragma once
// A sysfs block folder and a /dev folder whose "device nodes" are plain files, for the disk
// listing and the device map.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_dir.h"

namespace kestrel::testing {

// Writes `text` and a line break to `file`, making its folders.
inline void Put(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file) << text << "\n";
}

class FakeSysBlock {
 public:
  FakeSysBlock() : sys_(dir_ / "sys/block"), dev_(dir_ / "dev") {
    std::filesystem::create_directories(dev_);
  }

  void AddDisk(const std::string& name, uint64_t sectors, const std::string& vendor,
               const std::string& model, bool removable, bool node = true) {
    const std::filesystem::path disk = std::filesystem::path(sys_) / name;
    Put(disk / "size", std::to_string(sectors));
    Put(disk / "removable", removable ? "1" : "0");
    if (!vendor.empty()) Put(disk / "device/vendor", vendor);
    if (!model.empty()) Put(disk / "device/model", model);
    if (node) Put(std::filesystem::path(dev_) / name, "");
  }
  void AddPartition(const std::string& disk, const std::string& name, int number, uint64_t start,
                    uint64_t sectors) {
    const std::filesystem::path dir = std::filesystem::path(sys_) / disk / name;
    Put(dir / "partition", std::to_string(number));
    Put(dir / "start", std::to_string(start));
    Put(dir / "size", std::to_string(sectors));
    Put(std::filesystem::path(dev_) / name, "");
  }
  const std::string& sys() const { return sys_; }
  const std::string& dev() const { return dev_; }

 private:
  TempDir dir_;
  std::string sys_, dev_;
};

}  // namespace kestrel::testing
