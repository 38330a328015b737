// Keeping a password out of what tarnwick-cli prints and writes: devices like
// to echo the requested name, password and all, in their error text, and our
// own reasons may quote it. Shared by the single transfers and `backup`.
#pragma once

#include <string>
#include <vector>

#include "app/TransferNames.h"

namespace tarnwick::cli {

// text with every secret replaced by "***", each in its UTF-8 form and, where
// it differs, its CP932 form (what went on the wire). Empty secrets are
// skipped; earlier secrets are replaced first, so list a longer one (the
// delimiter and the password) before the shorter one it contains.
std::string WithoutSecrets(const std::string& text, const std::vector<std::string>& secrets);

// Our own UTF-8 text (a reason that may quote the request) with the password
// taken out by the same rules as a device's bytes (WithoutPasswordEcho):
// every "delimiter + password" and, when the password has at least 3
// characters, every bare password becomes "***" (trimmed forms and a cut-off
// tail too).
std::string WithoutPassword(const std::string& text, const NameFields& fields);

}  // namespace tarnwick::cli
