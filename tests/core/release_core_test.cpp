#include "release/release_core.h"

#include <gtest/gtest.h>

TEST(ReleaseCore, Placeholder) { EXPECT_TRUE(ScannerAccepts(0x30, false)); }
