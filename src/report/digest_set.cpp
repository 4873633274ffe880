#include "report/digest_set.h"

#include <openssl/evp.h>

#include <algorithm>
#include <new>

namespace kestrel {
namespace {

const EVP_MD* Fetch(const char* name) {
  const EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
  if (md == nullptr) throw std::bad_alloc();
  return md;
}

// Fetched once for the process (held to its end): a digest started by name looks the algorithm
// up again each time, which costs more than hashing a small file.
const EVP_MD* Algorithm(DigestKind kind) {
  static const EVP_MD* const kMd5 = Fetch("MD5");
  static const EVP_MD* const kSha1 = Fetch("SHA1");
  static const EVP_MD* const kSha256 = Fetch("SHA256");
  switch (kind) {
    case DigestKind::kMd5:
      return kMd5;
    case DigestKind::kSha1:
      return kSha1;
    case DigestKind::kSha256:
      break;
  }
  return kSha256;
}

struct ContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;

Context NewContext() {
  Context context(EVP_MD_CTX_new());
  if (!context) throw std::bad_alloc();
  return context;
}

std::string Hex(const unsigned char* bytes, unsigned int length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

}  // namespace

struct DigestSet::State {
  DigestKind kind;
  Context context;
};

const char* DigestName(DigestKind kind) {
  switch (kind) {
    case DigestKind::kMd5:
      return "md5";
    case DigestKind::kSha1:
      return "sha1";
    case DigestKind::kSha256:
      break;
  }
  return "sha256";
}

bool ParseDigestList(const std::string& text, std::vector<DigestKind>* kinds, std::string* error) {
  kinds->clear();
  if (text == "none") return true;
  for (size_t start = 0; start <= text.size();) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    const std::string name = text.substr(start, comma - start);
    DigestKind kind;
    if (name == "md5") {
      kind = DigestKind::kMd5;
    } else if (name == "sha1") {
      kind = DigestKind::kSha1;
    } else if (name == "sha256") {
      kind = DigestKind::kSha256;
    } else {
      *error = "unknown digest \"" + name + "\" (md5, sha1, sha256 or none)";
      return false;
    }
    if (std::find(kinds->begin(), kinds->end(), kind) == kinds->end()) kinds->push_back(kind);
    start = comma + 1;
  }
  return true;
}

DigestSet::DigestSet(const std::vector<DigestKind>& kinds) {
  for (DigestKind kind : kinds) {
    auto state = std::make_unique<State>(State{kind, NewContext()});
    if (EVP_DigestInit_ex(state->context.get(), Algorithm(kind), nullptr) != 1) {
      throw std::bad_alloc();
    }
    states_.push_back(std::move(state));
  }
}

DigestSet::~DigestSet() = default;
DigestSet::DigestSet(DigestSet&&) noexcept = default;
DigestSet& DigestSet::operator=(DigestSet&&) noexcept = default;

DigestSet::DigestSet(const DigestSet& other) {
  *this = other;
}

DigestSet& DigestSet::operator=(const DigestSet& other) {
  if (this == &other) return *this;
  std::vector<std::unique_ptr<State>> copies;
  for (const auto& state : other.states_) {
    auto copy = std::make_unique<State>(State{state->kind, NewContext()});
    if (EVP_MD_CTX_copy_ex(copy->context.get(), state->context.get()) != 1) {
      throw std::bad_alloc();
    }
    copies.push_back(std::move(copy));
  }
  states_ = std::move(copies);
  return *this;
}

void DigestSet::Update(const uint8_t* data, size_t length) {
  if (length == 0) return;
  for (const auto& state : states_) EVP_DigestUpdate(state->context.get(), data, length);
}

std::vector<FileDigest> DigestSet::Values() const {
  std::vector<FileDigest> values;
  for (const auto& state : states_) {
    Context finished = NewContext();
    unsigned char bytes[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_MD_CTX_copy_ex(finished.get(), state->context.get()) != 1 ||
        EVP_DigestFinal_ex(finished.get(), bytes, &length) != 1) {
      continue;
    }
    values.push_back({state->kind, Hex(bytes, length)});
  }
  return values;
}

}  // namespace kestrel
