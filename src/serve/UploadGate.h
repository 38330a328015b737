// Uploads that are not files beneath a folder but arrivals for someone else
// (serve --archive: a device's configuration, stored by the archive). The
// gate decides before the first ACK whether an upload is taken and under
// which name it lands in the upload folder, and hears when it ends.
#pragma once

#include <string>
#include <string_view>

#include "net/SocketAddress.h"
#include "serve/Refusal.h"

namespace tarnwick::serve {

class UploadGate {
 public:
  virtual ~UploadGate() = default;
  // A WRQ for wireName from `from`: refused, or taken with storedName set
  // to the plain name the upload is written under. Every upload taken is
  // closed exactly once.
  virtual Refusal Open(const SocketAddress& from, std::string_view wireName, std::string& storedName) = 0;
  // The upload under storedName has ended; published: its complete file is
  // in place.
  virtual void Closed(const std::string& storedName, bool published) = 0;
};

}  // namespace tarnwick::serve
