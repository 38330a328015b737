// Feeds arbitrary bytes to the inventory reader and the report's cell
// writers, and checks what the run relies on: a row is either a device that
// can be fetched (a safe file name, a host, a request name) or a fault with
// its line; an unusable file says why; a JSON cell is valid UTF-8 without raw
// control bytes; a CSV cell never starts a formula.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/TextCodec.h"
#include "fleet/BackupReport.h"
#include "fleet/Inventory.h"

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick::fleet;
  const std::string text(reinterpret_cast<const char*>(data), size);

  const Inventory inventory = ParseInventory(text, DeviceDefaults{});
  Check(inventory.usable || !inventory.errors.empty());
  std::size_t faulty = 0;
  for (const Device& d : inventory.devices) {
    Check(d.line >= 1 && static_cast<std::size_t>(d.line) <= size + 1);
    if (!d.fault.empty()) {
      ++faulty;
      continue;
    }
    Check(DeviceNameFault(d.name).empty());
    // A push-only row is never fetched: no request name; its push name is printable.
    Check(!d.host.empty() && (d.PushOnly() || !d.wireName.empty()));
    for (char c : d.push) Check(static_cast<unsigned char>(c) >= 32 && c != 127);
    Check(d.minRatio >= 0 && d.minRatio <= 1);
  }
  Check(inventory.errors.size() >= faulty);
  for (const InventoryError& e : inventory.errors)
    for (char c : Printable(e.message)) Check(static_cast<unsigned char>(c) >= 32 && c != 127);

  const std::string json = JsonString(text);
  Check(json.size() >= 2 && json.front() == '"' && json.back() == '"');
  Check(tarnwick::Utf8ToUtf16Strict(json).has_value());
  for (char c : json) Check(static_cast<unsigned char>(c) >= 32);
  const std::string csv = CsvField(text);
  const char first = csv.empty() ? 0 : (csv[0] == '"' && csv.size() > 1 ? csv[1] : csv[0]);
  Check(first != '=' && first != '+' && first != '-' && first != '@');
  return 0;
}
