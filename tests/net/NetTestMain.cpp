// Starts the socket layer once for the whole test binary, as the program
// entry does, and stops it at the end.
#include <gtest/gtest.h>

#include "net/SocketApi.h"

namespace {

class SocketLayerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { tarnwick::StartSocketLayer(); }
  void TearDown() override { tarnwick::StopSocketLayer(); }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new SocketLayerEnvironment);

}  // namespace
