// Flushing the saved files to disk off the driver thread. Each fsync waits
// for the disk (milliseconds on a journalled file system); a thousand of
// them in a row on the thread that drives every transfer would cost more
// than the transfers. Worker threads flush several files at once (the file
// system commits them together) while the driver goes on; the store renames
// a file into place only after its flush came back. serve's loop publishes
// its uploads through one too.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/ConfigStore.h"

namespace tarnwick::archive {

class Flusher {
 public:
  explicit Flusher(std::size_t threads);
  ~Flusher();  // waits for the flushes under way
  Flusher(const Flusher&) = delete;
  Flusher& operator=(const Flusher&) = delete;

  // job flushes something and says why not (empty: it reached the disk);
  // what it touches must stay alive until its ticket comes back from Take.
  void Submit(std::size_t ticket, std::function<std::string()> job);
  void Submit(std::size_t ticket, TempConfig& temp);

  struct Done {
    std::size_t ticket = 0;
    std::string error;  // empty when the file reached the disk
  };
  std::vector<Done> Take();
  // Blocks until a flush is done (returns at once when none is under way).
  void WaitForOne();
  std::size_t Pending() const;
  // Nothing under way and nothing done waiting to be taken.
  bool Idle() const;

 private:
  void Work();
  mutable std::mutex mutex_;
  std::condition_variable work_, done_;
  std::deque<std::pair<std::size_t, std::function<std::string()>>> queue_;
  std::vector<Done> finished_;
  std::size_t pending_ = 0;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace tarnwick::archive
