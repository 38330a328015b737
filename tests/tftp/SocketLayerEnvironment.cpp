// Starts the socket layer once for a test program and stops it at the end.
#include <gtest/gtest.h>

#include "net/SocketApi.h"

namespace {

class SocketLayerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { tarnwick::StartSocketLayer(); }
  void TearDown() override { tarnwick::StopSocketLayer(); }
};

const ::testing::Environment* const kSocketLayer =
    ::testing::AddGlobalTestEnvironment(new SocketLayerEnvironment);

}  // namespace
