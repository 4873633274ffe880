// File records built byte by byte: the update sequence, damaged attributes, names, streams.
#include <gtest/gtest.h>

#include <cstring>

#include "fs/ntfs/ntfs_record.h"

namespace kestrel {
namespace {

constexpr uint32_t kRecordSize = 1024;

void Put(std::vector<uint8_t>& b, size_t at, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A deleted file record as NTFS writes it: header, update sequence array at 0x30, resident
// attributes from 0x38, end marker, and the sequence number 7 in every stride's last two bytes.
class RecordBuilder {
 public:
  RecordBuilder() : bytes_(kRecordSize, 0) {
    std::memcpy(bytes_.data(), "FILE", 4);
    Put(bytes_, 4, 0x30, 2);
    Put(bytes_, 6, kRecordSize / 512 + 1, 2);
    Put(bytes_, 20, offset_, 2);
  }

  RecordBuilder& Attribute(uint32_t type, const std::vector<uint8_t>& value,
                           const std::u16string& name = u"") {
    const size_t header = 24 + 2 * name.size();
    const size_t length = (header + value.size() + 7) / 8 * 8;
    Put(bytes_, offset_, type, 4);
    Put(bytes_, offset_ + 4, length, 4);
    bytes_[offset_ + 9] = static_cast<uint8_t>(name.size());
    Put(bytes_, offset_ + 10, 24, 2);
    Put(bytes_, offset_ + 16, value.size(), 4);
    Put(bytes_, offset_ + 20, header, 2);
    for (size_t i = 0; i < name.size(); ++i) Put(bytes_, offset_ + 24 + 2 * i, name[i], 2);
    std::copy(value.begin(), value.end(), bytes_.begin() + offset_ + header);
    offset_ += length;
    return *this;
  }

  RecordBuilder& FileName(const std::u16string& name, uint8_t name_space) {
    std::vector<uint8_t> value(66 + 2 * name.size(), 0);
    value[64] = static_cast<uint8_t>(name.size());
    value[65] = name_space;
    for (size_t i = 0; i < name.size(); ++i) Put(value, 66 + 2 * i, name[i], 2);
    return Attribute(0x30, value);
  }

  std::vector<uint8_t>& bytes() { return bytes_; }
  size_t next_offset() const { return offset_; }

  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> out = bytes_;
    Put(out, offset_, 0xFFFFFFFF, 4);
    Put(out, 0x30, 7, 2);
    for (size_t i = 1; i <= kRecordSize / 512; ++i) {
      std::memcpy(&out[0x30 + 2 * i], &out[i * 512 - 2], 2);
      Put(out, i * 512 - 2, 7, 2);
    }
    return out;
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t offset_ = 0x38;
};

int Parse(MftRecord& record, std::vector<uint8_t> bytes) {
  EXPECT_EQ(record.SetParams(kRecordSize, 4096, 100), 0);
  return record.ParseRecord(bytes, true);
}

TEST(NtfsRecord, UpdateSequenceIsAppliedAndChecked) {
  // A resident value across bytes 510 and 511: they come back from the array.
  std::vector<uint8_t> content(600);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i * 7 + 1);
  const std::vector<uint8_t> good = RecordBuilder().Attribute(0x80, content).Build();
  MftRecord record;
  ASSERT_EQ(Parse(record, good), 0);
  EXPECT_EQ(record.data()->bytes, content);
  EXPECT_FALSE(record.in_use());

  std::vector<uint8_t> torn = good;
  torn[1022] ^= 0xFF;  // the second stride was not written with the first
  EXPECT_EQ(Parse(record, torn), 87);
  std::vector<uint8_t> bad_count = good;
  Put(bad_count, 6, 5, 2);
  EXPECT_EQ(Parse(record, bad_count), 87);
  std::vector<uint8_t> bad_array = good;
  Put(bad_array, 4, 0x1FF, 2);
  EXPECT_EQ(Parse(record, bad_array), 87);
  EXPECT_EQ(Parse(record, std::vector<uint8_t>(good.begin(), good.begin() + 512)), 87);
}

TEST(NtfsRecord, AttributesThatDoNotFitTheRecordAreDamage) {
  MftRecord record;
  for (uint32_t length : {0u, 8u, 0x10000u}) {
    RecordBuilder builder;
    builder.Attribute(0x80, {1, 2, 3});
    Put(builder.bytes(), 0x38 + 4, length, 4);
    EXPECT_EQ(Parse(record, builder.Build()), 87) << length;
  }
  RecordBuilder value_outside;
  value_outside.Attribute(0x80, {1, 2, 3});
  Put(value_outside.bytes(), 0x38 + 16, 4000, 4);
  EXPECT_EQ(Parse(record, value_outside.Build()), 87);
  RecordBuilder name_outside;
  name_outside.FileName(u"a", 1);
  name_outside.bytes()[0x38 + 24 + 64] = 200;
  EXPECT_EQ(Parse(record, name_outside.Build()), 87);
  RecordBuilder first_offset;
  Put(first_offset.bytes(), 20, 2000, 2);
  EXPECT_EQ(Parse(record, first_offset.Build()), 87);
}

TEST(NtfsRecord, FirstUnnamedStreamIsTheContent) {
  MftRecord record;
  ASSERT_EQ(Parse(record, RecordBuilder()
                              .Attribute(0x80, {'z'}, u"Zone.Identifier")
                              .Attribute(0x80, {'m', 'a', 'i', 'n'})
                              .Attribute(0x80, {'x'})
                              .Build()),
            0);
  EXPECT_EQ(record.data()->bytes, (std::vector<uint8_t>{'m', 'a', 'i', 'n'}));
}

TEST(NtfsRecord, DosNameGivesWayToTheFirstName) {
  MftRecord record;
  ASSERT_EQ(Parse(record, RecordBuilder()
                              .FileName(u"Long holiday photo.jpeg", 1)
                              .FileName(u"LONGHO~1.JPE", 2)
                              .Build()),
            0);
  EXPECT_EQ(record.file_name()->name, u"Long holiday photo.jpeg");
  ASSERT_EQ(Parse(record, RecordBuilder().FileName(u"A~1", 2).FileName(u"a b", 1).Build()), 0);
  EXPECT_EQ(record.file_name()->name, u"a b");
}

}  // namespace
}  // namespace kestrel
