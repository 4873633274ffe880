#include "carve/formats/iso_media.h"

#include <cstring>
#include <string_view>

#include "platform/byte_order.h"

namespace kestrel {
namespace {

// The file type atom holds the major brand, the minor version and a short list of compatible
// brands; a size beyond this bound is no file type atom.
constexpr uint32_t kMinFileTypeSize = 16;
constexpr uint32_t kMaxFileTypeSize = 256;

struct BrandName {
  std::string_view brand;  // the whole brand, or its first three characters
  const char* extension;
  bool image;
};

constexpr BrandName kBrands[] = {
    {"isom", "MP4", false}, {"iso2", "MP4", false}, {"iso3", "MP4", false}, {"iso4", "MP4", false},
    {"iso5", "MP4", false}, {"iso6", "MP4", false}, {"mp41", "MP4", false}, {"mp42", "MP4", false},
    {"avc1", "MP4", false}, {"dash", "MP4", false}, {"M4V ", "MP4", false}, {"qt  ", "MOV", false},
    {"3gp", "3GP", false},  {"3g2", "3GP", false},  {"M4A ", "M4A", false}, {"heic", "HEIC", true},
    {"heix", "HEIC", true}, {"mif1", "HEIC", true},
};

const BrandName* FindBrand(const uint8_t* brand) {
  for (const BrandName& known : kBrands) {
    if (std::memcmp(brand, known.brand.data(), known.brand.size()) == 0) return &known;
  }
  return nullptr;
}

}  // namespace

bool IsFileTypeAtom(const uint8_t* header) {
  const uint32_t size = LoadBe32(header);
  if (size < kMinFileTypeSize || size > kMaxFileTypeSize || size % 4 != 0) return false;
  if (std::memcmp(header + 4, "ftyp", 4) != 0) return false;
  for (int k = 8; k < 12; ++k) {
    if (header[k] < 0x20 || header[k] > 0x7E) return false;
  }
  return true;
}

const char* BrandExtension(const uint8_t* brand) {
  const BrandName* known = FindBrand(brand);
  return known != nullptr ? known->extension : nullptr;
}

MovState StartFileTypeMovie(const uint8_t* header) {
  MovState state;
  state.file_type = true;
  const BrandName* known = FindBrand(header + 8);
  if (known != nullptr) {
    state.extension = known->extension;
    state.image = known->image;
  }
  return state;
}

Match MatchFileType(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(4, "ftyp") || !IsFileTypeAtom(r.in.data)) return Match::kNo;
  return Opens(s, StartFileTypeMovie(r.in.data));
}

}  // namespace kestrel
