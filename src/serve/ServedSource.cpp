#include "serve/ServedSource.h"

#include <cstring>

namespace tarnwick::serve {

namespace {

class OctetSource : public tftp::FileSource {
 public:
  explicit OctetSource(std::shared_ptr<const ServedFile> file) : file_(std::move(file)) {}
  std::uint64_t Size() const override { return file_->Size(); }
  long long Read(std::uint64_t offset, char* out, std::size_t length) override {
    // Never past the size announced at the start: a file that grew is
    // caught by Changed() before the last block, not sent half old, half new.
    if (offset >= file_->Size()) return 0;
    const std::uint64_t left = file_->Size() - offset;
    return file_->ReadAt(offset, out, left < length ? static_cast<std::size_t>(left) : length);
  }
  std::string Changed() override { return file_->Changed(); }

 private:
  std::shared_ptr<const ServedFile> file_;
};

}  // namespace

std::unique_ptr<tftp::FileSource> MakeServedSource(std::shared_ptr<const ServedFile> file,
                                                   TransferMode mode) {
  if (mode == TransferMode::Netascii) return std::make_unique<NetasciiSource>(std::move(file));
  return std::make_unique<OctetSource>(std::move(file));
}

NetasciiSource::NetasciiSource(std::shared_ptr<const ServedFile> file) : file_(std::move(file)) {
  read_ = [f = file_.get()](std::uint64_t offset, char* out, std::size_t length) {
    return f->ReadAt(offset, out, length);
  };
  starts_.emplace(0, NetasciiPosition{});
}

long long NetasciiSource::Read(std::uint64_t offset, char* out, std::size_t length) {
  // From the nearest known start at or before offset; the engine asks for
  // blocks in order within its window, so this is the block itself.
  auto it = starts_.upper_bound(offset);
  if (it == starts_.begin()) return -1;  // before what was released: never asked
  --it;
  NetasciiPosition at = it->second;
  if (it->first < offset) {
    const auto skip = static_cast<std::size_t>(offset - it->first);
    if (!EncodeNetasciiBlock(read_, at, skip, encoded_)) return -1;
    if (encoded_.size() < skip) return 0;  // past the end
  }
  if (!EncodeNetasciiBlock(read_, at, length, encoded_)) return -1;
  std::memcpy(out, encoded_.data(), encoded_.size());
  starts_[offset + encoded_.size()] = at;
  return static_cast<long long>(encoded_.size());
}

void NetasciiSource::Release(std::uint64_t offset) {
  // Keep the start at or before offset: reads come at or after it.
  auto keep = starts_.upper_bound(offset);
  if (keep != starts_.begin()) --keep;
  starts_.erase(starts_.begin(), keep);
}

}  // namespace tarnwick::serve
