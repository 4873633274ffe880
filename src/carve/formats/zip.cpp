#include "carve/formats/zip.h"

#include <cstring>
#include <optional>

#include "carve/structured_bytes.h"

namespace kestrel {
namespace {

constexpr uint32_t kEndRecordSignature = 0x06054B50;  // "PK\5\6"
constexpr size_t kEndRecordBytes = 22;
constexpr size_t kCommentLengthOffset = 20;

std::optional<size_t> FindEndRecord(const SectorInput& in) {
  for (size_t i = 0; i < in.count; ++i) {
    if (LoadLe32(in.data + i) == kEndRecordSignature) return i;
  }
  return std::nullopt;
}

// A local file header as Office writes it: version 2.0, flags 6, date 1 January 1980.
bool HasOfficeMarks(const uint8_t* p) {
  return std::memcmp(p, "PK\3\4", 4) == 0 && p[4] == 0x14 && p[6] == 0x06 && p[12] == 0x21;
}

// The kind named by the part folder that occurs last before `scan_end` (plain when none does).
ZipKind LastPartFolder(const uint8_t* data, size_t scan_end) {
  struct Folder {
    const char* text;
    size_t length;
    ZipKind kind;
  };
  static constexpr Folder kFolders[] = {
      {"word/", 5, ZipKind::kDocx}, {"xl/", 3, ZipKind::kXlsx}, {"ppt/", 4, ZipKind::kPptx}};
  for (size_t q = scan_end; q-- > 0;) {
    for (const Folder& folder : kFolders) {
      if (std::memcmp(data + q, folder.text, folder.length) == 0) return folder.kind;
    }
  }
  return ZipKind::kPlain;
}

struct OfficeName {
  uint8_t code;
  const char* extension;
};

std::optional<OfficeName> OfficeNameFor(ZipKind kind) {
  switch (kind) {
    case ZipKind::kDocx:
      return OfficeName{kDoc, "DOCX"};
    case ZipKind::kXlsx:
      return OfficeName{kXls, "XLSX"};
    case ZipKind::kPptx:
      return OfficeName{kPpt, "PPTX"};
    default:
      return std::nullopt;
  }
}

}  // namespace

Fed FeedZip(ZipState& state, const CarveView& view) {
  const SectorInput& in = view.in;
  const std::optional<size_t> end = FindEndRecord(in);
  const size_t scan_end = end ? *end : in.count;
  if (scan_end > 0) {
    if (HasOfficeMarks(in.data)) state.office_marks = true;
    if (state.office_marks) {
      const ZipKind kind = LastPartFolder(in.data, scan_end);
      if (kind != ZipKind::kPlain) state.kind = kind;
    }
  }
  if (!end) return More(in.count);
  // The record and its comment, also where they run past the sector; an archive that the
  // source's end cuts inside its record is not whole.
  if (!in.HasBytes(*end, kEndRecordBytes)) return Refuse();
  const uint64_t total = *end + kEndRecordBytes + LoadLe16(in.data + *end + kCommentLengthOffset);
  if (total > in.count + in.valid_after && in.valid_after < kLookAhead) return Refuse();
  if (total > view.SourceRoom()) return Refuse();
  state.complete = true;
  return Complete(total);
}

Kept FinishZip(const ZipState& state, uint64_t selected) {
  if (!state.complete) return Drop();
  const std::optional<OfficeName> office = OfficeNameFor(state.kind);
  if (!IsSelected(selected, office ? office->code : uint8_t{kZip})) return Drop();
  Kept kept = KeepAsIs();
  if (office) kept.extension = office->extension;
  return kept;
}

}  // namespace kestrel
