#include "serve/UploadSink.h"

namespace tarnwick::serve {

UploadSink::UploadSink(std::unique_ptr<UploadTarget> target, TransferMode mode, std::string lineEnd)
    : target_(std::move(target)) {
  if (mode == TransferMode::Netascii) decoder_.emplace(std::move(lineEnd));
}

bool UploadSink::Write(std::string_view bytes) {
  if (!decoder_) return target_->Write(bytes, refusal_);
  decoded_.clear();
  decoder_->Decode(bytes, decoded_);
  return target_->Write(decoded_, refusal_);
}

bool UploadSink::Finish() {
  if (decoder_) {
    decoded_.clear();
    decoder_->Finish(decoded_);
    if (!target_->Write(decoded_, refusal_)) return false;
  }
  return target_->Finish(refusal_);
}

}  // namespace tarnwick::serve
