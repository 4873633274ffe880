#include "report/written_digest.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/ntfs_image.h"
#include "support/report_check.h"

namespace kestrel {
namespace {

using testing::DigestOf;

// A file being written, held in memory, hashed as the writer hashes it.
class WrittenFile {
 public:
  WrittenFile(std::vector<DigestKind> kinds, HashWorker* worker)
      : digest_(std::move(kinds), worker) {}
  void Write(const std::vector<uint8_t>& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    digest_.Update(bytes.data(), bytes.size());
  }
  void Hole(uint64_t length) {
    bytes_.resize(bytes_.size() + length, 0);
    digest_.UpdateZeros(length);
  }
  void Cut(uint64_t length) {
    digest_.CutTo(length, [this](uint64_t offset, uint8_t* buffer, size_t count) {
      if (offset + count > bytes_.size()) return false;
      std::memcpy(buffer, bytes_.data() + offset, count);
      return true;
    });
    if (length < bytes_.size()) bytes_.resize(length);
  }
  std::string Sha256() {
    for (const FileDigest& digest : digest_.Values()) {
      if (digest.kind == DigestKind::kSha256) return digest.hex;
    }
    return "none";
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  WrittenDigest& digest() { return digest_; }

 private:
  std::vector<uint8_t> bytes_;
  WrittenDigest digest_;
};

// Cuts land inside the bytes not yet handed over, before, on and after the mebibyte marks the
// running state is copied at, and a file written again after a cut hashes the bytes it ends
// with; the same on the worker's thread and on the caller's.
class WrittenDigestTest : public ::testing::TestWithParam<bool> {
 protected:
  HashWorker* worker() { return GetParam() ? &worker_ : nullptr; }
  HashWorker worker_;
};

INSTANTIATE_TEST_SUITE_P(Threads, WrittenDigestTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param_info) {
                           return param_info.param ? "Worker" : "Caller";
                         });

TEST_P(WrittenDigestTest, CutsKeepTheDigestOfTheBytesKept) {
  WrittenFile file({DigestKind::kMd5, DigestKind::kSha1, DigestKind::kSha256}, worker());
  file.Write(testing::PatternBytes(9 << 20, 1));
  for (uint64_t cut : {uint64_t{(9 << 20) - 5}, uint64_t{(8 << 20) + 17}, uint64_t{8 << 20},
                       uint64_t{(4 << 20) - 1}, uint64_t{4 << 20}, uint64_t{100}}) {
    SCOPED_TRACE(cut);
    file.Cut(cut);
    ASSERT_EQ(file.digest().length(), cut);
    EXPECT_EQ(file.Sha256(), DigestOf("sha256", file.bytes()));
    file.Write(testing::PatternBytes(5 << 20, static_cast<uint32_t>(cut)));
    EXPECT_EQ(file.Sha256(), DigestOf("sha256", file.bytes()));
  }
  file.Cut(0);
  file.Hole(6 << 20);
  file.Write({1, 2, 3});
  file.Cut(5 << 20);
  const std::vector<FileDigest> values = file.digest().Values();
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].hex, DigestOf("md5", file.bytes()));
  EXPECT_EQ(values[1].hex, DigestOf("sha1", file.bytes()));
  EXPECT_EQ(values[2].hex, DigestOf("sha256", file.bytes()));
}

// Bytes that cannot be read back leave no digest: never one that does not match the file.
TEST_P(WrittenDigestTest, UnreadableBytesLeaveNoDigest) {
  WrittenDigest digest({DigestKind::kSha256}, worker());
  const std::vector<uint8_t> bytes = testing::PatternBytes(5 << 20, 2);
  digest.Update(bytes.data(), bytes.size());
  digest.CutTo((2 << 20) + 10, [](uint64_t, uint8_t*, size_t) { return false; });
  EXPECT_TRUE(digest.Values().empty());
}

// Finished digests reach their callbacks in the order the files were finished: small files
// (handed over gathered, in batches ended by their count or their bytes) between large ones
// (handed over in pieces as they are written).
TEST_P(WrittenDigestTest, FinishedFilesComeOutInOrder) {
  std::vector<std::string> seen;
  std::vector<std::string> expected;
  for (uint32_t i = 0; i < 300; ++i) {
    const size_t size = i % 25 == 0 ? i * 20000 + 1 : (i * 7919) % 70000;
    const std::vector<uint8_t> bytes = testing::PatternBytes(size, i);
    WrittenDigest digest({DigestKind::kSha256}, worker());
    digest.Update(bytes.data(), bytes.size());
    digest.Finish([&seen](std::vector<FileDigest> values) { seen.push_back(values.at(0).hex); });
    expected.push_back(DigestOf("sha256", bytes));
  }
  worker_.Drain();
  EXPECT_EQ(seen, expected);
}

TEST(DigestListTest, ParsesNamesOnceAndRefusesUnknownOnes) {
  std::vector<DigestKind> kinds;
  std::string error;
  ASSERT_TRUE(ParseDigestList("sha256,md5,sha256", &kinds, &error));
  EXPECT_EQ(kinds, (std::vector<DigestKind>{DigestKind::kSha256, DigestKind::kMd5}));
  ASSERT_TRUE(ParseDigestList("none", &kinds, &error));
  EXPECT_TRUE(kinds.empty());
  for (const char* bad : {"", "sha512", "md5,", "SHA256"}) {
    EXPECT_FALSE(ParseDigestList(bad, &kinds, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace kestrel
