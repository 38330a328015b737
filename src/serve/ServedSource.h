// A served file as the sending half of a transfer reads it: the engine's
// FileSource, by byte offset of the data it sends. In octet mode that is
// the file's own offset on the shared descriptor, and blocks are lent from
// reads of 16 KiB that every transfer of the file shares, sent from there
// without a copy. In netascii the data is
// longer than the file and its size unknown until the end, so the source
// keeps where in the file each block it was asked for began, and builds any
// block of the window again from there; blocks the client has acknowledged
// are forgotten.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "serve/Netascii.h"
#include "serve/RootTree.h"
#include "serve/ServerRequest.h"
#include "tftp/ClientTransfer.h"

namespace tarnwick::serve {

std::unique_ptr<tftp::FileSource> MakeServedSource(std::shared_ptr<const ServedFile> file, TransferMode mode);

class NetasciiSource : public tftp::FileSource {
 public:
  explicit NetasciiSource(std::shared_ptr<const ServedFile> file);
  std::uint64_t Size() const override { return 0; }
  bool SizeKnown() const override { return false; }
  long long Read(std::uint64_t offset, char* out, std::size_t length) override;
  void Release(std::uint64_t offset) override;
  std::string Changed() override { return file_->Changed(); }

 private:
  std::shared_ptr<const ServedFile> file_;
  ReadAtFunction read_;
  std::map<std::uint64_t, NetasciiPosition> starts_;  // data offset -> where it begins in the file
  std::string encoded_;
};

}  // namespace tarnwick::serve
