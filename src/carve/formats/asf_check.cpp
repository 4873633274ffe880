#include "carve/formats/asf_check.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cstring>

#include "carve/formats/asf_layout.h"
#include "carve/formats/source_window.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

using namespace asf;

constexpr size_t kWindowBytes = 64 * 1024;
constexpr uint64_t kStreamNumberEnd = 74;  // a (extended) stream properties object's number
constexpr uint64_t kHeaderExtensionBytes = 46;
constexpr uint64_t kSimpleIndexBytes = 56;
constexpr uint64_t kSimpleIndexEntryBytes = 6;
constexpr uint32_t kMaxObjects = 4096;  // in the header, its extension, or after the data
constexpr uint32_t kBroadcastFlag = 1;

// The fields of one data packet, read within its bounds.
class PacketReader {
 public:
  PacketReader(const uint8_t* p, uint32_t size) : p_(p), size_(size) {}

  // A field whose width a 2-bit length type gives: none (0), byte, word or double word.
  bool Take(uint32_t length_type, uint32_t& value) {
    const uint32_t width = length_type == 3 ? 4 : length_type;
    if (width > size_ - at_) return false;
    value = 0;
    for (uint32_t k = 0; k < width; ++k) value |= uint32_t{p_[at_ + k]} << (8 * k);
    at_ += width;
    return true;
  }
  bool Byte(uint32_t& value) { return Take(1, value); }
  bool Skip(uint64_t n) {
    if (n > size_ - at_) return false;
    at_ += static_cast<uint32_t>(n);
    return true;
  }
  const uint8_t* here() const { return p_ + at_; }
  uint32_t at() const { return at_; }

 private:
  const uint8_t* p_;
  uint32_t size_;
  uint32_t at_ = 0;
};

// Where a stream's media objects stand: payloads carry them piece by piece in sequence.
struct ObjectSequence {
  bool seen = false;   // a payload of the stream came before
  bool known = false;  // the last payload's object is known
  uint32_t number = 0;
  uint32_t size = 0;
  uint32_t received = 0;  // bytes of it carried so far
};

// The length types of a packet's payload fields.
struct PayloadTypes {
  uint32_t number = 0, offset = 0, replicated = 0, length = 0;  // length: 0 for a single payload
};

class AsfCheck {
 public:
  AsfCheck(ByteSource& source, uint64_t start, uint64_t length)
      : window_(source, start, length, kWindowBytes) {}

  uint64_t packets_fit() const { return packets_fit_; }

  Whole Run() {
    if (Whole verdict = ReadHeader(); verdict != Whole::kYes) return verdict;
    if (!properties_) return Whole::kNo;
    if ((flags_ & kBroadcastFlag) != 0 || packet_bytes_ != max_packet_bytes_) {
      return Whole::kUnchecked;
    }
    if (packet_bytes_ == 0 || file_size_ < window_.length()) return Whole::kNo;
    if (packet_bytes_ > kWindowBytes) return Whole::kUnchecked;
    // A file cut short is not whole, but the packets it holds are still followed: a search for
    // its fragments counts how far each candidate takes it.
    cut_short_ = file_size_ > window_.length();
    if (Whole verdict = CheckData(); verdict != Whole::kYes) return verdict;
    if (cut_short_) return Whole::kNo;
    return CheckObjectsAfterData();
  }

 private:
  Whole ReadHeader() {
    uint8_t head[kHeaderObjectBytes];
    if (!window_.Padded(0, head, sizeof head)) return Whole::kUnchecked;
    header_end_ = LoadLe64(head + 16);
    const uint32_t stated = LoadLe32(head + 24);
    if (!IsGuid(head, kHeaderGuid) || header_end_ < kHeaderObjectBytes ||
        header_end_ > window_.length()) {
      return Whole::kNo;
    }
    uint32_t objects = 0;
    const Whole verdict =
        WalkObjects(kHeaderObjectBytes, header_end_, objects, &AsfCheck::HeaderObject);
    if (verdict != Whole::kYes) return verdict;
    return objects == stated ? Whole::kYes : Whole::kNo;
  }

  using ObjectVisit = Whole (AsfCheck::*)(const uint8_t* guid, uint64_t at, uint64_t size);

  // The objects of [at, end), chained by their sizes; `count` counts them.
  Whole WalkObjects(uint64_t at, uint64_t end, uint32_t& count, ObjectVisit visit) {
    while (at < end) {
      if (end - at < kObjectBytes) return Whole::kNo;
      const uint8_t* p = window_.At(at, kObjectBytes);
      if (p == nullptr) return Unreached(window_);
      Guid guid;
      std::memcpy(guid.data(), p, guid.size());
      const uint64_t size = LoadLe64(p + 16);
      if (size < kObjectBytes || size > end - at) return Whole::kNo;
      if (++count > kMaxObjects) return Whole::kUnchecked;
      if (Whole verdict = (this->*visit)(guid.data(), at, size); verdict != Whole::kYes) {
        return verdict;
      }
      at += size;
    }
    return Whole::kYes;
  }

  Whole HeaderObject(const uint8_t* guid, uint64_t at, uint64_t size) {
    if (IsGuid(guid, kFilePropertiesGuid)) {
      if (size < kFilePropertiesBytes) return Whole::kNo;
      const uint8_t* p = window_.At(at, kFilePropertiesBytes);
      if (p == nullptr) return Unreached(window_);
      std::memcpy(file_id_.data(), p + 24, file_id_.size());
      file_size_ = LoadLe64(p + 40);
      packets_ = LoadLe64(p + 56);
      flags_ = LoadLe32(p + 88);
      packet_bytes_ = LoadLe32(p + 92);
      max_packet_bytes_ = LoadLe32(p + 96);
      properties_ = true;
    }
    if (IsGuid(guid, kStreamPropertiesGuid)) return DeclareStream(at, size);
    if (IsGuid(guid, kHeaderExtensionGuid)) {
      if (size < kHeaderExtensionBytes) return Whole::kNo;
      const uint8_t* p = window_.At(at, kHeaderExtensionBytes);
      if (p == nullptr) return Unreached(window_);
      const uint64_t data = LoadLe32(p + 42);
      if (data > size - kHeaderExtensionBytes) return Whole::kNo;
      uint32_t objects = 0;
      return WalkObjects(at + kHeaderExtensionBytes, at + kHeaderExtensionBytes + data, objects,
                         &AsfCheck::ExtensionObject);
    }
    return Whole::kYes;
  }

  Whole ExtensionObject(const uint8_t* guid, uint64_t at, uint64_t size) {
    return IsGuid(guid, kExtendedStreamPropertiesGuid) ? DeclareStream(at, size) : Whole::kYes;
  }

  // A stream properties or extended stream properties object: both give the stream's number
  // at the same place.
  Whole DeclareStream(uint64_t at, uint64_t size) {
    if (size < kStreamNumberEnd) return Whole::kNo;
    const uint8_t* p = window_.At(at + kStreamNumberEnd - 2, 2);
    if (p == nullptr) return Unreached(window_);
    streams_.set(LoadLe16(p) & 0x7F);
    return Whole::kYes;
  }

  // The Data object and its packets.
  Whole CheckData() {
    const uint64_t length = window_.length();
    const uint8_t* p = window_.At(header_end_, kDataObjectBytes);
    if (p == nullptr) return Unreached(window_);
    data_end_ = LoadLe64(p + 16);
    const uint64_t packets = LoadLe64(p + 40);
    const uint64_t room = length - header_end_ - kDataObjectBytes;
    if (!IsGuid(p, kDataGuid) || std::memcmp(p + 24, file_id_.data(), file_id_.size()) != 0 ||
        packets != packets_ || (!cut_short_ && packets > room / packet_bytes_)) {
      return Whole::kNo;
    }
    // A Data object size of 0 is a writer's placeholder: the packets give it.
    const uint64_t data_bytes = kDataObjectBytes + packets * packet_bytes_;
    if (data_end_ != 0 && data_end_ != data_bytes) return Whole::kNo;
    data_end_ = header_end_ + data_bytes;
    if (packets > kMaxAsfCheckPackets) return Whole::kUnchecked;
    for (uint64_t k = 0; k < std::min(packets, room / packet_bytes_); ++k) {
      const uint8_t* packet =
          window_.At(header_end_ + kDataObjectBytes + k * packet_bytes_, packet_bytes_);
      if (packet == nullptr) return Unreached(window_);
      if (!PacketFits(packet)) return Whole::kNo;
      packets_fit_ = k + 1;
    }
    return Whole::kYes;
  }

  bool PacketFits(const uint8_t* p) {
    PacketReader r(p, packet_bytes_);
    uint32_t flags = 0;
    if (!r.Byte(flags)) return false;
    if ((flags & 0x80) != 0) {
      // Error correction data: its length in the low bits; length type and opaque bits clear.
      if ((flags & 0x70) != 0 || !r.Skip(flags & 0x0F) || !r.Byte(flags)) return false;
    }
    uint32_t property = 0, length = 0, sequence = 0, padding = 0, send_time = 0;
    if ((flags & 0x80) != 0 || !r.Byte(property) || (property >> 6) != 1) return false;
    if (!r.Take((flags >> 5) & 3, length) || !r.Take((flags >> 1) & 3, sequence) ||
        !r.Take((flags >> 3) & 3, padding) || !r.Take(3, send_time) || !r.Skip(2)) {
      return false;
    }
    // A packet length, where given, ends the packet's data; the rest of it is padding too.
    const uint32_t end = ((flags >> 5) & 3) != 0 ? length : packet_bytes_;
    if (end > packet_bytes_ || end < r.at() || padding > end - r.at()) return false;
    if (send_time < send_time_) return false;
    send_time_ = send_time;
    const uint32_t payload_end = end - padding;
    PayloadTypes types{(property >> 4) & 3, (property >> 2) & 3, property & 3, 0};
    uint32_t payloads = 1;
    if ((flags & 1) != 0) {
      uint32_t multiple = 0;
      if (!r.Byte(multiple)) return false;
      payloads = multiple & 0x3F;
      types.length = multiple >> 6;
      if (payloads == 0 || types.length == 0) return false;
    }
    for (uint32_t k = 0; k < payloads; ++k) {
      if (!PayloadFits(r, types, payload_end)) return false;
    }
    return r.at() == payload_end;
  }

  bool PayloadFits(PacketReader& r, const PayloadTypes& types, uint32_t payload_end) {
    uint32_t stream = 0, number = 0, offset = 0, replicated = 0, length = 0;
    if (!r.Byte(stream) || !streams_.test(stream & 0x7F) || !r.Take(types.number, number) ||
        !r.Take(types.offset, offset) || !r.Take(types.replicated, replicated)) {
      return false;
    }
    // Replicated data: none, one byte (a compressed payload of whole small objects), or at
    // least the object's size and presentation time.
    if (replicated > 1 && replicated < 8) return false;
    const uint8_t* data = r.here();
    if (!r.Skip(replicated)) return false;
    const uint32_t object_size = replicated >= 8 ? LoadLe32(data) : 0;
    if (types.length != 0) {
      if (!r.Take(types.length, length)) return false;
    } else {
      if (r.at() > payload_end) return false;
      length = payload_end - r.at();
    }
    if (r.at() > payload_end || length > payload_end - r.at()) return false;
    const uint8_t* payload = r.here();
    r.Skip(length);
    ObjectSequence& sequence = objects_[stream & 0x7F];
    if (replicated == 1) {
      sequence.seen = true;
      sequence.known = false;
      return SubPayloadsFill(payload, length);
    }
    const uint32_t mask = types.number == 1 ? 0xFF : types.number == 2 ? 0xFFFF : 0xFFFFFFFF;
    // Objects are followed where payloads give their number, a 32-bit offset and their size.
    const bool numbered = types.number != 0 && types.offset == 3 && object_size != 0;
    return InSequence(sequence, numbered, number, offset, length, object_size, mask);
  }

  // A compressed payload: sub-payloads, each its length byte and data, fill it exactly.
  static bool SubPayloadsFill(const uint8_t* p, uint32_t length) {
    uint64_t at = 0;
    while (at < length) at += 1 + uint64_t{p[at]};
    return at == length;
  }

  // Whether a payload carrying [offset, offset + length) of object `number` (of `size` bytes)
  // goes on with the stream's objects: the object that was being carried, from where it was
  // left, or the next one from its start once the last was whole. The first payload of a stream
  // starts an object. Without an object number or size the sequence is not followed.
  static bool InSequence(ObjectSequence& s, bool numbered, uint32_t number, uint32_t offset,
                         uint32_t length, uint32_t size, uint32_t mask) {
    const bool first = !s.seen;
    s.seen = true;
    if (!numbered) {
      s.known = false;
      return !first || offset == 0;
    }
    if (offset > size || length > size - offset) return false;
    bool fits = first ? offset == 0 : true;
    if (s.known && number == s.number) fits = offset == s.received && size == s.size;
    if (s.known && number != s.number) {
      fits = offset == 0 && s.received == s.size && number == ((s.number + 1) & mask);
    }
    s = {true, true, number, size, offset + length};
    return fits;
  }

  // Indexes and other objects after the data, up to the file's end.
  Whole CheckObjectsAfterData() {
    uint32_t objects = 0;
    return WalkObjects(data_end_, window_.length(), objects, &AsfCheck::ObjectAfterData);
  }

  Whole ObjectAfterData(const uint8_t* guid, uint64_t at, uint64_t size) {
    if (!IsGuid(guid, kSimpleIndexGuid)) return Whole::kYes;
    if (size < kSimpleIndexBytes) return Whole::kNo;
    const uint8_t* p = window_.At(at, kSimpleIndexBytes);
    if (p == nullptr) return Unreached(window_);
    const uint32_t entries = LoadLe32(p + 52);
    if (std::memcmp(p + 24, file_id_.data(), file_id_.size()) != 0 ||
        entries > (size - kSimpleIndexBytes) / kSimpleIndexEntryBytes) {
      return Whole::kNo;
    }
    if (entries > kMaxAsfIndexEntries) return Whole::kUnchecked;
    for (uint32_t k = 0; k < entries; ++k) {
      const uint8_t* entry =
          window_.At(at + kSimpleIndexBytes + k * kSimpleIndexEntryBytes, kSimpleIndexEntryBytes);
      if (entry == nullptr) return Unreached(window_);
      if (LoadLe32(entry) >= packets_) return Whole::kNo;
    }
    return Whole::kYes;
  }

  SourceWindow window_;
  uint64_t header_end_ = 0, data_end_ = 0;
  bool properties_ = false;
  Guid file_id_{};
  uint64_t file_size_ = 0, packets_ = 0;
  uint64_t packets_fit_ = 0;  // data packets that parse and keep the sequence, from the first on
  bool cut_short_ = false;    // the file stops before the size it states
  uint32_t flags_ = 0, packet_bytes_ = 0, max_packet_bytes_ = 0;
  std::bitset<128> streams_;
  std::array<ObjectSequence, 128> objects_{};
  uint32_t send_time_ = 0;
};

}  // namespace

Whole CheckAsf(ByteSource& source, uint64_t start, uint64_t length) {
  return AsfCheck(source, start, length).Run();
}

AsfPackets CheckAsfPackets(ByteSource& source, uint64_t start, uint64_t length) {
  AsfCheck check(source, start, length);
  const Whole whole = check.Run();
  return {whole, check.packets_fit()};
}

}  // namespace kestrel
