#pragma once
// The catalogue of the 37 recoverable file types and the user's selection of them. A type's
// index is its code everywhere: selection bit, open-file bit, output numbering, carving.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrel {

class SettingsStore;

inline constexpr int kFileTypeCount = 37;
inline constexpr uint64_t kAllFileTypesMask = (uint64_t{1} << kFileTypeCount) - 1;

// Type codes, the alphabetical position of each type in the catalogue.
enum TypeCode : uint8_t {
  kAif = 0,
  kAsx,
  kAvi,
  kBmp,
  kCrw,
  kCur,
  kDcr,
  kDoc,
  kGif,
  kIco,
  kJpg,
  kKdc,
  kMid,
  kMov,
  kMp3,
  kMpg,
  kMrw,
  kMsf,
  kMsv,
  kNef,
  kOrf,
  kPdf,
  kPef,
  kPng,
  kPpt,
  kPst,
  kRaf,
  kRtf,
  kSnd,
  kSrf,
  kTif,
  kWav,
  kWmf,
  kWmv,
  kX3f,
  kXls,
  kZip
};

constexpr uint64_t TypeBit(int code) {
  return uint64_t{1} << code;
}

struct FileTypeEntry {
  uint8_t index;
  std::string_view list_text;  // "File Type" column of the selection list
  std::string_view name;       // settings value name and output extension
  int description_id;          // string id of the "Description" column
};

const std::array<FileTypeEntry, kFileTypeCount>& FileTypeCatalogue();

// The code of the type whose three-letter name equals `name` exactly.
std::optional<int> FindTypeByName(std::string_view name);

// The selection: which types a run recovers, and the "Scan File" byte.
class FileTypeSelection {
 public:
  uint64_t mask = 0;     // 0 until loaded
  uint8_t scan_all = 0;  // 1 = "Scan for all files"

  // Loads the mask once (nothing happens while it is nonzero). No settings key: every type.
  void LoadFileTypeMask(SettingsStore& store);
  // Stores every type's byte and "Scan File", and takes them as the selection.
  void SaveFileTypeSelection(SettingsStore& store, const std::array<bool, kFileTypeCount>& ticked,
                             bool scan_all_files);

  bool IsTypeSelected(int code) const { return (mask & TypeBit(code)) != 0; }
  // Deleted-files filter: everything when scan_all, else the type named exactly `extension`.
  bool IsExtensionWanted(std::string_view extension) const;
};

}  // namespace kestrel
