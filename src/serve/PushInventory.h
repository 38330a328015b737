// The inventory as serve --archive reads it, at start and on SIGHUP: the
// backup's own file and parser, from which it takes the devices that may
// push (their addresses looked up once, here, never on the loop) and each
// device's checks for the archive. A faulty row or a host that does not
// resolve costs that device its pushes, with a note; the others push.
#pragma once

#include <string>
#include <vector>

#include "fleet/Inventory.h"
#include "serve/PushIntake.h"

namespace tarnwick::serve {

struct PushInventory {
  std::vector<fleet::Device> devices;  // every usable row: the archive's checks per device
  std::vector<PushDevice> pushers;     // those that may push, with their addresses
  std::vector<std::string> notes;      // printable, never with a password
};

// False with error when the file cannot be read or has no usable header;
// the caller keeps what it had.
bool LoadPushInventory(const std::string& path, PushInventory& out, std::string& error);

}  // namespace tarnwick::serve
