#pragma once
// The digests of a recovered file, taken from its bytes as they are written, on the hash
// worker's thread (files of at most 64 KiB are handed over gathered with others). The last bytes
// given stay here until more
// follow, so the usual cut of a carved file (its end found inside what was written last) costs
// nothing; a file written anew starts over. A deeper cut waits for the worker and goes back to the
// copy of the running state kept at every mebibyte of the file, taking the few bytes from there to
// the cut from the file being written: never the whole file again.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "report/digest_set.h"
#include "report/hash_worker.h"

namespace kestrel {

class WrittenDigest {
 public:
  // Reads bytes of the file already written; false when they cannot be read.
  using ReadBack = std::function<bool(uint64_t offset, uint8_t* buffer, size_t length)>;
  using Done = std::function<void(std::vector<FileDigest>)>;

  // `worker` null: hashed on the calling thread.
  WrittenDigest(std::vector<DigestKind> kinds, HashWorker* worker);

  void Update(const uint8_t* data, size_t length);
  // `length` zero bytes (a hole of the file).
  void UpdateZeros(uint64_t length);
  // The file is cut to `length` bytes (nothing when it is not longer).
  void CutTo(uint64_t length, const ReadBack& read_back);
  // The bytes given: the file's length.
  uint64_t length() const { return handed_ + pending_.size(); }
  // Hands the digests of every byte given to `done`, on the worker's thread once they are
  // hashed; none when bytes a cut needed could not be read back. The digest is used up.
  void Finish(Done done);
  // The digests of the bytes given, waiting for the worker.
  std::vector<FileDigest> Values();

 private:
  // The running state, only ever touched by one thread at a time: the worker's tasks, or this
  // one after the worker has drained.
  struct State {
    explicit State(const std::vector<DigestKind>& digest_kinds) : kinds(digest_kinds) {}
    void Hash(const uint8_t* data, size_t length);
    std::vector<FileDigest> Values();
    // Started on first use: on the thread that hashes, not the one that writes.
    DigestSet& Current();
    std::vector<DigestKind> kinds;
    std::optional<DigestSet> current;
    std::vector<DigestSet> marks;  // marks[i]: the state after (i + 1) MiB
    uint64_t hashed = 0;
    bool known = true;
  };

  // Hands all but the last `keep` pending bytes to the worker.
  void HandOver(size_t keep);
  // An empty buffer of the full pending size.
  std::vector<uint8_t> TakeBuffer();
  void Drain();

  std::vector<DigestKind> kinds_;
  HashWorker* worker_;
  std::shared_ptr<State> state_;
  std::vector<uint8_t> pending_;  // given, not yet handed over
  uint64_t handed_ = 0;           // bytes handed to the state (hashed or queued)
};

}  // namespace kestrel
