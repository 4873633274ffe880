#pragma once
// The catalogue of the recoverable file types and the user's selection of them. A type's code is
// its position in the catalogue everywhere: selection bit, carving, output numbering. A new type
// is appended to the table: no code shifts, and its stored setting is keyed by its name.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>

namespace kestrel {

class SettingsStore;

// The catalogue, one line per type: its code's name, the "File Type" column of the selection
// list, the settings value name and output extension, and the "Description" column.
#define KESTREL_FILE_TYPES(TYPE)                                                   \
  TYPE(Aif, "AIF", "AIF", "Audio Interchange file format")                         \
  TYPE(Asx, "ASX", "ASX", "ASX Video file format")                                 \
  TYPE(Avi, "AVI", "AVI", "AVI Multimedia file format")                            \
  TYPE(Bmp, "BMP", "BMP", "Bitmap file format")                                    \
  TYPE(Crw, "CRW", "CRW", "Canon Raw graphics file format")                        \
  TYPE(Cur, "CUR", "CUR", "Windows Cursor file format")                            \
  TYPE(Dcr, "DCR", "DCR", "Kodak professional digital camera support file format") \
  TYPE(Doc, "DOC/DOCX", "DOC", "Microsoft Word Document file format")              \
  TYPE(Gif, "GIF", "GIF", "CompuServe Graphics Interchange format file ")          \
  TYPE(Ico, "ICO", "ICO", "Windows Icon file format")                              \
  TYPE(Jpg, "JPG", "JPG", "Joint Photographic Experts Group file format")          \
  TYPE(Kdc, "KDC", "KDC", "Kodak Digital Camera native file format")               \
  TYPE(Mid, "MID", "MID", "Windows MIDI file format")                              \
  TYPE(Mov, "MOV", "MOV", "Movie file format")                                     \
  TYPE(Mp3, "MP3", "MP3", "MP3 Music file format")                                 \
  TYPE(Mpg, "MPG", "MPG", "MPEG Multimedia file format")                           \
  TYPE(Mrw, "MRW", "MRW", "Minolta RAW file format")                               \
  TYPE(Msf, "MSF", "MSF", "MSF file format")                                       \
  TYPE(Msv, "MSV", "MSV", "MSV file format")                                       \
  TYPE(Nef, "NEF", "NEF", "Nikon Raw file format")                                 \
  TYPE(Orf, "ORF", "ORF", "Olympus RAW file format")                               \
  TYPE(Pdf, "PDF", "PDF", "Adobe Portable Document Format (PDF) file")             \
  TYPE(Pef, "PEF", "PEF", "Pentax file format")                                    \
  TYPE(Png, "PNG", "PNG", "PiNG format files")                                     \
  TYPE(Ppt, "PPT/PPTX", "PPT", "Microsoft PowerPoint Presentation file format")    \
  TYPE(Pst, "PST", "PST", "Outlook Email file format")                             \
  TYPE(Raf, "RAF", "RAF", "Fuji Camera Raw file format")                           \
  TYPE(Rtf, "RTF", "RTF", "Rich Text Document file format")                        \
  TYPE(Snd, "SND", "SND", "Multimedia Sound file format")                          \
  TYPE(Srf, "SRF", "SRF", "Sony Raw file format")                                  \
  TYPE(Tif, "TIF", "TIF", "TIFF Graphics file format")                             \
  TYPE(Wav, "WAV", "WAV", "WAVE Multimedia file format")                           \
  TYPE(Wmf, "WMF", "WMF", "Windows Metafiles file format")                         \
  TYPE(Wmv, "WMV", "WMV", "WMV Multimedia file format")                            \
  TYPE(X3f, "X3F", "X3F", "Sigma Raw file format")                                 \
  TYPE(Xls, "XLS/XLSX", "XLS", "Microsoft Excel WorkSheet file format")            \
  TYPE(Zip, "ZIP", "ZIP", "WinZip file format")

// Type codes: kJpg is the position of the JPG line in the catalogue.
enum TypeCode : uint8_t {
#define KESTREL_TYPE_CODE(code, list_text, name, description) k##code,
  KESTREL_FILE_TYPES(KESTREL_TYPE_CODE)
#undef KESTREL_TYPE_CODE
};

struct FileTypeEntry {
  uint8_t index;
  std::string_view list_text;    // "File Type" column of the selection list
  std::string_view name;         // settings value name and output extension
  std::string_view description;  // "Description" column
};

inline constexpr std::array kFileTypeCatalogue = {
#define KESTREL_TYPE_ENTRY(code, list_text, name, description) \
  FileTypeEntry{k##code, list_text, name, description},
    KESTREL_FILE_TYPES(KESTREL_TYPE_ENTRY)
#undef KESTREL_TYPE_ENTRY
};
inline constexpr size_t kFileTypeCount = kFileTypeCatalogue.size();

// A set of type codes, one bit per code; room for more types than the catalogue holds today.
class TypeSet {
 public:
  static constexpr size_t kCapacity = 256;

  constexpr TypeSet() = default;
  static constexpr TypeSet Of(size_t code) {
    TypeSet set;
    set.Add(code);
    return set;
  }

  constexpr bool Has(size_t code) const {
    return code < kCapacity && (words_[code / 64] >> (code % 64) & 1) != 0;
  }
  constexpr void Add(size_t code) { words_[code / 64] |= uint64_t{1} << (code % 64); }
  constexpr void Remove(size_t code) { words_[code / 64] &= ~(uint64_t{1} << (code % 64)); }
  constexpr bool None() const {
    for (uint64_t word : words_) {
      if (word != 0) return false;
    }
    return true;
  }
  constexpr bool Intersects(const TypeSet& other) const { return !(*this & other).None(); }

  constexpr TypeSet operator|(const TypeSet& other) const {
    TypeSet out;
    for (size_t i = 0; i < kWords; ++i) out.words_[i] = words_[i] | other.words_[i];
    return out;
  }
  constexpr TypeSet operator&(const TypeSet& other) const {
    TypeSet out;
    for (size_t i = 0; i < kWords; ++i) out.words_[i] = words_[i] & other.words_[i];
    return out;
  }
  constexpr TypeSet operator~() const {
    TypeSet out;
    for (size_t i = 0; i < kWords; ++i) out.words_[i] = ~words_[i];
    return out;
  }
  constexpr TypeSet& operator|=(const TypeSet& other) { return *this = *this | other; }
  constexpr bool operator==(const TypeSet&) const = default;

 private:
  static constexpr size_t kWords = kCapacity / 64;
  std::array<uint64_t, kWords> words_{};
};
static_assert(kFileTypeCount <= TypeSet::kCapacity);

constexpr TypeSet TypeBit(size_t code) {
  return TypeSet::Of(code);
}

constexpr TypeSet AllFileTypes() {
  TypeSet all;
  for (const FileTypeEntry& entry : kFileTypeCatalogue) all.Add(entry.index);
  return all;
}
inline constexpr TypeSet kAllFileTypesMask = AllFileTypes();

const std::array<FileTypeEntry, kFileTypeCount>& FileTypeCatalogue();

// The code of the type whose three-letter name equals `name` exactly.
std::optional<int> FindTypeByName(std::string_view name);

// The selection: which types a run recovers, and the "Scan File" byte.
class FileTypeSelection {
 public:
  TypeSet mask;          // empty until loaded
  uint8_t scan_all = 0;  // 1 = "Scan for all files"

  // Loads the mask once (nothing happens while it holds a type). No settings key: every type;
  // a type without a stored value is selected.
  void LoadFileTypeMask(SettingsStore& store);
  // Stores every type's byte and "Scan File", and takes them as the selection.
  void SaveFileTypeSelection(SettingsStore& store, const TypeSet& ticked, bool scan_all_files);

  bool IsTypeSelected(int code) const { return mask.Has(static_cast<size_t>(code)); }
  // Deleted-files filter: everything when scan_all, else the type named exactly `extension`.
  bool IsExtensionWanted(std::string_view extension) const;
};

}  // namespace kestrel
