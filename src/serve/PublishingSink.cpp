#include "serve/PublishingSink.h"

namespace tarnwick::serve {

bool PublishingSink::Write(std::string_view bytes) {
  received_ += bytes.size();
  return sink_->Write(bytes);
}

std::string PublishingSink::WriteFailure() const { return failure_.empty() ? sink_->WriteFailure() : failure_; }

bool PublishingSink::DiskFull() const { return failure_.empty() && sink_->DiskFull(); }

bool PublishingSink::FlushToDisk() {
  if (announced_ && *announced_ != received_) {
    failure_ = "received " + std::to_string(received_) + " bytes, the client announced " +
               std::to_string(*announced_);
    return false;
  }
  asked_ = true;
  return true;
}

bool PublishingSink::Publish() { return sink_->Finish(); }

}  // namespace tarnwick::serve
