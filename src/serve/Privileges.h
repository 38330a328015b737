// Started as root (to bind port 69), the server becomes --user before it
// opens any file or reads any request, and makes sure it cannot come back.
// Not started as root: nothing to drop. On Windows the service manager
// chooses the account, so nothing happens here either.
#pragma once

#include <string>

namespace tarnwick::serve {

// False with error when the user does not exist or a step fails; the
// caller must then stop rather than serve as root.
bool DropPrivileges(const std::string& user, std::string& error);

}  // namespace tarnwick::serve
