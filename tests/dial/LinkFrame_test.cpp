// The server's framing of the dial link, against fixed bytes.
#include "dial/LinkFrame.h"

#include <gtest/gtest.h>

#include <string>

namespace paxelle {
namespace {

TEST(LinkFrameTest, DialFrameCarriesLinkIndicatorOneAtMessagePositionFive) {
  const std::string request = "LG08A411" + std::string(30, '9');
  const std::string frame = BuildDialRequestFrame(request);
  ASSERT_EQ(frame.size(), request.size() + 3);
  EXPECT_EQ(frame.front(), kLinkStx);
  EXPECT_EQ(frame.substr(1, 8), "LG08A111") << "frame index 6, the fifth after the prefix";
  EXPECT_EQ(frame[frame.size() - 2], kLinkEtx);
  EXPECT_EQ(frame.back(), LinkLrc(frame.substr(1, frame.size() - 2)));
  // Too short to have an indicator: sent as it is, ETX untouched.
  EXPECT_EQ(BuildDialRequestFrame("LG08A"), std::string("\x02LG08A\x03") + LinkLrc("LG08A\x03"));
  EXPECT_EQ(LinkLrc(std::string("\x01\x02\x03")), '\0');
  EXPECT_EQ(BuildLinkFrame(""), std::string("\x02\x03\x03"));
}

}  // namespace
}  // namespace paxelle
