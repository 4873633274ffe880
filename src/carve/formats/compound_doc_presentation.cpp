// The records of a presentation's PowerPoint Document stream (PPT): see compound_doc_streams.h.
#include <algorithm>
#include <vector>

#include "carve/formats/compound_doc_streams.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

constexpr uint16_t kUserEditAtom = 0x0FF5;
constexpr uint16_t kPersistDirectoryAtom = 0x1772;
constexpr uint16_t kCurrentUserAtom = 0x0FF6;
constexpr uint32_t kPlainToken = 0xE391C05F;  // the Current User atom of an unencrypted file
constexpr size_t kMaxRecordDepth = 64;
constexpr uint32_t kMaxEdits = 10000;

struct TopRecord {
  uint64_t offset;
  uint16_t type;
  uint32_t length;
  bool operator<(const TopRecord& other) const { return offset < other.offset; }
};

// Walks the records: containers (version 0xF) hold exactly their children, top-level records
// run to the stream's end. Collects the top-level records in stream order.
Whole WalkPowerPointRecords(CompoundStream& document, std::vector<TopRecord>* top) {
  std::vector<uint64_t> open;  // ends of the open containers
  uint64_t at = 0;
  for (uint64_t records = 0; at < document.size(); ++records) {
    if (records == kMaxStreamRecords) return Whole::kUnchecked;
    const uint64_t limit = open.empty() ? document.size() : open.back();
    uint8_t header[8];
    if (limit - at < 8 || !document.Read(at, header, 8)) return Whole::kNo;
    const uint16_t type = LoadLe16(header + 2);
    const uint32_t length = LoadLe32(header + 4);
    if (type == 0 || length > limit - at - 8) return Whole::kNo;
    if (open.empty()) top->push_back({at, type, length});
    const bool container = (header[0] & 0x0F) == 0x0F;
    if (container && length > 0) {
      if (open.size() == kMaxRecordDepth) return Whole::kNo;
      open.push_back(at + 8 + length);
      at += 8;
    } else {
      at += 8 + length;
    }
    while (!open.empty() && open.back() == at) open.pop_back();
  }
  return Whole::kYes;
}

const TopRecord* FindTop(const std::vector<TopRecord>& top, uint64_t offset, uint16_t type) {
  auto found = std::lower_bound(top.begin(), top.end(), TopRecord{offset, 0, 0});
  return found != top.end() && found->offset == offset && found->type == type ? &*found : nullptr;
}

// Every persist object the directory at `record` lists starts a top-level record.
bool PersistObjectsAreRecords(CompoundStream& document, const std::vector<TopRecord>& top,
                              const TopRecord& record) {
  const uint64_t end = record.offset + 8 + record.length;
  for (uint64_t at = record.offset + 8; at < end;) {
    uint8_t entry[4];
    if (end - at < 4 || !document.Read(at, entry, 4)) return false;
    const uint32_t count = LoadLe32(entry) >> 20;
    at += 4;
    if (uint64_t{count} * 4 > end - at) return false;
    for (uint32_t i = 0; i < count; ++i, at += 4) {
      if (!document.Read(at, entry, 4)) return false;
      const uint64_t object = LoadLe32(entry);
      auto found = std::lower_bound(top.begin(), top.end(), TopRecord{object, 0, 0});
      if (found == top.end() || found->offset != object) return false;
    }
  }
  return true;
}

// The edits from the last one (at `edit`) back to the first: each a top-level UserEditAtom whose
// persist directory is a top-level record listing top-level records.
Whole FollowEdits(CompoundStream& document, const std::vector<TopRecord>& top, uint64_t edit) {
  for (uint32_t edits = 0; edits < kMaxEdits; ++edits) {
    const TopRecord* record = FindTop(top, edit, kUserEditAtom);
    uint8_t body[16];
    if (record == nullptr || record->length < 16 || !document.Read(edit + 8, body, 16)) {
      return Whole::kNo;
    }
    const TopRecord* directory = FindTop(top, LoadLe32(body + 12), kPersistDirectoryAtom);
    if (directory == nullptr || !PersistObjectsAreRecords(document, top, *directory)) {
      return Whole::kNo;
    }
    edit = LoadLe32(body + 8);
    if (edit == 0) return Whole::kYes;
  }
  return Whole::kNo;  // more edits than any file holds: a loop
}

}  // namespace

Whole CheckPowerPointStream(CompoundStream& document, CompoundStream* current_user) {
  // The Current User atom names the last edit; an encrypted presentation's records are not
  // readable, and its atom says so.
  uint8_t atom[20];
  if (current_user == nullptr || !current_user->Read(0, atom, sizeof atom) ||
      LoadLe16(atom + 2) != kCurrentUserAtom || LoadLe32(atom + 12) != kPlainToken) {
    return Whole::kUnchecked;
  }
  std::vector<TopRecord> top;
  const Whole walked = WalkPowerPointRecords(document, &top);
  if (walked != Whole::kYes) return walked;
  return FollowEdits(document, top, LoadLe32(atom + 16));
}

}  // namespace kestrel
