// Windows: a socket cannot be handed to a child process as cheaply as a
// fork does on POSIX, and a helper process per get would cost more than the
// short linger the driver keeps instead.
#include "tftp/LingerProcess.h"

namespace tarnwick::tftp {

bool LingerInBackground(const std::vector<LingerHandOff>&) { return false; }

}  // namespace tarnwick::tftp
