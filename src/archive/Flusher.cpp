#include "archive/Flusher.h"

namespace tarnwick::archive {

Flusher::Flusher(std::size_t threads) {
  for (std::size_t i = 0; i < (threads ? threads : 1); ++i) threads_.emplace_back([this] { Work(); });
}

Flusher::~Flusher() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    closing_ = true;
  }
  work_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void Flusher::Submit(std::size_t ticket, TempConfig& temp) {
  Submit(ticket, [&temp] {
    std::string error;
    temp.Sync(error);
    return error;
  });
}

void Flusher::Submit(std::size_t ticket, std::function<std::string()> job) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    queue_.emplace_back(ticket, std::move(job));
    ++pending_;
  }
  work_.notify_one();
}

std::vector<Flusher::Done> Flusher::Take() {
  std::lock_guard<std::mutex> hold(mutex_);
  std::vector<Done> taken;
  taken.swap(finished_);
  return taken;
}

void Flusher::WaitForOne() {
  std::unique_lock<std::mutex> hold(mutex_);
  done_.wait(hold, [this] { return !finished_.empty() || pending_ == 0; });
}

std::size_t Flusher::Pending() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return pending_;
}

bool Flusher::Idle() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return pending_ == 0 && finished_.empty();
}

void Flusher::Work() {
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    // Queued flushes are done before closing: their files are complete.
    work_.wait(hold, [this] { return closing_ || !queue_.empty(); });
    if (queue_.empty()) return;
    auto [ticket, job] = std::move(queue_.front());
    queue_.pop_front();
    hold.unlock();
    Done done;
    done.ticket = ticket;
    done.error = job();
    hold.lock();
    finished_.push_back(std::move(done));
    --pending_;
    done_.notify_all();
  }
}

}  // namespace tarnwick::archive
