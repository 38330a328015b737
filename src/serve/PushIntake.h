// Which uploads serve --archive takes: a WRQ only from the address of an
// inventory device that may push, only for the name its `push` cell
// allows, and one at a time per device. Everything else is refused with
// ERROR 2 before a byte is taken, the reason going to the log. A taken
// upload lands in the spool under a name that carries its time, sender and
// device (PushSpool.h); when its file is complete the archiver is told.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "serve/AddressRange.h"
#include "serve/UploadGate.h"

namespace tarnwick::serve {

struct PushDevice {
  std::string name;                      // the inventory's name
  std::string allowed;                   // the name or glob it may upload
  std::vector<AddressBytes> addresses;   // where its pushes come from
};

class PushIntake : public UploadGate {
 public:
  // arrived: called (on the loop's thread) when a push's file is complete.
  // now: ms since 1970, for the spool name.
  PushIntake(std::function<void()> arrived, std::function<std::int64_t()> now)
      : arrived_(std::move(arrived)), now_(std::move(now)) {}
  // The devices that may push (a reloaded inventory); uploads running go on.
  void Use(std::vector<PushDevice> devices) { devices_ = std::move(devices); }

  Refusal Open(const SocketAddress& from, std::string_view wireName, std::string& storedName) override;
  void Closed(const std::string& storedName, bool published) override;

 private:
  std::vector<PushDevice> devices_;
  std::map<std::string, std::string> running_;  // spool name -> device
  std::set<std::string> pushing_;
  std::function<void()> arrived_;
  std::function<std::int64_t()> now_;
  std::uint32_t sequence_ = 0;
};

}  // namespace tarnwick::serve
