#include "common/RequestFields.h"

#include <gtest/gtest.h>

#include <string>

namespace paxelle {
namespace {

const std::string kFs(1, '\x1c');

TEST(RequestFieldsTest, SplitsPairsEndedByFieldSeparator) {
  const auto fields = RequestFields::FromPayload("TStream=Transaction" + kFs + "TranCode=Sale" + kFs +
                                                 "Purchase=1.00");
  EXPECT_EQ(fields.Size(), 3u);
  std::string value;
  ASSERT_TRUE(fields.Lookup("TranCode", value));
  EXPECT_EQ(value, "Sale");
  ASSERT_TRUE(fields.Lookup("Purchase", value));
  EXPECT_EQ(value, "1.00");
}

TEST(RequestFieldsTest, PairWithoutEqualsIsIgnored) {
  const auto fields = RequestFields::FromPayload("Lone" + kFs + "Key=Value" + kFs + kFs);
  EXPECT_EQ(fields.Size(), 1u);
  EXPECT_FALSE(fields.Has("Lone"));
  EXPECT_TRUE(fields.Has("Key"));
}

TEST(RequestFieldsTest, LaterPairWithTheSameKeyWins) {
  const auto fields = RequestFields::FromPayload("Memo=first" + kFs + "Memo=second" + kFs);
  std::string value;
  ASSERT_TRUE(fields.Lookup("Memo", value));
  EXPECT_EQ(value, "second");
  EXPECT_EQ(fields.Size(), 1u);
}

TEST(RequestFieldsTest, ValueKeepsEverythingAfterTheFirstEquals) {
  const auto fields = RequestFields::FromPayload("Data=a=b==" + kFs);
  std::string value;
  ASSERT_TRUE(fields.Lookup("Data", value));
  EXPECT_EQ(value, "a=b==");
}

TEST(RequestFieldsTest, AbsentKeyDiffersFromEmptyValue) {
  const auto fields = RequestFields::FromPayload("Empty=" + kFs);
  std::string value = "untouched";
  EXPECT_FALSE(fields.Lookup("Missing", value));
  EXPECT_EQ(value, "untouched");
  EXPECT_TRUE(fields.Lookup("Empty", value));
  EXPECT_EQ(value, "");
}

TEST(RequestFieldsTest, KeysAreCaseSensitive) {
  const auto fields = RequestFields::FromPayload("AcctNo=x");
  EXPECT_TRUE(fields.Has("AcctNo"));
  EXPECT_FALSE(fields.Has("acctno"));
}

TEST(RequestFieldsTest, SetReplacesAndRemoveDeletes) {
  RequestFields fields;
  fields.Set("Key", "one");
  fields.Set("Key", "two");
  std::string value;
  ASSERT_TRUE(fields.Lookup("Key", value));
  EXPECT_EQ(value, "two");
  fields.Remove("Key");
  EXPECT_FALSE(fields.Has("Key"));
  EXPECT_EQ(fields.Size(), 0u);
}

}  // namespace
}  // namespace paxelle
