// The BIFF records of a workbook stream (XLS): see compound_doc_streams.h.
#include <algorithm>
#include <vector>

#include "carve/formats/compound_doc_streams.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

constexpr uint16_t kBoundSheet = 0x0085;
constexpr uint16_t kSharedStrings = 0x00FC;
constexpr uint16_t kContinue = 0x003C;
constexpr uint16_t kFilePass = 0x002F;  // the record bodies after it are encrypted
constexpr uint16_t kBiff8 = 0x0600;
constexpr uint32_t kMaxBiffRecord = 8224;
// Record types stay below this (the chart records, the highest, end near 0x1070).
constexpr uint16_t kBiffTypeLimit = 0x2000;

// Records whose length never varies: a walk that lost the record boundaries finds other
// lengths.
struct FixedLength {
  uint16_t type, length;
};
constexpr FixedLength kFixedLengths[] = {
    {kBiffEof, 0}, {0x0208, 16},  // ROW
    {0x0201, 6},                  // BLANK
    {0x0203, 14},                 // NUMBER
    {0x0205, 8},                  // BOOLERR
    {0x027E, 10},                 // RK
    {0x00FD, 10},                 // LABELSST
};

bool LengthFits(uint16_t type, uint16_t length) {
  for (const FixedLength& fixed : kFixedLengths) {
    if (fixed.type == type) return fixed.length == length;
  }
  return true;
}

// The body of one record: where it starts in the stream and its length.
struct Body {
  uint64_t at;
  uint16_t length;
};

// The bytes of the shared string table: the bodies of its record and the CONTINUE records after
// it, read in order. Where a string's characters go on in the next body, that body starts with
// a byte that gives their width (1 or 2 bytes each).
class SharedStringBytes {
 public:
  SharedStringBytes(CompoundStream& stream, const std::vector<Body>& bodies)
      : stream_(stream), bodies_(bodies) {}

  // `n` bytes of a field, which may go on in the next body.
  bool Read(uint8_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i, ++offset_) {
      if (!NextBodyWhenAtEnd() || !stream_.Read(bodies_[body_].at + offset_, out + i, 1)) {
        return false;
      }
    }
    return true;
  }
  bool Skip(uint64_t n) {
    while (n > 0) {
      if (!NextBodyWhenAtEnd()) return false;
      const uint64_t take = std::min<uint64_t>(n, bodies_[body_].length - offset_);
      offset_ += take;
      n -= take;
    }
    return true;
  }
  // `count` characters, `wide` (2 bytes each) or not.
  bool SkipCharacters(uint32_t count, bool wide) {
    while (count > 0) {
      if (offset_ == bodies_[body_].length) {
        uint8_t width = 0;
        if (!NextBody() || !Read(&width, 1) || width > 1) return false;
        wide = width == 1;
      }
      const uint32_t size = wide ? 2 : 1;
      const uint64_t fit = (bodies_[body_].length - offset_) / size;
      if (fit == 0) return false;  // a character split between records
      const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(count, fit));
      offset_ += uint64_t{take} * size;
      count -= take;
    }
    return true;
  }
  bool AtEnd() const { return body_ + 1 == bodies_.size() && offset_ == bodies_[body_].length; }

 private:
  bool NextBody() {
    if (body_ + 1 >= bodies_.size()) return false;
    ++body_;
    offset_ = 0;
    return true;
  }
  bool NextBodyWhenAtEnd() {
    while (offset_ == bodies_[body_].length) {
      if (!NextBody()) return false;
    }
    return true;
  }

  CompoundStream& stream_;
  const std::vector<Body>& bodies_;
  size_t body_ = 0;
  uint64_t offset_ = 0;
};

// The shared string table holds exactly the strings it counts: each a character count, flags
// (reserved bits zero), optional run and extension sizes, then its characters, runs and
// extension.
bool SharedStringsFit(CompoundStream& stream, const std::vector<Body>& bodies) {
  SharedStringBytes bytes(stream, bodies);
  uint8_t counts[8];
  if (!bytes.Read(counts, 8)) return false;
  const uint32_t strings = LoadLe32(counts + 4);
  for (uint32_t i = 0; i < strings; ++i) {
    uint8_t head[3];
    if (!bytes.Read(head, 3) || (head[2] & 0xF2) != 0) return false;
    const uint8_t flags = head[2];
    uint8_t field[4] = {};
    uint64_t runs = 0, extension = 0;
    if ((flags & 0x08) != 0) {
      if (!bytes.Read(field, 2)) return false;
      runs = LoadLe16(field);
    }
    if ((flags & 0x04) != 0) {
      if (!bytes.Read(field, 4)) return false;
      extension = LoadLe32(field);
    }
    if (!bytes.SkipCharacters(LoadLe16(head), (flags & 0x01) != 0) ||
        !bytes.Skip(4 * runs + extension)) {
      return false;
    }
  }
  return bytes.AtEnd();
}

// The records from the stream's first byte, and the offsets they give: sheets (BOUNDSHEET to
// their BOF), the shared strings' sizes (unless the workbook is encrypted: the record headers
// and the sheets' offsets stay readable then, the rest of the bodies do not).
class BiffWalk {
 public:
  explicit BiffWalk(CompoundStream& workbook) : workbook_(workbook) {}

  Whole Run() {
    uint64_t at = 0;
    for (uint64_t records = 0; at < workbook_.size(); ++records) {
      if (records == kMaxStreamRecords) return Whole::kUnchecked;
      const uint64_t left = workbook_.size() - at;
      uint8_t header[4];
      if (left < 4 || !workbook_.Read(at, header, 4)) {
        if (depth_ == 0) break;
        return Whole::kNo;
      }
      const uint16_t type = LoadLe16(header), length = LoadLe16(header + 2);
      // Between substreams only a BOF may come: anything else ends the substreams (writers may
      // leave padding after the last one).
      if (depth_ == 0 && type != kBiffBof) break;
      if (!BiffHeaderFits(type, length) || length > left - 4 || !TakeRecord(at, type, length)) {
        return Whole::kNo;
      }
      at += 4 + length;
    }
    if (depth_ != 0 || substreams_.empty() || !EndSharedStrings() ||
        workbook_.size() - std::min(at, workbook_.size()) >= kMaxBiffPadding) {
      return Whole::kNo;
    }
    for (uint64_t sheet : sheets_) {
      if (!std::binary_search(substreams_.begin(), substreams_.end(), sheet)) return Whole::kNo;
    }
    return Whole::kYes;
  }

 private:
  bool TakeRecord(uint64_t at, uint16_t type, uint16_t length) {
    if (type == kContinue && !shared_strings_.empty()) {
      shared_strings_.push_back({at + 4, length});
      return true;
    }
    if (!EndSharedStrings()) return false;
    uint8_t body[4] = {};
    if (!workbook_.Read(at + 4, body, std::min<size_t>(length, 4))) return false;
    if (type == kBiffBof) {
      if (++depth_ > kMaxBiffDepth) return false;
      if (depth_ == 1) {
        substreams_.push_back(at);
        biff8_ = LoadLe16(body) == kBiff8;
      }
    } else if (type == kBiffEof) {
      --depth_;
    } else if (type == kBoundSheet && substreams_.size() == 1) {
      if (length < 4) return false;
      sheets_.push_back(LoadLe32(body));
    } else if (type == kFilePass) {
      encrypted_ = true;
    } else if (type == kSharedStrings && biff8_ && !encrypted_ && substreams_.size() == 1) {
      shared_strings_.push_back({at + 4, length});
    }
    return true;
  }

  // The shared string table ends with the first record after it that is no CONTINUE.
  bool EndSharedStrings() {
    if (shared_strings_.empty()) return true;
    const bool fits = SharedStringsFit(workbook_, shared_strings_);
    shared_strings_.clear();
    return fits;
  }

  CompoundStream& workbook_;
  int depth_ = 0;
  bool biff8_ = false;
  bool encrypted_ = false;  // only the record headers and the sheets' offsets are readable
  std::vector<uint64_t> substreams_;  // offsets of the top-level BOF records, ascending
  std::vector<uint64_t> sheets_;      // offsets the BOUNDSHEET records give
  std::vector<Body> shared_strings_;  // the shared string table's bodies while it lasts
};

}  // namespace

bool BiffHeaderFits(uint16_t type, uint16_t length) {
  return type != 0 && type < kBiffTypeLimit && length <= kMaxBiffRecord &&
         LengthFits(type, length) && (type != kBiffBof || length >= 4);
}

Whole CheckWorkbookStream(CompoundStream& workbook) {
  return BiffWalk(workbook).Run();
}

}  // namespace kestrel
