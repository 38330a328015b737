// An upload as the receiving role sees it. The role asks for a flush before
// its final ACK; the size check (an upload shorter or longer than the tsize
// its client announced is never published) answers at once, while the
// publishing itself (flush, rename into place, flush the folder: two disk
// waits) is only asked for, and done by Publish on a flusher thread
// (archive::Flusher). The loop holds the transfer's final ACK until it is
// done, so the client hears "done" only once the file is there, and a burst
// of finishing uploads never stalls every other transfer behind its disk
// waits.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "serve/UploadSink.h"

namespace tarnwick::serve {

class PublishingSink : public tftp::FileSink {
 public:
  PublishingSink(std::unique_ptr<UploadSink> sink, std::optional<std::uint64_t> announced)
      : sink_(std::move(sink)), announced_(announced) {}
  bool Write(std::string_view bytes) override;
  std::string WriteFailure() const override;
  bool DiskFull() const override;
  bool FlushToDisk() override;

  // Whether the role has asked for the file to be published.
  bool PublishAsked() const { return asked_; }
  // Flushes and renames the file into place; once, on any thread, while
  // nothing else touches the sink. False with PublishFailure().
  bool Publish();
  const Refusal& PublishFailure() const { return sink_->Failure(); }

 private:
  std::unique_ptr<UploadSink> sink_;
  std::optional<std::uint64_t> announced_;
  std::uint64_t received_ = 0;
  std::string failure_;
  bool asked_ = false;
};

}  // namespace tarnwick::serve
