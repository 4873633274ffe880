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
  // Runs `task` here when nothing is queued or running, else queues it behind the rest: for a
  // small task, handing it to the thread costs more than running it. Only for callers that post
  // from one thread, so that nothing can be queued while it runs.
  void RunOrPost(std::function<void()> task);
  // Queues `task` to run on a copy of the `length` bytes at `data`. Small tasks are gathered,
  // their bytes into one buffer, and handed to the thread together (waking it for each one cost
  // more than the task); anything posted or drained hands the gathered ones over first, so tasks
  // still run in the order they were posted. Only for callers that post from one thread.
  void PostWithBytes(const uint8_t* data, size_t length,
                     std::function<void(const uint8_t*, size_t)> task);
  // Waits until every task posted so far has run.
  void Drain();

  // An empty buffer of `capacity` bytes, one given back when there is one: buffers are used
  // again rather than made anew (fresh memory costs a page fault per page it touches).
  std::vector<uint8_t> TakeBuffer(size_t capacity);
  void GiveBack(std::vector<uint8_t> buffer);

 private:
  void Loop();
  // Queues `task` behind the rest (gathered tasks not included).
  void Queue(std::function<void()> task, size_t bytes);
  // Queues the gathered tasks as one.
  void HandOverGathered();
  // Waits on `lock` until `ready()`, waking the thread to run what is queued.
  template <typename Ready>
  void WaitFor(std::unique_lock<std::mutex>& lock, Ready ready);

  std::mutex mutex_;
  std::condition_variable work_;  // the thread waits for tasks
  std::condition_variable done_;  // posters and drainers wait for tasks to have run
  size_t waiting_ = 0;            // posters and drainers waiting
  std::deque<std::pair<std::function<void()>, size_t>> tasks_;
  size_t queued_bytes_ = 0;
  bool busy_ = false;  // a task is running
  bool stopping_ = false;
  std::vector<std::vector<uint8_t>> buffers_;  // given back, for use again
  size_t largest_buffer_ = 0;
  // Gathered by PostWithBytes, not yet queued: the posting thread's alone.
  struct Gathered {
    size_t offset = 0, length = 0;
    std::function<void(const uint8_t*, size_t)> task;
  };
  std::vector<Gathered> gathered_;
  std::vector<uint8_t> gathered_bytes_;
  std::thread thread_;  // not joinable: tasks run where they are posted
};

}  // namespace kestrel
