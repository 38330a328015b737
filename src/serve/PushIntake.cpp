#include "serve/PushIntake.h"

#include "fleet/BackupOptions.h"
#include "serve/PushSpool.h"
#include "serve/RequestName.h"
#include "tftp/EndpointText.h"

namespace tarnwick::serve {

Refusal PushIntake::Open(const SocketAddress& from, std::string_view wireName, std::string& storedName) {
  // The name is only ever matched, never a path; the request name rules
  // still keep hostile bytes (control characters, "..") out of the log's
  // matches and out of every glob.
  RequestName name = SplitRequestName(wireName, NativeNameRules());
  if (name.refusal.Refused()) return Refuse(kErrorAccess, name.refusal.reason);
  std::string asked;
  for (const std::string& part : name.parts) asked += (asked.empty() ? "" : "/") + part;
  const AddressBytes sender = AddressKey(from);
  std::vector<const PushDevice*> fromThere, matching;
  for (const PushDevice& d : devices_)
    for (const AddressBytes& address : d.addresses)
      if (address == sender) {
        fromThere.push_back(&d);
        if (fleet::GlobMatches(d.allowed, asked)) matching.push_back(&d);
        break;
      }
  if (fromThere.empty()) return Refuse(kErrorAccess, "no inventory device may push from " + tftp::AddressText(from));
  if (matching.empty()) {
    std::string allowed;
    for (const PushDevice* d : fromThere) allowed += (allowed.empty() ? "" : ", ") + d->name + ": " + d->allowed;
    return Refuse(kErrorAccess, "not a name this address may push (" + allowed + ")");
  }
  if (matching.size() > 1)
    return Refuse(kErrorAccess, "the name fits " + matching[0]->name + " and " + matching[1]->name +
                                    " at this address: the inventory must tell them apart");
  const std::string& device = matching.front()->name;
  if (!pushing_.insert(device).second) return Refuse(kErrorAccess, device + " is already pushing");
  storedName = SpoolEntryName(now_(), sequence_++, tftp::AddressText(from), device);
  running_[storedName] = device;
  return {};
}

void PushIntake::Closed(const std::string& storedName, bool published) {
  const auto found = running_.find(storedName);
  if (found == running_.end()) return;
  pushing_.erase(found->second);
  running_.erase(found);
  if (published && arrived_) arrived_();
}

}  // namespace tarnwick::serve
