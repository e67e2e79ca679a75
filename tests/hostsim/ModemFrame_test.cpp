// The simulator's own reading of the dial link's frames, against fixed bytes.
#include "tools/hostsim/ModemFrame.h"

#include <gtest/gtest.h>

namespace paxelle::hostsim {
namespace {

TEST(ModemFrameTest, CheckCharacterCombinesEverythingAfterStxThroughEtx) {
  EXPECT_EQ(HostFrame(""), std::string("\x02\x03\x03"));
  EXPECT_EQ(HostFrame("0"), std::string("\x02" "0" "\x03" "3"));  // 0x30 ^ 0x03
  EXPECT_EQ(HostFrame("AB"), std::string("\x02" "AB" "\x03" "\x00", 5));
  EXPECT_EQ(FrameCheckCharacter(std::string("\x02" "LG" "\x03")), '\x08');  // 0x4C ^ 0x47 ^ 0x03
  EXPECT_EQ(std::string("\x02" "LG08A1").at(kLinkFieldFrameIndex), kTelephoneLinkField);
}

}  // namespace
}  // namespace paxelle::hostsim
