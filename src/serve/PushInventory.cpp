#include "serve/PushInventory.h"

#include "fleet/Resolver.h"
#include "fleet/TextFile.h"

namespace tarnwick::serve {

bool LoadPushInventory(const std::string& path, PushInventory& out, std::string& error) {
  std::string text;
  if (!fleet::ReadInventoryFile(path, text, error)) return false;
  fleet::Inventory inventory = fleet::ParseInventory(text, fleet::DeviceDefaults{});
  if (!inventory.usable) {
    error = path + ": cannot be used";
    for (const fleet::InventoryError& e : inventory.errors)
      error += "; line " + std::to_string(e.line) + ": " + e.message;
    return false;
  }
  out = PushInventory{};
  for (const fleet::InventoryError& e : inventory.errors)
    out.notes.push_back(path + ":" + std::to_string(e.line) + ": " + e.message);
  const fleet::LookupFunction lookup = fleet::SystemLookup();
  for (fleet::Device& d : inventory.devices) {
    if (!d.fault.empty()) continue;
    if (!d.push.empty() && d.enabled) {
      std::string why;
      std::optional<SocketAddress> address = fleet::LiteralAddress(d.host, "69");
      if (!address) address = lookup(d.host, "69", why);
      if (address)
        out.pushers.push_back(PushDevice{d.name, d.push, {AddressKey(*address)}});
      else
        out.notes.push_back(d.name + ": cannot push, its host " + fleet::Printable(d.host) +
                            " does not resolve: " + fleet::Printable(why));
    }
    out.devices.push_back(std::move(d));
  }
  return true;
}

}  // namespace tarnwick::serve
