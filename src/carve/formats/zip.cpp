#include "carve/formats/zip.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "carve/formats/zip_check.h"
#include "carve/formats/zip_layout.h"
#include "carve/formats/zip_reassembly.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

using namespace zip;

// Whether the end record at `at` of the sector (file offset `offset`) ends this archive: its
// central directory ends right where the record starts. ZIP64 archives give their sizes in
// other records; their end record is taken as it is.
bool EndsThisArchive(const uint8_t* record, uint64_t offset) {
  const uint32_t size = LoadLe32(record + 12);
  const uint32_t start = LoadLe32(record + 16);
  if (size == kSaturated32 || start == kSaturated32) return true;
  return uint64_t{start} + size == offset;
}

ZipKind PartFolderOf(std::string_view name) {
  if (name.starts_with("word/")) return ZipKind::kDocx;
  if (name.starts_with("xl/")) return ZipKind::kXlsx;
  if (name.starts_with("ppt/")) return ZipKind::kPptx;
  return ZipKind::kPlain;
}

// Notes the Office parts among the central directory entries (and, for an archive whose
// directory never comes, the local headers) that start in the sector.
void NoteMemberNames(ZipState& state, const SectorInput& in) {
  for (uint32_t i = 0; i < in.count; ++i) {
    if (in.data[i] != 'P') continue;
    const uint32_t signature = LoadLe32(in.data + i);
    const size_t fixed = signature == kCentralSignature ? kCentralBytes
                         : signature == kLocalSignature ? kLocalBytes
                                                        : 0;
    if (fixed == 0) continue;
    if (!in.HasBytes(i, fixed)) return;
    const uint16_t length = LoadLe16(in.data + i + (fixed == kCentralBytes ? 28 : 26));
    if (!in.HasBytes(i + fixed, length)) continue;
    const std::string_view name(reinterpret_cast<const char*>(in.data + i + fixed), length);
    ZipNames& names = fixed == kCentralBytes ? static_cast<ZipNames&>(state) : state.local_names;
    if (name == "[Content_Types].xml") names.content_types = true;
    if (names.part_folder == ZipKind::kPlain) names.part_folder = PartFolderOf(name);
  }
}

// Whether the end record at `at` of the sector ends this archive with foreign units inside it:
// its central directory lies further from the archive's start than the record says, by whole
// sectors, and its first entry names the member the archive starts with.
bool EndsThisArchiveWithGap(const CarveView& view, size_t at) {
  const uint8_t* record = view.in.data + at;
  const uint64_t size = LoadLe32(record + 12), start = LoadLe32(record + 16);
  const uint64_t offset = view.written + at;
  if (view.pieces != nullptr && view.pieces->size() > 1) return false;
  if (start + size >= offset || (offset - start - size) % kSectorBytes != 0) return false;
  const uint64_t record_at = view.in.sector * kSectorBytes + at;
  if (record_at < offset || size < kCentralBytes) return false;
  const uint64_t archive = record_at - offset;
  uint8_t entry[kCentralBytes];
  if (!view.source.ReadExact(record_at - size, entry, sizeof entry) ||
      LoadLe32(entry) != kCentralSignature || LoadLe32(entry + 42) != 0) {
    return false;
  }
  const size_t name_length = LoadLe16(entry + 28);
  std::vector<uint8_t> names(2 * name_length);
  return view.source.ReadExact(record_at - size + kCentralBytes, names.data(), name_length) &&
         view.source.ReadExact(archive + 30, names.data() + name_length, name_length) &&
         std::equal(names.begin(), names.begin() + name_length, names.begin() + name_length);
}

// The first end record in the sector that ends this archive (with foreign units inside it, or
// without).
std::optional<size_t> FindEndRecord(const CarveView& view) {
  const SectorInput& in = view.in;
  for (size_t i = 0; i < in.count; ++i) {
    if (in.data[i] != 'P' || LoadLe32(in.data + i) != kEndSignature) continue;
    // A record that the source's end cuts off is taken for the end: the archive is not whole.
    if (!in.HasBytes(i, kEndBytes) || EndsThisArchive(in.data + i, view.written + i) ||
        EndsThisArchiveWithGap(view, i)) {
      return i;
    }
  }
  return std::nullopt;
}

struct OfficeName {
  uint8_t code;
  const char* extension;
};

std::optional<OfficeName> OfficeNameFor(const ZipNames& state) {
  if (!state.content_types) return std::nullopt;
  switch (state.part_folder) {
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
  NoteMemberNames(state, in);
  const std::optional<size_t> end = FindEndRecord(view);
  if (!end) return More(in.count);
  // The record and its comment, also where they run past the sector; an archive that the
  // source's end cuts inside its record is not whole.
  if (!in.HasBytes(*end, kEndBytes)) return Refuse();
  const uint64_t total = *end + kEndBytes + LoadLe16(in.data + *end + 20);
  if (total > in.count + in.valid_after && in.valid_after < kLookAhead) return Refuse();
  if (total > view.SourceRoom()) return Refuse();
  state.complete = true;
  return Complete(total);
}

Kept FinishZip(const ZipState& state, const TypeSet& selected) {
  // An archive whose end record never came may lie in fragments out of order: it is named by
  // the members its local headers name.
  const std::optional<OfficeName> office =
      OfficeNameFor(state.complete ? state : state.local_names);
  if (!IsSelected(selected, office ? office->code : uint8_t{kZip})) return Drop();
  Kept kept = KeepChecked(CheckZip);
  kept.reassemble = ReassembleZip;
  if (office) kept.extension = office->extension;
  if (!state.complete) {
    kept.keep = false;
    kept.pieces_elsewhere = true;
  }
  return kept;
}

Match MatchZip(const RowInput& r, Start* s) {
  return r.h.StartsWith(0, "PK\x03\x04") ? Opens(s, ZipState{}) : Match::kNo;
}

}  // namespace kestrel
