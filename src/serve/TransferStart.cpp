#include "serve/TransferStart.h"

namespace tarnwick::serve {

TransferStart StartTransfer(const ServerRequest& request, RootTree* tree, const RootFolder& uploads,
                            const UploadPolicy& policy, const ServerCaps& caps) {
  TransferStart start;
  if (request.verdict != RequestVerdict::Serve) {
    start.refusal = request.refusal;
    return start;
  }
  if (request.kind == RequestKind::Read) {
    if (!tree) {
      start.refusal = Refuse(kErrorNotFound, "nothing is served for reading here (no ROOT)");
      return start;
    }
    ReadOpening opening = tree->OpenForReading(request.name);
    if (!opening.file) {
      start.refusal = std::move(opening.refusal);
      return start;
    }
    start.answer = AnswerOptions(request, caps, opening.file->Size());
    start.source = std::move(opening.file);
    return start;
  }
  const auto tsize = static_cast<std::size_t>(tftp::OptionId::TransferSize);
  std::optional<std::uint64_t> announced;
  if (request.asked.asked[tsize]) announced = request.asked.value[tsize];
  start.upload = UploadTarget::Begin(uploads, request.name, policy, announced, start.refusal);
  if (start.upload) start.answer = AnswerOptions(request, caps, std::nullopt);
  return start;
}

}  // namespace tarnwick::serve
