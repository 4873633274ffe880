#include "support/tiff_builder.h"

#include <algorithm>
#include <cstddef>

namespace kestrel::testing {
namespace {

uint32_t TypeWidth(uint16_t type) {
  switch (type) {
    case 3:
    case 8:
      return 2;
    case 4:
    case 9:
    case 11:
      return 4;
    case 5:
    case 10:
    case 12:
      return 8;
    default:
      return 1;
  }
}

}  // namespace

std::vector<uint8_t> PatternBytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> bytes(n);
  uint32_t x = 0x9E3779B9u * (seed + 1u);
  for (size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    bytes[i] = static_cast<uint8_t>(x >> 24);
  }
  return bytes;
}

TiffBuilder::TiffBuilder(bool big_endian) : big_(big_endian) {
  magic_ = big_ ? std::vector<uint8_t>{0, 42} : std::vector<uint8_t>{42, 0};
}

int TiffBuilder::AddIfd() {
  ifds_.emplace_back();
  return static_cast<int>(ifds_.size()) - 1;
}

int TiffBuilder::AddBlock(std::vector<uint8_t> bytes) {
  blocks_.push_back(std::move(bytes));
  return static_cast<int>(blocks_.size()) - 1;
}

TiffBuilder::Field& TiffBuilder::Add(int ifd, uint16_t tag, uint16_t type, uint32_t count) {
  Field f;
  f.tag = tag;
  f.type = type;
  f.count = count;
  ifds_.at(ifd).fields.push_back(f);
  return ifds_.at(ifd).fields.back();
}

void TiffBuilder::Ascii(int ifd, uint16_t tag, const std::string& text) {
  Field& f = Add(ifd, tag, 2, static_cast<uint32_t>(text.size() + 1));
  f.bytes.assign(text.begin(), text.end());
  f.bytes.push_back(0);
}

void TiffBuilder::Short(int ifd, uint16_t tag, std::vector<uint16_t> values) {
  Field& f = Add(ifd, tag, 3, static_cast<uint32_t>(values.size()));
  f.numbers.assign(values.begin(), values.end());
}

void TiffBuilder::Long(int ifd, uint16_t tag, std::vector<uint32_t> values) {
  Field& f = Add(ifd, tag, 4, static_cast<uint32_t>(values.size()));
  f.numbers = std::move(values);
}

void TiffBuilder::Rational(int ifd, uint16_t tag, uint32_t numerator, uint32_t denominator) {
  Field& f = Add(ifd, tag, 5, 1);
  f.numbers = {numerator, denominator};
}

void TiffBuilder::RawEntry(int ifd, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
  Field& f = Add(ifd, tag, type, count);
  f.raw = true;
  f.raw_value = value;
}

void TiffBuilder::Strips(int ifd, const std::vector<int>& blocks) {
  Field& offsets = Add(ifd, 273, 4, static_cast<uint32_t>(blocks.size()));
  offsets.ref = RefKind::kBlock;
  offsets.targets = blocks;
  std::vector<uint32_t> lengths;
  for (int b : blocks) lengths.push_back(static_cast<uint32_t>(blocks_.at(b).size()));
  Field& counts = Add(ifd, 279, 4, static_cast<uint32_t>(blocks.size()));
  counts.numbers = lengths;
}

void TiffBuilder::SubIfds(int ifd, const std::vector<int>& children) {
  Field& f = Add(ifd, 330, 4, static_cast<uint32_t>(children.size()));
  f.ref = RefKind::kIfd;
  f.targets = children;
}

void TiffBuilder::ExifIfd(int ifd, int child) {
  Field& f = Add(ifd, 34665, 4, 1);
  f.ref = RefKind::kIfd;
  f.targets = {child};
}

void TiffBuilder::Thumbnail(int ifd, int block) {
  Field& offset = Add(ifd, 513, 4, 1);
  offset.ref = RefKind::kBlock;
  offset.targets = {block};
  Long(ifd, 514, {static_cast<uint32_t>(blocks_.at(block).size())});
}

void TiffBuilder::MakerNote(int ifd, int block) {
  Field& f = Add(ifd, 37500, 7, static_cast<uint32_t>(blocks_.at(block).size()));
  f.ref = RefKind::kPointsAtBlock;
  f.targets = {block};
}

void TiffBuilder::Next(int ifd, int next_ifd) {
  ifds_.at(ifd).next = next_ifd;
}

void TiffBuilder::Put16(std::vector<uint8_t>& out, size_t at, uint16_t v) const {
  out[at + (big_ ? 0 : 1)] = static_cast<uint8_t>(v >> 8);
  out[at + (big_ ? 1 : 0)] = static_cast<uint8_t>(v);
}

void TiffBuilder::Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) const {
  if (big_) {
    Put16(out, at, static_cast<uint16_t>(v >> 16));
    Put16(out, at + 2, static_cast<uint16_t>(v));
  } else {
    Put16(out, at, static_cast<uint16_t>(v));
    Put16(out, at + 2, static_cast<uint16_t>(v >> 16));
  }
}

std::vector<uint8_t> TiffBuilder::Encode(const Field& f) const {
  const uint32_t width = TypeWidth(f.type);
  std::vector<uint8_t> out(size_t{width} * f.count, 0);
  if (!f.bytes.empty()) {
    std::copy(f.bytes.begin(), f.bytes.end(), out.begin());
    return out;
  }
  std::vector<uint32_t> numbers = f.numbers;
  if (f.ref == RefKind::kIfd || f.ref == RefKind::kBlock) {
    numbers.clear();
    for (int t : f.targets) {
      numbers.push_back(f.ref == RefKind::kIfd ? ifd_offsets_.at(t) : block_offsets_.at(t));
    }
  }
  const uint32_t step = f.type == 5 ? 4 : width;
  for (size_t i = 0; i < numbers.size() && (i + 1) * step <= out.size(); ++i) {
    if (step == 2) {
      Put16(out, i * 2, static_cast<uint16_t>(numbers[i]));
    } else {
      Put32(out, i * 4, numbers[i]);
    }
  }
  return out;
}

std::vector<uint8_t> TiffBuilder::Build() const {
  // Layout: sizes first, then offsets.
  std::vector<std::vector<Field>> sorted;
  for (const Ifd& ifd : ifds_) {
    std::vector<Field> fields = ifd.fields;
    std::stable_sort(fields.begin(), fields.end(),
                     [](const Field& a, const Field& b) { return a.tag < b.tag; });
    sorted.push_back(std::move(fields));
  }
  auto value_size = [](const Field& f) -> uint64_t {
    if (f.raw || f.ref == RefKind::kPointsAtBlock) return 0;
    return uint64_t{TypeWidth(f.type)} * f.count;
  };
  ifd_offsets_.assign(ifds_.size(), 0);
  block_offsets_.assign(blocks_.size(), 0);
  std::vector<std::vector<uint32_t>> value_offsets(ifds_.size());
  uint64_t pos = 8;
  for (size_t i = 0; i < ifds_.size(); ++i) {
    ifd_offsets_[i] = static_cast<uint32_t>(pos);
    pos += 2 + 12 * sorted[i].size() + 4;
    for (const Field& f : sorted[i]) {
      const uint64_t size = value_size(f);
      value_offsets[i].push_back(static_cast<uint32_t>(pos));
      if (size > 4) pos += size + (size & 1);
    }
  }
  for (size_t b = 0; b < blocks_.size(); ++b) {
    block_offsets_[b] = static_cast<uint32_t>(pos);
    pos += blocks_[b].size();
    if (b + 1 < blocks_.size()) pos += pos & 1;
  }

  std::vector<uint8_t> out(pos, 0);
  out[0] = out[1] = big_ ? 'M' : 'I';
  out[2] = magic_[0];
  out[3] = magic_[1];
  Put32(out, 4, ifds_.empty() ? 0 : ifd_offsets_[0]);
  for (size_t i = 0; i < ifds_.size(); ++i) {
    size_t at = ifd_offsets_[i];
    Put16(out, at, static_cast<uint16_t>(sorted[i].size()));
    at += 2;
    for (size_t k = 0; k < sorted[i].size(); ++k, at += 12) {
      const Field& f = sorted[i][k];
      Put16(out, at, f.tag);
      Put16(out, at + 2, f.type);
      Put32(out, at + 4, f.count);
      if (f.raw) {
        Put32(out, at + 8, f.raw_value);
      } else if (f.ref == RefKind::kPointsAtBlock) {
        Put32(out, at + 8, block_offsets_.at(f.targets.at(0)));
      } else {
        const std::vector<uint8_t> value = Encode(f);
        if (value.size() <= 4) {
          std::copy(value.begin(), value.end(), out.begin() + static_cast<std::ptrdiff_t>(at + 8));
        } else {
          Put32(out, at + 8, value_offsets[i][k]);
          std::copy(value.begin(), value.end(),
                    out.begin() + static_cast<std::ptrdiff_t>(value_offsets[i][k]));
        }
      }
    }
    const Ifd& ifd = ifds_[i];
    Put32(out, at, ifd.next >= 0 ? ifd_offsets_.at(ifd.next) : 0);
  }
  for (size_t b = 0; b < blocks_.size(); ++b) {
    std::copy(blocks_[b].begin(), blocks_[b].end(),
              out.begin() + static_cast<std::ptrdiff_t>(block_offsets_[b]));
  }
  return out;
}

}  // namespace kestrel::testing
