#include "serve/UploadFlusher.h"

namespace tarnwick::serve {

UploadFlusher::UploadFlusher() : thread_([this] { Run(); }) {}

UploadFlusher::~UploadFlusher() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    ending_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void UploadFlusher::Submit(std::size_t id, std::uint64_t generation, PublishingSink* sink) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    queue_.push_back(Work{id, generation, sink});
    ++working_;
  }
  wake_.notify_one();
}

std::vector<UploadFlusher::Done> UploadFlusher::TakeDone() {
  std::lock_guard<std::mutex> hold(mutex_);
  std::vector<Done> done;
  done.swap(done_);
  working_ -= done.size();
  return done;
}

bool UploadFlusher::Busy() {
  std::lock_guard<std::mutex> hold(mutex_);
  return working_ > 0;
}

void UploadFlusher::WaitIdle() {
  std::unique_lock<std::mutex> hold(mutex_);
  idle_.wait(hold, [this] { return queue_.empty() && working_ == done_.size(); });
}

void UploadFlusher::Run() {
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    wake_.wait(hold, [this] { return ending_ || !queue_.empty(); });
    if (queue_.empty()) return;  // ending, nothing left
    const Work work = queue_.front();
    queue_.pop_front();
    hold.unlock();
    const bool published = work.sink->Publish();
    hold.lock();
    done_.push_back(Done{work.id, work.generation, published});
    idle_.notify_all();
  }
}

}  // namespace tarnwick::serve
