#pragma once
// The digests of one byte stream in every chosen algorithm at once (OpenSSL's EVP), with a
// copy of the running state so that a stream can go back to an earlier length.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrel {

enum class DigestKind { kMd5, kSha1, kSha256 };

// "md5", "sha1", "sha256".
const char* DigestName(DigestKind kind);

// A comma-separated list of digest names ("md5,sha256"; "none" for none) into `kinds`, each
// once, in the order given. False with `error` set on an unknown name or an empty list.
bool ParseDigestList(const std::string& text, std::vector<DigestKind>* kinds, std::string* error);

struct FileDigest {
  DigestKind kind = DigestKind::kSha256;
  std::string hex;  // lower-case base 16
};

class DigestSet {
 public:
  explicit DigestSet(const std::vector<DigestKind>& kinds);
  ~DigestSet();
  DigestSet(const DigestSet& other);
  DigestSet& operator=(const DigestSet& other);
  DigestSet(DigestSet&&) noexcept;
  DigestSet& operator=(DigestSet&&) noexcept;

  void Update(const uint8_t* data, size_t length);
  // The digests of the bytes given so far; the state itself goes on unchanged.
  std::vector<FileDigest> Values() const;
  bool empty() const { return states_.empty(); }

 private:
  struct State;
  std::vector<std::unique_ptr<State>> states_;
};

}  // namespace kestrel
