#include "fleet/Resolver.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "base/Exception.h"
#include "net/NetUtil.h"
#include "tftp/TransferDriver.h"

namespace tarnwick::fleet {

LookupFunction SystemLookup() {
  return [](const std::string& host, const std::string& port,
            std::string& error) -> std::optional<SocketAddress> {
    try {
      return tftp::ResolveServer(host, port);
    } catch (const Exception& e) {
      error = e.Message();
    }
    return std::nullopt;
  };
}

std::optional<SocketAddress> LiteralAddress(const std::string& host, const std::string& port) {
  std::string bare = host;
  if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') bare = bare.substr(1, bare.size() - 2);
  if (!IsIPv4Literal(bare) && !IsIPv6Literal(bare)) return std::nullopt;
  try {
    return tftp::ResolveServer(host, port);
  } catch (const Exception&) {
    return std::nullopt;
  }
}

// Held by the resolver and by every worker, so a worker stuck in a lookup
// past the resolver's life still has somewhere to put its answer.
struct Resolver::Shared {
  explicit Shared(LookupFunction f) : lookup(std::move(f)) {}
  const LookupFunction lookup;
  std::mutex mutex;
  std::condition_variable work, answered;
  struct Question {
    std::size_t ticket;
    std::string host, port;
  };
  std::deque<Question> questions;
  std::vector<Answer> answers;
  std::size_t threads = 0, idle = 0;
  bool closed = false;
};

namespace {

void Work(const std::shared_ptr<Resolver::Shared>& s);

}  // namespace

Resolver::Resolver(LookupFunction lookup, std::size_t maxThreads)
    : shared_(std::make_shared<Shared>(std::move(lookup))), maxThreads_(maxThreads ? maxThreads : 1) {}

Resolver::~Resolver() {
  std::lock_guard<std::mutex> hold(shared_->mutex);
  shared_->closed = true;
  shared_->questions.clear();
  shared_->work.notify_all();
}

void Resolver::Ask(std::size_t ticket, const std::string& host, const std::string& port) {
  std::lock_guard<std::mutex> hold(shared_->mutex);
  shared_->questions.push_back({ticket, host, port});
  if (shared_->idle == 0 && shared_->threads < maxThreads_) {
    ++shared_->threads;
    std::thread([s = shared_] { Work(s); }).detach();
  } else {
    shared_->work.notify_one();
  }
}

std::vector<Resolver::Answer> Resolver::Take() {
  std::lock_guard<std::mutex> hold(shared_->mutex);
  std::vector<Answer> taken;
  taken.swap(shared_->answers);
  return taken;
}

void Resolver::Wait(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> hold(shared_->mutex);
  shared_->answered.wait_for(hold, limit, [this] { return !shared_->answers.empty(); });
}

namespace {

void Work(const std::shared_ptr<Resolver::Shared>& s) {
  std::unique_lock<std::mutex> hold(s->mutex);
  for (;;) {
    ++s->idle;
    s->work.wait(hold, [&] { return s->closed || !s->questions.empty(); });
    --s->idle;
    if (s->closed) break;
    Resolver::Shared::Question q = std::move(s->questions.front());
    s->questions.pop_front();
    hold.unlock();
    Resolver::Answer answer;
    answer.ticket = q.ticket;
    answer.address = s->lookup(q.host, q.port, answer.error);
    hold.lock();
    if (s->closed) break;
    s->answers.push_back(std::move(answer));
    s->answered.notify_all();
  }
  --s->threads;
}

}  // namespace

}  // namespace tarnwick::fleet
