#include "carve/zip.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "carve/structured_bytes.h"
#include "carve/structured_output.h"
#include "platform/sector_size.h"
#include "run/output_naming.h"

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

// The kind named by the part folder that occurs last before `scan_end` (0 when none does).
uint8_t LastPartFolder(const uint8_t* data, size_t scan_end) {
  struct Folder {
    const char* text;
    size_t length;
    uint8_t kind;
  };
  static constexpr Folder kFolders[] = {
      {"word/", 5, kZipKindDocx}, {"xl/", 3, kZipKindXlsx}, {"ppt/", 4, kZipKindPptx}};
  for (size_t q = scan_end; q-- > 0;) {
    for (const Folder& folder : kFolders) {
      if (std::memcmp(data + q, folder.text, folder.length) == 0) return folder.kind;
    }
  }
  return kZipKindPlain;
}

// Writes the sector up to the end record at `at` and the record with its comment, taking what
// lies past the sector from the bytes that follow it on the source. False when the source ends
// inside the record.
bool WriteThroughEndRecord(CarveSession& s, const SectorInput& in, size_t at) {
  if (!in.HasBytes(at, kEndRecordBytes)) return false;
  const size_t total = at + kEndRecordBytes + LoadLe16(in.data + at + kCommentLengthOffset);
  const size_t at_hand = in.count + in.valid_after;
  if (total <= at_hand) {
    s.Write(in.data, total);
    return true;
  }
  if (in.valid_after < kLookAhead) return false;
  std::vector<uint8_t> rest(total - at_hand);
  if (!s.source().ReadExact(in.sector * kSectorBytes + at_hand, rest.data(), rest.size())) {
    return false;
  }
  s.Write(in.data, at_hand);
  s.Write(rest.data(), rest.size());
  return true;
}

struct OfficeName {
  uint8_t code;
  const char* extension;
};

bool OfficeNameFor(uint8_t kind, OfficeName* name) {
  switch (kind) {
    case kZipKindDocx:
      *name = {kDoc, "DOCX"};
      return true;
    case kZipKindXlsx:
      *name = {kXls, "XLSX"};
      return true;
    case kZipKindPptx:
      *name = {kPpt, "PPTX"};
      return true;
    default:
      return false;
  }
}

void FinishArchive(CarveSession& s) {
  CarveState& st = s.st;
  const uint8_t kind = st.zip.doc_kind;
  st.zip = ZipState{};
  st.zip_open = false;
  OfficeName office{};
  const bool is_office = OfficeNameFor(kind, &office);
  if (!(is_office ? IsSelected(s, office.code) : IsSelected(s, kZip))) {
    DiscardOpenFile(s);
    return;
  }
  const uint64_t length = s.out().Length();
  std::string path = s.path();
  const uint32_t kept_before = s.run().recovered_count;
  st.file_complete = true;
  s.FinishCarvedFile(kZip);                            // closes, counts; the listing is done here
  if (s.run().recovered_count == kept_before) return;  // damaged by a failed write: deleted
  if (is_office) {
    std::string renamed = s.MoveToExtension(path, office.extension);
    if (!renamed.empty()) path = renamed;
  }
  s.run().AddRecoveredFile({path, length, true});
  s.run().ShowRecoveredCount();
}

}  // namespace

void StartZip(CarveSession& s) {
  s.st.zip = ZipState{};
}

void CarveZip(CarveSession& s, const SectorInput& in) {
  CarveState& st = s.st;
  const std::optional<size_t> end = FindEndRecord(in);
  const size_t scan_end = end ? *end : in.count;
  if (scan_end > 0) {
    if (HasOfficeMarks(in.data)) st.zip.ooxml_marks = true;
    if (st.zip.ooxml_marks) {
      const uint8_t kind = LastPartFolder(in.data, scan_end);
      if (kind != kZipKindPlain) st.zip.doc_kind = kind;
    }
  }
  if (!end) {
    s.Write(in.data, in.count);
    return;
  }
  if (!WriteThroughEndRecord(s, in, *end)) {
    // The source ends inside the end record: the archive is not whole.
    st.zip = ZipState{};
    st.zip_open = false;
    DiscardOpenFile(s);
    return;
  }
  FinishArchive(s);
}

}  // namespace kestrel
