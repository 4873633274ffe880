#include "support/fat_image.h"

#include <cstdio>
#include <random>

#include "support/temp_dir.h"

namespace kestrel::testing {
namespace {

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

}  // namespace

std::vector<uint8_t> FatTestBytes(size_t length, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(length);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random() >> 24);
  return bytes;
}

bool HaveFatTools() {
  return HaveTool("mkfs.fat") && HaveTool("mcopy") && HaveTool("mdeltree");
}

std::optional<FatImage> FatImage::Create(const std::string& image_path, int fat_bits, uint64_t kib,
                                         int sectors_per_cluster, std::string* why) {
  if (!HaveFatTools()) {
    *why = "mkfs.fat or mtools is not installed";
    return std::nullopt;
  }
  std::string command = "mkfs.fat -C -F " + std::to_string(fat_bits);
  if (sectors_per_cluster > 0) command += " -s " + std::to_string(sectors_per_cluster);
  command += " " + Quoted(image_path) + " " + std::to_string(kib);
  std::string output;
  if (RunCommand(command, &output) != 0) {
    *why = "mkfs.fat failed: " + output;
    return std::nullopt;
  }
  return FatImage(image_path);
}

bool FatImage::Mtools(const std::string& command, const std::string& arguments) {
  return RunCommand("LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 " + command + " -i " + Quoted(image_path_) +
                    " " + arguments) == 0;
}

bool FatImage::WriteFile(const std::string& path, const std::vector<uint8_t>& content,
                         std::optional<int64_t> modified) {
  const std::string staged = image_path_ + ".staged";
  WriteFileBytes(staged, content);
  // mcopy -m keeps the host file's modification time, in the zone of TZ (UTC here).
  const std::string dated = modified ? "TZ=UTC touch -d @" + std::to_string(*modified) + " " +
                                           Quoted(staged) + " && TZ=UTC "
                                     : "";
  bool ok = RunCommand(dated + "LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 mcopy" +
                       (modified ? " -m" : "") + " -i " + Quoted(image_path_) + " " +
                       Quoted(staged) + " " + Quoted("::" + path)) == 0;
  std::remove(staged.c_str());
  return ok;
}

bool FatImage::MakeFolder(const std::string& path) {
  return Mtools("mmd", Quoted("::" + path));
}

bool FatImage::Delete(const std::string& path) {
  return Mtools("mdel", Quoted("::" + path));
}

bool FatImage::DeleteTree(const std::string& path) {
  return Mtools("mdeltree", Quoted("::" + path));
}

bool FatImage::SetAttributes(const std::string& path, const std::string& flags) {
  return Mtools("mattrib", flags + " " + Quoted("::" + path));
}

bool FatImage::RenameLongName(const std::string& written, const std::string& wanted) {
  // Where the 13 UTF-16 units of a long-name entry lie.
  static constexpr size_t kUnitOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  if (written.size() != wanted.size() || written.size() > 13) return false;
  std::vector<uint8_t> image = ReadFileBytes(image_path_);
  const auto unit_at = [&](size_t entry, size_t i) {
    return image[entry + kUnitOffsets[i]] | image[entry + kUnitOffsets[i] + 1] << 8;
  };
  bool renamed = false;
  for (size_t entry = 0; entry + 32 <= image.size(); entry += 32) {
    if (image[entry + 11] != 0x0F) continue;
    bool spells = written.size() == 13 || unit_at(entry, written.size()) == 0;
    for (size_t i = 0; spells && i < written.size(); ++i) {
      spells = unit_at(entry, i) == static_cast<uint8_t>(written[i]);
    }
    if (!spells) continue;
    for (size_t i = 0; i < wanted.size(); ++i) {
      image[entry + kUnitOffsets[i]] = static_cast<uint8_t>(wanted[i]);
    }
    renamed = true;
  }
  if (renamed) WriteFileBytes(image_path_, image);
  return renamed;
}

}  // namespace kestrel::testing
