// Any datagram through the request reader, the option answer and the name
// rules: a verdict, an OACK within the caps, plain components or a refusal.
#include <cstdlib>

#include "serve/RequestName.h"
#include "serve/ServerRequest.h"

namespace {
void Require(bool condition) {
  if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick::serve;
  const ServerRequest request =
      ParseServerRequest(std::string_view(reinterpret_cast<const char*>(data), size));
  Require((request.verdict == RequestVerdict::Serve) != request.refusal.Refused());
  const ServerCaps caps{1468, 8, 8192};
  const OptionAnswer answer = AnswerOptions(request, caps, size);
  const auto& agreed = answer.agreed;
  Require(agreed.negotiated == !answer.oack.empty() && agreed.blockSize >= 8 && agreed.blockSize <= 1468);
  Require(agreed.windowSize >= 1 && agreed.windowSize * agreed.blockSize <= 8192);
  Require(answer.oack.empty() || tarnwick::tftp::ForEachOackPair(answer.oack, [](auto, auto) {}));
  for (bool windows : {false, true}) {
    const RequestName name = SplitRequestName(request.name, windows);
    Require(name.refusal.Refused() == name.parts.empty() && name.parts.size() <= kMaxDepth);
    for (const std::string& part : name.parts) {
      Require(!part.empty() && part != "." && part != ".." && part.size() <= kMaxComponentBytes);
      Require(part.find_first_of(std::string("/\\\0", 3)) == std::string::npos);
      Require(!windows || part.find(':') == std::string::npos);
    }
  }
  return 0;
}
