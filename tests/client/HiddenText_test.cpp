#include "client/HiddenText.h"

#include <gtest/gtest.h>

namespace paxelle {
namespace {

TEST(AssembleHiddenText, KeepsTheCharactersWhoseMaskEntryIsNotOne) {
  const unsigned char mask[] = {1, 0, 2, 1, 1, 7, 0, 1};
  std::string out = "previous";
  AssembleHiddenText("xAByzCDw", mask, out);
  EXPECT_EQ(out, "ABCD");
}

TEST(AssembleHiddenText, LooksOnlyAtPositionsBothTheTextAndTheMaskHave) {
  const unsigned char shortMask[] = {0, 1, 0};
  std::string out;
  AssembleHiddenText("abcdef", shortMask, out);
  EXPECT_EQ(out, "ac");

  const unsigned char longMask[] = {0, 0, 0, 0, 0, 0};
  AssembleHiddenText("xy", longMask, out);
  EXPECT_EQ(out, "xy");

  const unsigned char allDecoys[] = {1, 1};
  AssembleHiddenText("xy", allDecoys, out);
  EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace paxelle
