// Feeds arbitrary datagrams to the server's request reader, its option
// answer and the name rules, and checks what each promises: a verdict for
// any bytes, an OACK that reads back within the caps, a name split into
// plain components or refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "serve/RequestName.h"
#include "serve/ServerRequest.h"
#include "tftp/TftpOptions.h"

namespace {
void Require(bool condition) {
  if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  using namespace tarnwick::serve;
  const std::string_view datagram(reinterpret_cast<const char*>(data), size);
  const ServerRequest request = ParseServerRequest(datagram);
  Require((request.verdict == RequestVerdict::Serve) != request.refusal.Refused());
  Require(request.name.size() <= size);

  const ServerCaps caps{1468, 8, 8192};
  const OptionAnswer answer = AnswerOptions(request, caps, size);
  Require(answer.agreed.negotiated == !answer.oack.empty());
  Require(answer.agreed.blockSize >= 8 && answer.agreed.blockSize <= caps.maxBlockSize);
  Require(answer.agreed.windowSize >= 1 && answer.agreed.windowSize <= caps.maxWindowSize);
  Require(static_cast<std::uint64_t>(answer.agreed.windowSize) * answer.agreed.blockSize <= caps.maxWindowBytes ||
          answer.agreed.windowSize == 1);
  std::size_t pairs = 0;
  Require(answer.oack.empty() || tftp::ForEachOackPair(answer.oack, [&](std::string_view, std::string_view value) {
    std::uint64_t number = 0;
    Require(tftp::ParseDecimal(value, number));
    ++pairs;
  }));
  Require(pairs <= tftp::kOptionCount);

  for (bool windows : {false, true}) {
    const RequestName name = SplitRequestName(request.name, windows);
    Require(name.refusal.Refused() == name.parts.empty());
    Require(name.parts.size() <= kMaxDepth);
    for (const std::string& part : name.parts) {
      Require(!part.empty() && part != "." && part != ".." && part.size() <= kMaxComponentBytes);
      Require(part.find_first_of(std::string("/\\\0", 3)) == std::string::npos);
      if (windows) Require(part.find(':') == std::string::npos);
    }
  }
  return 0;
}
