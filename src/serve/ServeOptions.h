// Command line of `tarnwick-cli serve ROOT [options]`: read into the
// settings of the units it drives (upload policy, option caps, admission
// limits), every value checked, every fault a usage error that says which.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "serve/Admission.h"
#include "serve/ServerRequest.h"
#include "serve/UploadTarget.h"

namespace tarnwick::serve {

struct ServeOptions {
  std::string root;  // empty only with --archive: nothing is served for reading
  std::uint16_t port = 69;          // 0: a free port, for tests and scripts
  std::vector<std::string> listen;  // address literals; empty: IPv4 and IPv6 any
  bool singlePort = false;
  UploadPolicy upload;    // enabled by --upload or --upload-dir
  std::string uploadDir;  // empty: uploads land beneath ROOT
  ServerCaps caps;
  AdmissionLimits admission;
  std::string user = "nobody";  // dropped to after binding, when started as root
  // --archive DEST --inventory FILE: uploads are the inventory's devices
  // pushing their configurations into the backup archive.
  std::string archive;
  std::string inventory;
  bool git = false;
  std::string gitBranch, gitPush;
  std::string onChange, onFailure;  // hooks, as backup's
  std::uint32_t hookTimeoutSeconds = 60;
  bool logJson = false;
  bool quiet = false;
  bool help = false;
};

struct ServeParse {
  bool ok = false;
  ServeOptions options;
  std::string error;
};

// args: what follows "serve".
ServeParse ParseServeArguments(const std::vector<std::string>& args);

std::string ServeUsageText();

}  // namespace tarnwick::serve
