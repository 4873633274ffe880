#pragma once
// A thread of its own for hashing recovered files and writing the report, so the carving
// thread only hands bytes over. Tasks run one at a time in the order they were posted; posting
// waits while the bytes of the tasks queued exceed a bound, so the queue stays small however
// fast files come. Without a thread (none could be started) tasks run where they are posted.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace kestrel {

class HashWorker {
 public:
  HashWorker();
  // Runs what is queued, then ends the thread.
  ~HashWorker();
  HashWorker(const HashWorker&) = delete;
  HashWorker& operator=(const HashWorker&) = delete;

  // Queues `task`, which holds `bytes` of data until it has run.
  void Post(std::function<void()> task, size_t bytes = 0);
  // Waits until every task posted so far has run.
  void Drain();

  // An empty buffer of `capacity` bytes, one given back when there is one: buffers are used
  // again rather than made anew (fresh memory costs a page fault per page it touches).
  std::vector<uint8_t> TakeBuffer(size_t capacity);
  void GiveBack(std::vector<uint8_t> buffer);

 private:
  void Loop();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::pair<std::function<void()>, size_t>> tasks_;
  size_t queued_bytes_ = 0;
  bool busy_ = false;  // a task is running
  bool stopping_ = false;
  std::vector<std::vector<uint8_t>> buffers_;  // given back, for use again
  std::thread thread_;                         // not joinable: tasks run where they are posted
};

}  // namespace kestrel
