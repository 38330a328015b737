#include "serve/PushInventory.h"

#include "cliutil/FileHandle.h"
#include "fleet/Resolver.h"

namespace tarnwick::serve {

namespace {

constexpr std::size_t kMaxInventoryBytes = 16u << 20;

bool ReadInventoryFile(const std::string& path, std::string& text, std::string& error) {
  cli::FileHandle file = cli::FileHandle::OpenForReading(path);
  if (!file.Valid()) return error = "cannot read " + path + ": " + cli::FileError::Last().text, false;
  char buffer[65536];
  for (;;) {
    const long long n = file.Read(buffer, sizeof buffer);
    if (n < 0) return error = "cannot read " + path + ": " + cli::FileError::Last().text, false;
    if (n == 0) return true;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMaxInventoryBytes) return error = path + " is larger than 16 MiB", false;
  }
}

}  // namespace

bool LoadPushInventory(const std::string& path, PushInventory& out, std::string& error) {
  std::string text;
  if (!ReadInventoryFile(path, text, error)) return false;
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
