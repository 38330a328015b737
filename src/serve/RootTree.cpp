#include "serve/RootTree.h"

#include <algorithm>
#include <vector>

#include "serve/RequestName.h"

namespace tarnwick::serve {

std::unique_ptr<RootTree> RootTree::Open(const std::string& root, std::string& error) {
  auto folder = RootFolder::OpenRoot(root, error);
  if (!folder) return nullptr;
  return std::make_unique<RootTree>(std::move(folder));
}

std::string ServedFile::Changed() const {
  const std::optional<cli::FileFacts> now = file_.Facts();
  if (!now) return "cannot check the file: it may have changed";
  if (now->size != facts_.size) return "the file changed size while it was served";
  if (now->modified != facts_.modified) return "the file was written while it was served";
  return {};
}

ReadOpening RootTree::OpenForReading(std::string_view wireName) {
  ReadOpening out;
  RequestName name = SplitRequestName(wireName, NativeNameRules());
  if (name.refusal.Refused()) {
    out.refusal = std::move(name.refusal);
    return out;
  }
  const std::string leaf = std::move(name.parts.back());
  name.parts.pop_back();
  auto folder = root_->Descend(name.parts, out.refusal);
  if (!folder) return out;
  OpenedFile opened = folder->OpenRegular(leaf);
  if (!opened.file.Valid()) {
    out.refusal = std::move(opened.refusal);
    return out;
  }
  const std::optional<cli::FileFacts> facts = opened.file.Facts();
  if (!facts) {
    out.refusal = Refuse(kErrorNotDefined, "cannot read the file's size");
    return out;
  }
  // The open above is what resolves the name safely; the one kept is the
  // descriptor the running transfers of the same file already read from,
  // unless the file has been written in place since.
  auto& slot = open_[opened.key];
  if (auto shared = slot.lock(); shared && shared->Changed().empty()) {
    out.file = std::move(shared);
    return out;
  }
  auto fresh = std::make_shared<const ServedFile>(std::move(opened.file), opened.key, *facts);
  slot = fresh;
  // Entries of files no transfer holds any more go in sweeps, each after the
  // map has doubled, so a server that has served a million names does not
  // keep a million keys.
  if (open_.size() >= pruneAt_) pruneAt_ = std::max<std::size_t>(64, 2 * OpenFiles());
  out.file = std::move(fresh);
  return out;
}

std::size_t RootTree::OpenFiles() {
  for (auto it = open_.begin(); it != open_.end();) {
    if (it->second.expired())
      it = open_.erase(it);
    else
      ++it;
  }
  return open_.size();
}

}  // namespace tarnwick::serve
