// The main of every unit suite: the platform's notices become log lines, as
// in the programs, before any test runs.
#include <gtest/gtest.h>

#include "log/Log.h"

int main(int argc, char** argv) {
  LogPlatformNotices();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
