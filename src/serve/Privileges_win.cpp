#include "serve/Privileges.h"

namespace tarnwick::serve {

bool DropPrivileges(const std::string&, std::string&) { return true; }

}  // namespace tarnwick::serve
