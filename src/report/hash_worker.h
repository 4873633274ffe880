#pragma once
// A thread of its own for hashing recovered files and writing the report, so the carving
// thread only hands bytes over. Tasks run one at a time in the order they were posted; posting
// waits while the bytes of the tasks queued exceed a bound, so the queue stays small however
// fast files come. Without a thread (none could be started) tasks run where they are posted.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

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

 private:
  void Loop();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::pair<std::function<void()>, size_t>> tasks_;
  size_t queued_bytes_ = 0;
  bool busy_ = false;  // a task is running
  bool stopping_ = false;
  std::thread thread_;  // not joinable: tasks run where they are posted
};

}  // namespace kestrel
