#include "report/written_digest.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace kestrel {
namespace {

constexpr uint64_t kMarkBytes = uint64_t{1} << 20;
// Bytes handed to the worker at once, and the last bytes given that stay here for a cut.
constexpr size_t kHandOverBytes = 1 << 20;
constexpr size_t kKeptBytes = 256 * 1024;
constexpr size_t kPieceBytes = 64 * 1024;
// Files up to this size go to the worker gathered with others.
constexpr size_t kGatheredBytes = 64 * 1024;

}  // namespace

void WrittenDigest::State::Hash(const uint8_t* data, size_t length) {
  while (length > 0) {
    const uint64_t to_mark = kMarkBytes - hashed % kMarkBytes;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(length, to_mark));
    Current().Update(data, n);
    hashed += n;
    data += n;
    length -= n;
    if (hashed % kMarkBytes == 0) marks.push_back(Current());
  }
}

std::vector<FileDigest> WrittenDigest::State::Values() {
  if (!known) return {};
  return Current().Values();
}

DigestSet& WrittenDigest::State::Current() {
  if (!current) current.emplace(kinds);
  return *current;
}

WrittenDigest::WrittenDigest(std::vector<DigestKind> kinds, HashWorker* worker)
    : kinds_(std::move(kinds)), worker_(worker), state_(std::make_shared<State>(kinds_)) {}

void WrittenDigest::Update(const uint8_t* data, size_t length) {
  while (length > 0) {
    // The buffer has its full size from the start: appending never moves what it holds.
    if (pending_.capacity() == 0) pending_ = TakeBuffer();
    const size_t n = std::min(length, pending_.capacity() - pending_.size());
    pending_.insert(pending_.end(), data, data + n);
    data += n;
    length -= n;
    if (pending_.size() == pending_.capacity()) HandOver(kKeptBytes);
  }
}

void WrittenDigest::UpdateZeros(uint64_t length) {
  static const uint8_t kZeros[kPieceBytes] = {};
  while (length > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(length, kPieceBytes));
    Update(kZeros, n);
    length -= n;
  }
}

void WrittenDigest::HandOver(size_t keep) {
  if (pending_.size() <= keep) return;
  std::vector<uint8_t> chunk = std::move(pending_);
  pending_ = keep != 0 ? TakeBuffer() : std::vector<uint8_t>();
  const auto split = chunk.end() - static_cast<std::ptrdiff_t>(keep);
  pending_.insert(pending_.end(), split, chunk.end());
  chunk.erase(split, chunk.end());
  handed_ += chunk.size();
  const size_t bytes = chunk.size();
  // The buffer goes back to the worker for the next file once it is hashed.
  auto task = [state = state_, chunk = std::move(chunk), worker = worker_]() mutable {
    state->Hash(chunk.data(), chunk.size());
    if (worker != nullptr) worker->GiveBack(std::move(chunk));
  };
  if (worker_ != nullptr) {
    worker_->Post(std::move(task), bytes);
  } else {
    task();
  }
}

std::vector<uint8_t> WrittenDigest::TakeBuffer() {
  if (worker_ != nullptr) return worker_->TakeBuffer(kHandOverBytes + kKeptBytes);
  std::vector<uint8_t> buffer;
  buffer.reserve(kHandOverBytes + kKeptBytes);
  return buffer;
}

void WrittenDigest::Drain() {
  if (worker_ != nullptr) worker_->Drain();
}

void WrittenDigest::CutTo(uint64_t length, const ReadBack& read_back) {
  if (length >= this->length()) return;
  if (length >= handed_) {
    pending_.resize(static_cast<size_t>(length - handed_));
    return;
  }
  pending_.clear();
  handed_ = length;
  if (length == 0) {
    state_ = std::make_shared<State>(kinds_);  // tasks still queued keep the old state
    return;
  }
  Drain();
  State& state = *state_;
  const uint64_t marks = length / kMarkBytes;
  state.marks.erase(state.marks.begin() + static_cast<std::ptrdiff_t>(marks), state.marks.end());
  if (marks == 0) {
    state.current.reset();
  } else {
    state.current = state.marks.back();
  }
  state.hashed = marks * kMarkBytes;
  std::vector<uint8_t> piece(kPieceBytes);
  while (state.hashed < length) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(length - state.hashed, kPieceBytes));
    if (!read_back(state.hashed, piece.data(), n)) {
      state.known = false;
      state.hashed = length;
      return;
    }
    state.Hash(piece.data(), n);
  }
}

void WrittenDigest::Finish(Done done) {
  if (worker_ == nullptr) {
    state_->Hash(pending_.data(), pending_.size());
    handed_ += pending_.size();
    pending_ = {};
    done(state_->Values());
    return;
  }
  if (handed_ == 0 && pending_.size() <= kGatheredBytes) {
    // A small file's bytes go over gathered with other small files': handing each file over on
    // its own, or hashing it here, costs more.
    worker_->PostWithBytes(
        pending_.data(), pending_.size(),
        [state = state_, done = std::move(done)](const uint8_t* data, size_t length) {
          state->Hash(data, length);
          done(state->Values());
        });
    handed_ += pending_.size();
    if (pending_.capacity() != 0) worker_->GiveBack(std::move(pending_));
    pending_ = {};
    return;
  }
  HandOver(0);
  worker_->Post([state = state_, done = std::move(done)] { done(state->Values()); });
}

std::vector<FileDigest> WrittenDigest::Values() {
  HandOver(0);
  Drain();
  return state_->Values();
}

}  // namespace kestrel
