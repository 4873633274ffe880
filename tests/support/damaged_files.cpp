#include "support/damaged_files.h"

#include "support/damaged_blocks.h"

namespace kestrel::testing {

std::vector<DamagedFile> DamagedVariants(const std::vector<uint8_t>& file,
                                         const std::vector<uint8_t>& other) {
  std::vector<DamagedFile> variants;
  const size_t blocks = file.size() / kDamageBlock;
  for (size_t k = 1; k + 1 < blocks; ++k) {
    const size_t at = k * kDamageBlock;
    const std::string where = " at block " + std::to_string(k);
    variants.push_back(
        {"random bytes" + where, WithBlock(file, at, NoiseBlock(static_cast<uint32_t>(k)))});
    variants.push_back({"text" + where, WithBlock(file, at, TextBlock())});
    variants.push_back({"zeros" + where, WithBlock(file, at, ZeroBlock())});
    if (other.size() >= at + kDamageBlock) {
      const std::vector<uint8_t> foreign(
          other.begin() + static_cast<std::ptrdiff_t>(at),
          other.begin() + static_cast<std::ptrdiff_t>(at + kDamageBlock));
      variants.push_back({"another file's block" + where, WithBlock(file, at, foreign)});
    }
    variants.push_back({"block missing" + where, WithoutBlock(file, at)});
  }
  const size_t head = file.size() / 2 / kDamageBlock * kDamageBlock;
  if (head > 0 && other.size() > head) {
    variants.push_back({"another file's tail", Spliced(file, other, head)});
  }
  variants.push_back(
      {"cut in half", std::vector<uint8_t>(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(
                                                                            file.size() / 2))});
  return variants;
}

std::vector<DamagedFile> DamagedVariantsOf(const std::vector<MediaFile>& files) {
  std::vector<DamagedFile> all;
  for (size_t k = 0; k < files.size(); ++k) {
    const MediaFile& other = files[(k + 1) % files.size()];
    for (DamagedFile& variant : DamagedVariants(files[k].bytes, other.bytes)) {
      all.push_back({files[k].name + ": " + variant.what, std::move(variant.bytes)});
    }
  }
  return all;
}

}  // namespace kestrel::testing
