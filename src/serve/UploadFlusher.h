// The thread that publishes finished uploads (PublishingSink::Publish) for
// the server's loop, one after another, and hands back which are done. The
// loop looks for answers at every turn; while one is awaited it turns at
// least every few milliseconds.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "serve/PublishingSink.h"

namespace tarnwick::serve {

class UploadFlusher {
 public:
  struct Done {
    std::size_t id = 0;
    std::uint64_t generation = 0;
    bool published = false;
  };

  UploadFlusher();
  ~UploadFlusher();  // publishes what was handed over, then ends the thread
  UploadFlusher(const UploadFlusher&) = delete;
  UploadFlusher& operator=(const UploadFlusher&) = delete;

  // sink stays the caller's and untouched until its Done is taken.
  void Submit(std::size_t id, std::uint64_t generation, PublishingSink* sink);
  std::vector<Done> TakeDone();
  // Handed over and not taken back yet.
  bool Busy();
  // Until everything handed over is done.
  void WaitIdle();

 private:
  struct Work {
    std::size_t id;
    std::uint64_t generation;
    PublishingSink* sink;
  };
  void Run();
  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::deque<Work> queue_;
  std::vector<Done> done_;
  std::size_t working_ = 0;
  bool ending_ = false;
  std::thread thread_;
};

}  // namespace tarnwick::serve
