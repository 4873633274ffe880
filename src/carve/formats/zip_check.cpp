#include "carve/formats/zip_check.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>
#include <vector>

#include "carve/formats/file_window.h"
#include "carve/formats/zip_layout.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

using namespace zip;

constexpr uint32_t kZip64EndSignature = 0x06064B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr uint32_t kDirectorySealSignature = 0x05054B50;  // the directory's digital signature
constexpr uint32_t kDescriptorSignature = 0x08074B50;
constexpr size_t kLocatorBytes = 20;
constexpr size_t kZip64EndBytes = 56;
constexpr uint64_t kMaxMembers = 200000;
constexpr uint64_t kMaxUnpackedBytes = uint64_t{512} << 20;
constexpr uint64_t kMaxPackedBytes = uint64_t{512} << 20;
// Local headers and data descriptors are read through a small window: members scattered over a
// large file cost a small read each.
constexpr size_t kHeaderWindowBytes = 4096;

bool Add(uint64_t a, uint64_t b, uint64_t* sum) {
  return !__builtin_add_overflow(a, b, sum);
}

// Where the central directory lies, how many members it lists, and where it must end.
struct Directory {
  uint64_t offset = 0, size = 0, entries = 0, end = 0;
};

// Takes the 8-byte values of the ZIP64 extra field for the wanted fields, in their order (size,
// packed size, local header offset); false when the field or a wanted value is missing.
bool TakeZip64(const std::vector<uint8_t>& extra, bool size, bool packed, bool local,
               ZipMember* m) {
  for (size_t at = 0; at + 4 <= extra.size();) {
    const uint16_t id = LoadLe16(&extra[at]);
    const size_t bytes = LoadLe16(&extra[at + 2]);
    if (at + 4 + bytes > extra.size()) return false;
    if (id == 1) {
      size_t next = at + 4;
      const size_t end = next + bytes;
      for (auto [wanted, value] : {std::pair{size, &m->size}, std::pair{packed, &m->packed},
                                   std::pair{local, &m->local}}) {
        if (!wanted) continue;
        if (next + 8 > end) return false;
        *value = LoadLe64(&extra[next]);
        next += 8;
      }
      return true;
    }
    at += 4 + bytes;
  }
  return false;
}

class ZipCheck {
 public:
  ZipCheck(ByteSource& source, uint64_t start, uint64_t length)
      : directory_(source, start, length),
        headers_(source, start, length, kHeaderWindowBytes),
        data_(source, start, length) {}
  ~ZipCheck() {
    if (inflating_) inflateEnd(&z_);
  }
  ZipCheck(const ZipCheck&) = delete;
  ZipCheck& operator=(const ZipCheck&) = delete;

  Whole Run() {
    Directory d;
    const Whole found = FindDirectory(&d);
    if (found != Whole::kYes) return found;
    uint64_t at = d.offset;
    for (uint64_t i = 0; i < d.entries; ++i) {
      if (i == kMaxMembers) return Whole::kUnchecked;
      ZipMember m;
      const Whole listed = ReadCentralEntry(d, &at, &m);
      if (listed != Whole::kYes) return listed;
      if (!CheckMember(m, d.offset)) return Whole::kNo;
    }
    if (!EndsDirectory(at, d.end)) return Whole::kNo;
    return unpacked_members_ > 0 || d.entries == 0 ? Whole::kYes : Whole::kUnchecked;
  }

  // The `entries` central directory entries in [at, at + size) of the file.
  bool ReadDirectory(uint64_t at, uint64_t size, uint64_t entries, std::vector<ZipMember>* out) {
    Directory d{at, size, entries, 0};
    if (!Add(at, size, &d.end)) return false;
    for (uint64_t i = 0; i < entries && i < kMaxMembers; ++i) {
      ZipMember m;
      if (ReadCentralEntry(d, &at, &m) != Whole::kYes) return false;
      out->push_back(std::move(m));
    }
    return true;
  }

  // The member's local header, place and data agree with its central directory entry `m`;
  // everything of it lies before the central directory at `limit`.
  bool CheckMember(const ZipMember& m, uint64_t limit) {
    uint64_t data = 0;
    if (!Add(m.local, kLocalBytes, &data) || data > limit) return false;
    const uint8_t* h = headers_.Bytes(m.local, kLocalBytes);
    if (h == nullptr || LoadLe32(h) != kLocalSignature) return false;
    const ZipMember local = ZipLocalHeaderFields(h, m.local);
    const size_t name = LoadLe16(h + 26), extra = LoadLe16(h + 28);
    if (local.method != m.method || name != m.name.size()) return false;
    data += name + extra;
    if (data > limit || !SameName(m.local + kLocalBytes, m.name)) return false;
    if ((local.flags & kHasDescriptor) == 0 &&
        !SameCrcAndSizes(local, m, m.local + kLocalBytes + name, extra)) {
      return false;
    }
    uint64_t data_end = 0;
    if (!Add(data, m.packed, &data_end) || data_end > limit) return false;
    if ((local.flags & kHasDescriptor) != 0 && !DescriptorRepeatsCrc(m, data_end, limit)) {
      return false;
    }
    const bool readable =
        (m.flags & kEncrypted) == 0 && (m.method == kStored || m.method == kDeflated);
    if (!readable || unpacked_budget_ == 0 || packed_budget_ == 0) return true;
    return m.method == kStored ? CheckStored(m, data) : CheckDeflated(m, data);
  }

 private:
  // The end record is the last one whose comment reaches the file's last byte.
  Whole FindDirectory(Directory* d) {
    const uint64_t length = directory_.length();
    if (length < kEndBytes) return Whole::kNo;
    const size_t tail = static_cast<size_t>(std::min<uint64_t>(length, kEndBytes + 0xFFFF));
    std::vector<uint8_t> bytes(tail);
    if (!directory_.Read(length - tail, bytes.data(), tail)) return Whole::kNo;
    for (size_t i = tail - kEndBytes + 1; i-- > 0;) {
      const uint8_t* record = &bytes[i];
      if (LoadLe32(record) != kEndSignature || i + kEndBytes + LoadLe16(record + 20) != tail) {
        continue;
      }
      return TakeEndRecord(record, length - tail + i, d);
    }
    return Whole::kNo;
  }

  Whole TakeEndRecord(const uint8_t* record, uint64_t at, Directory* d) {
    const uint16_t disk = LoadLe16(record + 4), directory_disk = LoadLe16(record + 6);
    const uint16_t on_disk = LoadLe16(record + 8), entries = LoadLe16(record + 10);
    const uint32_t size = LoadLe32(record + 12), offset = LoadLe32(record + 16);
    if (at >= kLocatorBytes) {
      if (const std::optional<Whole> zip64 = TakeZip64End(at - kLocatorBytes, d)) return *zip64;
    }
    if (disk != 0 || directory_disk != 0 || on_disk != entries) return Whole::kUnchecked;
    // Saturated fields without ZIP64 records: the values are not known.
    if (entries == kSaturated16 || size == kSaturated32 || offset == kSaturated32) {
      return Whole::kUnchecked;
    }
    *d = {offset, size, entries, at};
    return uint64_t{offset} + size == at ? Whole::kYes : Whole::kNo;
  }

  // The directory as the ZIP64 end record gives it, when a ZIP64 locator lies at `locator`.
  std::optional<Whole> TakeZip64End(uint64_t locator, Directory* d) {
    const uint8_t* l = directory_.Bytes(locator, kLocatorBytes);
    if (l == nullptr || LoadLe32(l) != kZip64LocatorSignature) return std::nullopt;
    const uint64_t end_at = LoadLe64(l + 8);
    const uint32_t locator_disk = LoadLe32(l + 4), disks = LoadLe32(l + 16);
    if (locator_disk != 0 || disks > 1) return Whole::kUnchecked;
    const uint8_t* e = directory_.Bytes(end_at, kZip64EndBytes);
    if (e == nullptr || LoadLe32(e) != kZip64EndSignature) return Whole::kNo;
    // The record (its extensible data included) runs up to the locator.
    uint64_t record_end = 0;
    if (!Add(end_at, 12, &record_end) || !Add(record_end, LoadLe64(e + 4), &record_end) ||
        record_end != locator || LoadLe64(e + 4) < kZip64EndBytes - 12) {
      return Whole::kNo;
    }
    if (LoadLe32(e + 16) != 0 || LoadLe32(e + 20) != 0 || LoadLe64(e + 24) != LoadLe64(e + 32)) {
      return Whole::kUnchecked;
    }
    *d = {LoadLe64(e + 48), LoadLe64(e + 40), LoadLe64(e + 32), end_at};
    uint64_t directory_end = 0;
    return Add(d->offset, d->size, &directory_end) && directory_end == end_at ? Whole::kYes
                                                                              : Whole::kNo;
  }

  // Reads the central directory entry at `*at` and moves past it.
  Whole ReadCentralEntry(const Directory& d, uint64_t* at, ZipMember* m) {
    if (d.end - *at < kCentralBytes) return Whole::kNo;
    const uint8_t* e = directory_.Bytes(*at, kCentralBytes);
    if (e == nullptr || LoadLe32(e) != kCentralSignature) return Whole::kNo;
    m->flags = LoadLe16(e + 8);
    m->method = LoadLe16(e + 10);
    m->crc = LoadLe32(e + 16);
    m->packed = LoadLe32(e + 20);
    m->size = LoadLe32(e + 24);
    m->local = LoadLe32(e + 42);
    const uint16_t disk = LoadLe16(e + 34);
    const size_t name = LoadLe16(e + 28), extra = LoadLe16(e + 30), comment = LoadLe16(e + 32);
    const uint64_t entry_end = *at + kCentralBytes + name + extra + comment;
    if (entry_end > d.end) return Whole::kNo;
    m->name.resize(name);
    extra_.resize(extra);
    if (!directory_.Read(*at + kCentralBytes, m->name.data(), name) ||
        !directory_.Read(*at + kCentralBytes + name, extra_.data(), extra)) {
      return Whole::kNo;
    }
    *at = entry_end;
    const bool size = m->size == kSaturated32, packed = m->packed == kSaturated32;
    const bool local = m->local == kSaturated32;
    // The archive lies on one disk (the end record says so): a member on another, or a
    // saturated field the ZIP64 extra field does not give, is bytes that are no entry.
    if ((size || packed || local) && !TakeZip64(extra_, size, packed, local, m)) {
      return Whole::kNo;
    }
    return disk == 0 || disk == kSaturated16 ? Whole::kYes : Whole::kNo;
  }

  bool SameName(uint64_t at, const std::vector<uint8_t>& name) {
    local_bytes_.resize(name.size());
    return headers_.Read(at, local_bytes_.data(), local_bytes_.size()) && local_bytes_ == name;
  }

  // A local header without a data descriptor repeats the CRC and, where it gives them (in its
  // ZIP64 extra field when saturated), the sizes.
  bool SameCrcAndSizes(ZipMember local, const ZipMember& m, uint64_t extra_at, size_t extra) {
    if (local.crc != m.crc) return false;
    if (local.size == kSaturated32 || local.packed == kSaturated32) {
      local_bytes_.resize(extra);
      if (!headers_.Read(extra_at, local_bytes_.data(), extra)) return false;
      if (!TakeZip64(local_bytes_, true, true, false, &local)) return true;
    }
    return local.size == m.size && local.packed == m.packed;
  }

  // The data descriptor after the data (its signature optional) gives the member's CRC.
  bool DescriptorRepeatsCrc(const ZipMember& m, uint64_t at, uint64_t limit) {
    uint8_t d[8] = {};
    const size_t n = static_cast<size_t>(std::min<uint64_t>(8, limit - at));
    if (n < 4 || !headers_.Read(at, d, n)) return false;
    return LoadLe32(d) == m.crc ||
           (n == 8 && LoadLe32(d) == kDescriptorSignature && LoadLe32(d + 4) == m.crc);
  }

  // The next piece of packed data at `at` (at most `left` bytes), charged to the packed budget.
  const uint8_t* NextPacked(uint64_t at, uint64_t left, size_t* n) {
    *n = static_cast<size_t>(std::min<uint64_t>({left, data_.window_bytes(), packed_budget_}));
    packed_budget_ -= *n;
    return data_.Bytes(at, *n);
  }

  bool CheckStored(const ZipMember& m, uint64_t data) {
    if (m.packed != m.size) return false;
    uLong crc = crc32(0, nullptr, 0);
    for (uint64_t done = 0; done < m.size;) {
      if (packed_budget_ == 0) return true;  // past the cap: left unchecked
      size_t n = 0;
      const uint8_t* bytes = NextPacked(data + done, m.size - done, &n);
      if (bytes == nullptr) return false;
      crc = crc32(crc, bytes, static_cast<uInt>(n));
      done += n;
    }
    ++unpacked_members_;
    return crc == m.crc;
  }

  bool CheckDeflated(const ZipMember& m, uint64_t data) {
    if (!StartInflate()) return true;  // no memory for zlib: left unchecked
    out_.resize(64 * 1024);
    uLong crc = crc32(0, nullptr, 0);
    uint64_t read = 0, produced = 0;
    for (;;) {
      if (z_.avail_in == 0 && read < m.packed) {
        if (packed_budget_ == 0) return true;
        size_t n = 0;
        const uint8_t* bytes = NextPacked(data + read, m.packed - read, &n);
        if (bytes == nullptr) return false;
        z_.next_in = const_cast<Bytef*>(bytes);
        z_.avail_in = static_cast<uInt>(n);
        read += n;
      }
      z_.next_out = out_.data();
      z_.avail_out = static_cast<uInt>(out_.size());
      const int status = inflate(&z_, Z_NO_FLUSH);
      const size_t n = out_.size() - z_.avail_out;
      produced += n;
      if (produced > m.size) return false;
      crc = crc32(crc, out_.data(), static_cast<uInt>(n));
      unpacked_budget_ -= std::min<uint64_t>(unpacked_budget_, n);
      if (status == Z_STREAM_END) break;
      if (status == Z_MEM_ERROR) return true;
      // A broken stream, or packed data that ends inside the stream.
      if (status != Z_OK && !(status == Z_BUF_ERROR && read < m.packed)) return false;
      if (unpacked_budget_ == 0) return true;
    }
    ++unpacked_members_;
    return produced == m.size && crc == m.crc;
  }

  bool StartInflate() {
    if (inflating_) return inflateReset(&z_) == Z_OK;
    z_ = {};
    inflating_ = inflateInit2(&z_, -MAX_WBITS) == Z_OK;
    return inflating_;
  }

  // After its last entry the directory ends, or its digital signature runs to its end.
  bool EndsDirectory(uint64_t at, uint64_t end) {
    if (at == end) return true;
    const uint8_t* seal = directory_.Bytes(at, 6);
    return seal != nullptr && LoadLe32(seal) == kDirectorySealSignature &&
           at + 6 + LoadLe16(seal + 4) == end;
  }

  FileWindow directory_, headers_, data_;
  std::vector<uint8_t> extra_, local_bytes_, out_;
  z_stream z_{};
  bool inflating_ = false;
  uint64_t unpacked_members_ = 0;
  uint64_t unpacked_budget_ = kMaxUnpackedBytes;
  uint64_t packed_budget_ = kMaxPackedBytes;
};

}  // namespace

Whole CheckZip(ByteSource& source, uint64_t start, uint64_t length) {
  return ZipCheck(source, start, length).Run();
}

bool ReadZipDirectory(ByteSource& source, uint64_t start, uint64_t length, uint64_t at,
                      uint64_t size, uint64_t entries, std::vector<ZipMember>* members) {
  return ZipCheck(source, start, length).ReadDirectory(at, size, entries, members);
}

bool ZipMemberWhole(ByteSource& source, uint64_t start, uint64_t length, const ZipMember& member,
                    uint64_t limit) {
  return ZipCheck(source, start, length).CheckMember(member, limit);
}

namespace {

// The file offset of the member's data; false when its local header cannot be read.
bool MemberDataAt(ByteSource& file, const ZipMember& member, uint64_t* data) {
  uint8_t h[kLocalBytes];
  if (!file.ReadExact(member.local, h, sizeof h)) return false;
  *data = member.local + kLocalBytes + LoadLe16(h + 26) + LoadLe16(h + 28);
  return true;
}

}  // namespace

ZipMember ZipLocalHeaderFields(const uint8_t* h, uint64_t local) {
  ZipMember m;
  m.flags = LoadLe16(h + 6);
  m.method = LoadLe16(h + 8);
  m.crc = LoadLe32(h + 14);
  m.packed = LoadLe32(h + 18);
  m.size = LoadLe32(h + 22);
  m.local = local;
  return m;
}

uint64_t ZipMemberDataEnd(ByteSource& file, const ZipMember& member) {
  uint64_t data = 0;
  return MemberDataAt(file, member, &data) ? data + member.packed : member.local;
}

namespace {

// Where the member's deflated data stops going on, inflated `in_bytes` in and `out_bytes` out at
// a time: where it breaks, where it ends before the member's data does, or where `take` (given
// each piece inflated) refuses what it inflated to; the data's end when none of these happens.
uint64_t InflatedTo(ByteSource& file, const ZipMember& member, size_t in_bytes, size_t out_bytes,
                    const std::function<bool(const uint8_t*, size_t)>& take) {
  uint64_t data = 0;
  if (!MemberDataAt(file, member, &data)) return member.local;
  z_stream z{};
  if (member.method != kDeflated || inflateInit2(&z, -MAX_WBITS) != Z_OK) {
    return data + member.packed;
  }
  std::vector<uint8_t> in(in_bytes), out(out_bytes);
  uint64_t read = 0;
  bool taken = true;
  int status = Z_OK;
  while (taken && (status == Z_OK || (status == Z_BUF_ERROR && z.avail_in == 0))) {
    if (z.avail_in == 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(in.size(), member.packed - read));
      if (n == 0 || !file.ReadExact(data + read, in.data(), n)) break;
      z.next_in = in.data();
      z.avail_in = static_cast<uInt>(n);
      read += n;
    }
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    status = inflate(&z, Z_NO_FLUSH);
    taken = take(out.data(), out.size() - z.avail_out);
  }
  // Broken data, or a stream that ends before the member's data does.
  const bool broken =
      !taken || status == Z_DATA_ERROR || (status == Z_STREAM_END && z.total_in < member.packed);
  const uint64_t stop = broken ? data + z.total_in : data + member.packed;
  inflateEnd(&z);
  return stop;
}

}  // namespace

uint64_t ZipMemberInflatesTo(ByteSource& file, const ZipMember& member) {
  return InflatedTo(file, member, 16 * 1024, 64 * 1024,
                    [](const uint8_t*, size_t) { return true; });
}

namespace {

// Reads text as XML one byte at a time, enough to tell XML from characters in no order.
class XmlLexer {
 public:
  // False once the text cannot be XML.
  bool Take(uint8_t c) {
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    switch (state_) {
      case State::kText:
        if (c == '<') state_ = State::kTagStart;
        return true;
      case State::kTagStart:
        state_ = State::kTag;
        return std::isalpha(c) != 0 || c == '/' || c == '?' || c == '!' || c == '_' || c == ':';
      case State::kTag:
        if (c == '"' || c == '\'') {
          quote_ = c;
          state_ = State::kQuoted;
        } else if (c == '>') {
          state_ = State::kText;
        }
        return c != '<';
      case State::kQuoted:
        if (c == quote_) state_ = State::kTag;
        return c != '<';
    }
    return true;
  }

 private:
  enum class State : uint8_t { kText, kTagStart, kTag, kQuoted };
  State state_ = State::kText;
  uint8_t quote_ = 0;
};

}  // namespace

uint64_t ZipMemberXmlTo(ByteSource& file, const ZipMember& member) {
  // Small steps out, so that where the text stops being XML is known to a few hundred bytes in.
  XmlLexer lexer;
  return InflatedTo(file, member, 4 * 1024, 1024, [&lexer](const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      if (!lexer.Take(p[i])) return false;
    }
    return true;
  });
}

}  // namespace kestrel
