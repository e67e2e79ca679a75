#include "config/MerchantParams.h"

#include <gtest/gtest.h>

namespace paxelle {
namespace {

struct ValidationCase {
  const char* type;
  int minLength;
  int maxLength;
  std::string text;
  bool passes;
};

class ParamSpecValidation : public ::testing::TestWithParam<ValidationCase> {};

TEST_P(ParamSpecValidation, AcceptsOnlyWhatTheTypeAndLimitsAllow) {
  const ValidationCase& c = GetParam();
  const CParamSpec spec(c.type, c.minLength, c.maxLength);
  EXPECT_EQ(spec.Validate(c.text), c.passes)
      << c.type << " " << c.minLength << ".." << c.maxLength << " \"" << c.text << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Types, ParamSpecValidation,
    ::testing::Values(
        // NS1: digits only within the limits.
        ValidationCase{"NS1", 15, 15, "123456789012345", true},
        ValidationCase{"NS1", 15, 15, "12345", false},
        ValidationCase{"NS1", 15, 15, "1234567890123456", false},
        ValidationCase{"NS1", 1, 2, "7", true},
        ValidationCase{"NS1", 1, 2, "", false},
        ValidationCase{"NS1", 1, 2, "1a", false},
        ValidationCase{"NS1", 1, 2, "-1", false},
        ValidationCase{"NS1", 1, 2, " 1", false},
        ValidationCase{"NS1", 0, 4, "", true},  // the empty string passes the character test
        // YN1: exactly "Y" or "N", limits ignored.
        ValidationCase{"YN1", 0, 0, "Y", true},
        ValidationCase{"YN1", 0, 0, "N", true},
        ValidationCase{"YN1", 0, 0, "y", false},
        ValidationCase{"YN1", 0, 0, "n", false},
        ValidationCase{"YN1", 0, 0, "", false},
        ValidationCase{"YN1", 0, 0, "YN", false},
        ValidationCase{"YN1", 0, 0, "Y ", false},
        // AN1: letters and digits.
        ValidationCase{"AN1", 2, 6, "aZ09", true},
        ValidationCase{"AN1", 2, 6, "a", false},
        ValidationCase{"AN1", 2, 6, "abcdefg", false},
        ValidationCase{"AN1", 2, 6, "ab cd", false},
        ValidationCase{"AN1", 2, 6, "ab-cd", false},
        ValidationCase{"AN1", 2, 6, "\xC3\xA9t\xC3\xA9", false},
        // AN2: blank to 0x7F, punctuation included.
        ValidationCase{"AN2", 0, 12, "", true},
        ValidationCase{"AN2", 0, 12, "p@ss w0rd!~", true},
        ValidationCase{"AN2", 0, 12, "a;b", true},  // the store, not the type, keeps ";" out
        ValidationCase{"AN2", 0, 12, "\x7F", true},
        ValidationCase{"AN2", 0, 12, "tab\there", false},
        ValidationCase{"AN2", 0, 12, "caf\x80", false},
        ValidationCase{"AN2", 0, 12, "\xFF", false},
        ValidationCase{"AN2", 0, 12, std::string("a\0b", 3), false},
        ValidationCase{"AN2", 0, 12, "1234567890123", false},
        ValidationCase{"AN2", 1, 40, "", false},
        // Unknown types never pass.
        ValidationCase{"XX9", 0, 10, "abc", false},
        ValidationCase{"", 0, 10, "", false}));

TEST(ParamSpec, LengthIsCheckedForEveryTypeButYesNo) {
  EXPECT_TRUE(CParamSpec("NS1", 1, 2).LengthChecked());
  EXPECT_TRUE(CParamSpec("AN1", 1, 2).LengthChecked());
  EXPECT_TRUE(CParamSpec("AN2", 1, 2).LengthChecked());
  EXPECT_FALSE(CParamSpec("YN1", 0, 0).LengthChecked());
}

TEST(ParamSpec, DerivedDefaultsFollowTypeAndMinimum) {
  EXPECT_EQ(CParamSpec("NS1", 15, 15).DefaultValue(), "000000000000000");
  EXPECT_EQ(CParamSpec("NS1", 0, 4).DefaultValue(), "0");  // at least one "0"
  EXPECT_EQ(CParamSpec("AN1", 2, 6).DefaultValue(), "00");
  EXPECT_EQ(CParamSpec("AN1", 0, 6).DefaultValue(), "0");
  EXPECT_EQ(CParamSpec("AN2", 0, 12).DefaultValue(), "");
  EXPECT_EQ(CParamSpec("AN2", 3, 12).DefaultValue(), "000");
  EXPECT_EQ(CParamSpec("YN1", 0, 0).DefaultValue(), "N");
  EXPECT_EQ(CParamSpec("XX9", 4, 4).DefaultValue(), "");
}

}  // namespace
}  // namespace paxelle
