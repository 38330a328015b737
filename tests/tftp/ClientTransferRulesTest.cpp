// One case per protocol rule of the command line's engine.
#include <gtest/gtest.h>

#include "ClientTransferHarness.h"

namespace tarnwick::testing_support {
namespace {}  // namespace
}  // namespace tarnwick::testing_support
