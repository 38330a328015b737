#include "serve/ServedSource.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>

namespace tarnwick::serve {

namespace {

// A stretch of a served file as read once, shared by every transfer that
// sends from it and by the datagrams waiting to go out with its bytes.
struct Stretch {
  std::uint64_t offset = 0;
  // Not cleared before the read fills it: a stretch is read whole or
  // shortened to what the read gave.
  std::unique_ptr<char[]> data;
  std::size_t size = 0;  // fewer than asked only where the file ended early
  std::uint64_t End() const { return offset + size; }
};

// Stretches start at a multiple of kAlign and hold at least kStretch bytes:
// one pread serves 32 blocks of 512 bytes. Small, because every transfer
// keeps the stretch it sends from: a thousand transfers scattered over a
// file hold 16 MiB at most.
constexpr std::size_t kStretch = 16384;
constexpr std::size_t kAlign = 4096;
// Stretches a file keeps for transfers that come to them later.
constexpr std::size_t kKept = 16;

// The recently read stretches of one served file, for all its transfers
// (which one loop runs, on one thread). A kept stretch may hold bytes the file no longer has (written in place):
// the transfer's Changed() question before its last block catches that, as
// it catches a file written in place between two reads.
class SharedReads {
 public:
  explicit SharedReads(std::shared_ptr<const ServedFile> file) : file_(std::move(file)) {}

  // A stretch holding [offset, offset + length), offset + length within the
  // file's size; null when reading fails.
  std::shared_ptr<const Stretch> Find(std::uint64_t offset, std::size_t length) {
    for (const auto& kept : kept_)
      if (kept && kept->offset <= offset && offset + length <= kept->End()) return kept;
    auto stretch = std::make_shared<Stretch>();
    stretch->offset = offset - offset % kAlign;
    const std::uint64_t want = std::max<std::uint64_t>(kStretch, offset - stretch->offset + length);
    const auto asked = static_cast<std::size_t>(std::min(want, file_->Size() - stretch->offset));
    stretch->data.reset(new char[asked]);
    const long long n = file_->ReadAt(stretch->offset, stretch->data.get(), asked);
    if (n < 0) return nullptr;
    stretch->size = static_cast<std::size_t>(n);
    // Cut short (the file shrank): it serves only the transfer that asked,
    // which then sees a short block; it is not kept for others.
    if (stretch->size < asked) return stretch;
    kept_[next_] = stretch;
    next_ = (next_ + 1) % kKept;
    return stretch;
  }

 private:
  std::shared_ptr<const ServedFile> file_;
  std::array<std::shared_ptr<const Stretch>, kKept> kept_;
  std::size_t next_ = 0;
};

// One SharedReads per served file while any transfer of it runs. Asked once
// per transfer, never per block.
std::shared_ptr<SharedReads> SharedReadsOf(const std::shared_ptr<const ServedFile>& file) {
  static std::mutex lock;
  static std::map<const ServedFile*, std::weak_ptr<SharedReads>> all;
  const std::lock_guard<std::mutex> hold(lock);
  for (auto it = all.begin(); it != all.end();) it = it->second.expired() ? all.erase(it) : std::next(it);
  std::weak_ptr<SharedReads>& slot = all[file.get()];
  std::shared_ptr<SharedReads> reads = slot.lock();
  if (!reads) slot = reads = std::make_shared<SharedReads>(file);
  return reads;
}

class OctetSource : public tftp::FileSource {
 public:
  explicit OctetSource(std::shared_ptr<const ServedFile> file)
      : file_(std::move(file)), reads_(SharedReadsOf(file_)) {}
  std::uint64_t Size() const override { return file_->Size(); }
  long long Read(std::uint64_t offset, char* out, std::size_t length) override {
    // Never past the size announced at the start: a file that grew is
    // caught by Changed() before the last block, not sent half old, half new.
    if (offset >= file_->Size()) return 0;
    const std::uint64_t left = file_->Size() - offset;
    return file_->ReadAt(offset, out, left < length ? static_cast<std::size_t>(left) : length);
  }
  const std::shared_ptr<const void>* Lend(std::uint64_t offset, std::size_t length,
                                          std::string_view& bytes) override {
    if (offset >= file_->Size()) return nullptr;
    length = static_cast<std::size_t>(std::min<std::uint64_t>(length, file_->Size() - offset));
    // The stretch of the block before serves the next 31 (at 512 bytes):
    // only a block past its end looks further.
    if (!at_ || offset < at_->offset || offset + length > at_->End()) {
      std::shared_ptr<const Stretch> found = reads_->Find(offset, length);
      if (!found) return nullptr;
      at_ = found.get();
      owner_ = std::move(found);
    }
    // Short (or empty) only where the file ended early.
    const auto skip = static_cast<std::size_t>(offset - at_->offset);
    bytes = skip < at_->size ? std::string_view(at_->data.get() + skip, std::min(length, at_->size - skip))
                             : std::string_view();
    return &owner_;
  }
  std::string Changed() override { return file_->Changed(); }

 private:
  std::shared_ptr<const ServedFile> file_;
  std::shared_ptr<SharedReads> reads_;
  const Stretch* at_ = nullptr;        // the stretch blocks are lent from
  std::shared_ptr<const void> owner_;  // ... and what keeps it
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
