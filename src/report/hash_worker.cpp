#include "report/hash_worker.h"

#include <chrono>
#include <system_error>

namespace kestrel {
namespace {

// Bytes of queued tasks before posting waits.
constexpr size_t kMaxQueuedBytes = 8 << 20;
// Buffers kept for use again, at most.
constexpr size_t kMaxKeptBuffers = 12;
// A post wakes the thread only when this much waits; otherwise the thread looks for work every
// few milliseconds. Waking it for each small file's task cost more than hashing the file.
constexpr size_t kWakeTasks = 64;
constexpr size_t kWakeBytes = 1 << 20;
constexpr std::chrono::milliseconds kLookEvery{5};

}  // namespace

HashWorker::HashWorker() {
  try {
    thread_ = std::thread([this] { Loop(); });
  } catch (const std::system_error&) {
    // No thread: every task runs where it is posted.
  }
}

HashWorker::~HashWorker() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_.notify_one();
  thread_.join();
}

void HashWorker::Post(std::function<void()> task, size_t bytes) {
  if (!thread_.joinable()) {
    task();
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  WaitFor(lock, [&] { return queued_bytes_ == 0 || queued_bytes_ + bytes <= kMaxQueuedBytes; });
  tasks_.emplace_back(std::move(task), bytes);
  queued_bytes_ += bytes;
  const bool wake = tasks_.size() >= kWakeTasks || queued_bytes_ >= kWakeBytes;
  lock.unlock();
  if (wake) work_.notify_one();
}

template <typename Ready>
void HashWorker::WaitFor(std::unique_lock<std::mutex>& lock, Ready ready) {
  if (ready()) return;
  ++waiting_;
  work_.notify_one();  // what is queued runs now, not at the thread's next look
  done_.wait(lock, ready);
  --waiting_;
}

void HashWorker::RunOrPost(std::function<void()> task) {
  if (thread_.joinable()) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!tasks_.empty() || busy_) {
      lock.unlock();
      Post(std::move(task));
      return;
    }
  }
  task();
}

std::vector<uint8_t> HashWorker::TakeBuffer(size_t capacity) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    while (!buffers_.empty()) {
      std::vector<uint8_t> buffer = std::move(buffers_.back());
      buffers_.pop_back();
      if (buffer.capacity() >= capacity) return buffer;
    }
  }
  std::vector<uint8_t> buffer;
  buffer.reserve(capacity);
  return buffer;
}

void HashWorker::GiveBack(std::vector<uint8_t> buffer) {
  buffer.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  if (buffers_.size() < kMaxKeptBuffers) buffers_.push_back(std::move(buffer));
}

void HashWorker::Drain() {
  if (!thread_.joinable()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  WaitFor(lock, [&] { return tasks_.empty() && !busy_; });
}

void HashWorker::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    while (!stopping_ && tasks_.empty()) work_.wait_for(lock, kLookEvery);
    if (tasks_.empty()) return;  // stopping, and everything has run
    auto [task, bytes] = std::move(tasks_.front());
    tasks_.pop_front();
    busy_ = true;
    lock.unlock();
    task();
    task = nullptr;  // its data is freed before the bytes count as gone
    lock.lock();
    busy_ = false;
    queued_bytes_ -= bytes;
    if (waiting_ != 0) done_.notify_all();
  }
}

}  // namespace kestrel
