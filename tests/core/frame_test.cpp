#include "protocol/frame.h"

#include <gtest/gtest.h>

#include <vector>

using Bytes = std::vector<std::uint8_t>;

TEST(Frame, JumpFrameIsTheWorkedExample) {
  EXPECT_EQ(BuildFrame(CmdJump, {}), (Bytes{0xBC, 0x21, 0x05, 0x00, 0x00, 0x00, 0x00, 0xE2}));
}
