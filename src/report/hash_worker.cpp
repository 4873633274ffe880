#include "report/hash_worker.h"

#include <algorithm>
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
// Tasks and bytes gathered before they are handed over.
constexpr size_t kGatherTasks = kWakeTasks;
constexpr size_t kGatherBytes = kWakeBytes;

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
  HandOverGathered();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_.notify_one();
  thread_.join();
}

void HashWorker::Post(std::function<void()> task, size_t bytes) {
  HandOverGathered();
  Queue(std::move(task), bytes);
}

void HashWorker::Queue(std::function<void()> task, size_t bytes) {
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
    if (!tasks_.empty() || busy_ || !gathered_.empty()) {
      lock.unlock();
      Post(std::move(task));
      return;
    }
  }
  task();
}

void HashWorker::PostWithBytes(const uint8_t* data, size_t length,
                               std::function<void(const uint8_t*, size_t)> task) {
  if (!thread_.joinable()) {
    task(data, length);
    return;
  }
  if (length > kGatherBytes) {
    std::vector<uint8_t> copy(data, data + length);
    Post([copy = std::move(copy), task = std::move(task)] { task(copy.data(), copy.size()); },
         length);
    return;
  }
  if (gathered_bytes_.size() + length > kGatherBytes) HandOverGathered();
  if (gathered_bytes_.capacity() == 0) gathered_bytes_ = TakeBuffer(kGatherBytes);
  gathered_.push_back({gathered_bytes_.size(), length, std::move(task)});
  gathered_bytes_.insert(gathered_bytes_.end(), data, data + length);
  if (gathered_.size() >= kGatherTasks) HandOverGathered();
}

void HashWorker::HandOverGathered() {
  if (gathered_.empty()) return;
  const size_t bytes = gathered_bytes_.size();
  Queue(
      [this, tasks = std::move(gathered_), data = std::move(gathered_bytes_)]() mutable {
        for (const Gathered& gathered : tasks) {
          gathered.task(data.data() + gathered.offset, gathered.length);
        }
        GiveBack(std::move(data));
      },
      bytes);
  gathered_ = {};
  gathered_bytes_ = {};
}

std::vector<uint8_t> HashWorker::TakeBuffer(size_t capacity) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (auto it = buffers_.begin(); it != buffers_.end(); ++it) {
    if (it->capacity() < capacity) continue;
    std::vector<uint8_t> buffer = std::move(*it);
    buffers_.erase(it);
    return buffer;
  }
  // New buffers get the largest size asked for so far, so that any kept one serves any request.
  largest_buffer_ = std::max(largest_buffer_, capacity);
  const size_t size = largest_buffer_;
  lock.unlock();
  std::vector<uint8_t> buffer;
  buffer.reserve(size);
  return buffer;
}

void HashWorker::GiveBack(std::vector<uint8_t> buffer) {
  buffer.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  if (buffers_.size() < kMaxKeptBuffers) buffers_.push_back(std::move(buffer));
}

void HashWorker::Drain() {
  if (!thread_.joinable()) return;
  HandOverGathered();
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
