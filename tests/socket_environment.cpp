// Every test program starts the socket library before its first test, as the programs do at
// start-up (on Windows nothing network-related works before).
#include <gtest/gtest.h>

#include "engine/socket_platform.h"

namespace {
class SocketLibrary : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_EQ(net::StartSocketLibrary(), 1); }
};

const auto* const kRegistered = ::testing::AddGlobalTestEnvironment(new SocketLibrary);
}  // namespace
