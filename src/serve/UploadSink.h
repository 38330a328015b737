// An upload as the receiving half of a transfer writes it: the engine's
// FileSink over an UploadTarget, netascii turned back into local lines on
// the way. Finish publishes the file once the last block is in.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "serve/Netascii.h"
#include "serve/ServerRequest.h"
#include "serve/UploadTarget.h"
#include "tftp/ClientTransfer.h"

namespace tarnwick::serve {

class UploadSink : public tftp::FileSink {
 public:
  // lineEnd: what a netascii line end becomes in the file.
  UploadSink(std::unique_ptr<UploadTarget> target, TransferMode mode, std::string lineEnd);
  bool Write(std::string_view bytes) override;
  std::string WriteFailure() const override { return refusal_.reason; }
  bool DiskFull() const override { return refusal_.code == kErrorDiskFull; }
  // After the last block. False with Refusal() when the file could not be
  // published; the upload is then gone, as when the sink is dropped unfinished.
  bool Finish();
  const Refusal& Failure() const { return refusal_; }
  std::uint64_t Bytes() const { return target_->Bytes(); }

 private:
  std::unique_ptr<UploadTarget> target_;
  std::optional<NetasciiDecoder> decoder_;
  std::string decoded_;
  Refusal refusal_;
};

}  // namespace tarnwick::serve
