#include "config/MerchantParams.h"

#include <gtest/gtest.h>

namespace paxelle {
namespace {

constexpr const char* kDefaultLine =
    "2;23;000000000000000;00000000;0;0;N;N;N;;N;Y;N;N;0400;0;1;;18005550199;3;0; ;1;00;0;";

struct EntryRow {
  int number;
  const char* name;
  const char* type;
  int minLength;
  int maxLength;
  const char* defaultValue;
};

// The stored keys, rules and defaults every other part relies on.
const EntryRow kExpectedTable[] = {
    {0, "NUMPARMS", "NS1", 1, 2, "23"},
    {1, "MERCHANT ID", "NS1", 15, 15, "000000000000000"},
    {2, "TERMINAL ID", "NS1", 8, 8, "00000000"},
    {3, "CHECK DIGIT", "NS1", 1, 1, "0"},
    {4, "MERCHANT CATEGORY", "NS1", 1, 2, "0"},
    {5, "CONTACTLESS CAPABALE", "YN1", 0, 0, "N"},
    {6, "CUSTOMER ACTIVATED", "YN1", 0, 0, "N"},
    {7, "USE TOLA CLIENT/SERVER PASSWORD", "YN1", 0, 0, "N"},
    {8, "TOLA CLIENT/SERVER PASSWORD", "AN2", 0, 12, ""},
    {9, "DO NOT CONNECT TO HOST ON STARTUP", "YN1", 0, 0, "N"},
    {10, "VERIFY SSL CERTIFICATE", "YN1", 0, 0, "Y"},
    {11, "GO TO SYSTEM TRAY WHEN MINIMIZED", "YN1", 0, 0, "N"},
    {12, "Batch Close Option", "YN1", 0, 0, "N"},
    {13, "Host Close Time", "NS1", 4, 4, "0400"},
    {14, "TRANSPORT METHOD", "NS1", 1, 2, "0"},
    {15, "MODEM COM PORT", "NS1", 1, 3, "1"},
    {16, "DIAL PREFIX", "AN2", 0, 24, ""},
    {17, "AUTHORIZATION PHONE NUMBER", "NS1", 1, 11, "18005550199"},
    {18, "IP CONNECT TIMEOUT", "NS1", 1, 2, "3"},
    {19, "EMV SUPPORT", "NS1", 1, 1, "0"},
    {20, "PARTNER NAME", "AN2", 1, 40, " "},
    {21, "NUMBER OF LANES", "NS1", 1, 2, "1"},
    {22, "LANE SPECIAL", "AN1", 2, 6, "00"},
    {23, "LANE IDS", "AN2", 1, 300, "0"},
};

TEST(MerchantParamsDefaults, HoldTheTwentyFourEntriesOfTheTable) {
  const CMerchantParams set;
  EXPECT_EQ(set.Version(), "2");
  ASSERT_EQ(set.Entries().size(), 24u);
  for (const EntryRow& row : kExpectedTable) {
    SCOPED_TRACE(row.number);
    const CParamEntry& entry = set.Entries().at(row.number);
    EXPECT_EQ(entry.name, row.name);
    EXPECT_EQ(entry.value, row.defaultValue);
    EXPECT_EQ(entry.spec, CParamSpec(row.type, row.minLength, row.maxLength));
    EXPECT_TRUE(entry.spec.Validate(entry.value)) << "a default must pass its own rule";
  }
}

TEST(MerchantParamsDefaults, SerializeToTheExactDefaultLine) {
  const std::string line = CMerchantParams().Serialize();
  EXPECT_EQ(line, kDefaultLine);
  EXPECT_EQ(std::count(line.begin(), line.end(), ';'), 25) << "version and 24 values";
}

TEST(MerchantParamsDefaults, ResetRestoresEveryDefault) {
  CMerchantParams set;
  ASSERT_TRUE(set.SetValue(kParamMerchantId, "123456789012345"));
  ASSERT_TRUE(set.SetValue(kParamVerifyCertificate, "N"));
  set.Reset();
  EXPECT_EQ(set, CMerchantParams());
}

TEST(MerchantParamsValues, ReadsByNumber) {
  CMerchantParams set;
  EXPECT_EQ(set.GetValue(kParamHostCloseTime), "0400");
  EXPECT_EQ(set.GetNumber(kParamHostCloseTime), 400);
  EXPECT_EQ(set.GetNumber(kParamPassword), 0) << "empty text reads as 0";
  EXPECT_TRUE(set.IsYes(kParamVerifyCertificate));
  EXPECT_FALSE(set.IsYes(kParamBatchCloseOption));
  EXPECT_EQ(set.GetValue(24), "");
  EXPECT_EQ(set.GetValue(-1), "");
  EXPECT_FALSE(set.IsYes(24));
}

TEST(MerchantParamsValues, RefusedValueKeepsThePreviousOne) {
  CMerchantParams set;
  ASSERT_TRUE(set.SetValue(kParamMerchantId, "123456789012345"));
  EXPECT_FALSE(set.SetValue(kParamMerchantId, "12345"));
  EXPECT_EQ(set.GetValue(kParamMerchantId), "123456789012345");

  EXPECT_FALSE(set.SetValue(kParamVerifyCertificate, "y"));
  EXPECT_EQ(set.GetValue(kParamVerifyCertificate), "Y");
  EXPECT_FALSE(set.SetValue(kParamBatchCloseOption, "y"));
  EXPECT_EQ(set.GetValue(kParamBatchCloseOption), "N");

  EXPECT_FALSE(set.SetValue(kParamPartnerName, "tab\tname"));
  EXPECT_FALSE(set.SetValue(kParamPartnerName, "caf\x80"));
  EXPECT_EQ(set.GetValue(kParamPartnerName), " ");
}

TEST(MerchantParamsValues, AcceptsValuesWithinTheRules) {
  CMerchantParams set;
  EXPECT_TRUE(set.SetValue(kParamPassword, "s3cret pw!"));
  EXPECT_TRUE(set.SetValue(kParamPassword, "")) << "an empty password is valid";
  EXPECT_EQ(set.GetValue(kParamPassword), "");
  EXPECT_TRUE(set.SetValue(kParamPartnerName, "Partner & Co. (north)"));
  EXPECT_TRUE(set.SetValue(kParamMerchantCategory, "4"));
  EXPECT_EQ(set.GetNumber(kParamMerchantCategory), 4);
}

TEST(MerchantParamsValues, UnknownEntryIsRefused) {
  CMerchantParams set;
  EXPECT_FALSE(set.SetValue(24, "1"));
  EXPECT_FALSE(set.SetValue(-1, "1"));
  EXPECT_EQ(set, CMerchantParams());
}

TEST(MerchantParamsEquality, DefaultSetsAreEqualAndCopiesIndependent) {
  const CMerchantParams a;
  CMerchantParams b = a;
  EXPECT_EQ(a, b);
  ASSERT_TRUE(b.SetValue(kParamTerminalId, "12345678"));
  EXPECT_NE(a, b);
  EXPECT_EQ(a.GetValue(kParamTerminalId), "00000000");
}

// A copy of the default entries with one detail changed.
CMerchantParams DefaultsWith(int number, const CParamEntry& entry, const std::string& version = "2") {
  std::map<int, CParamEntry> entries = CMerchantParams().Entries();
  entries[number] = entry;
  return CMerchantParams(entries, version);
}

TEST(MerchantParamsEquality, AnyDifferenceMakesSetsDiffer) {
  const CMerchantParams defaults;
  const CParamEntry lanes = defaults.Entries().at(kParamLaneIds);
  EXPECT_EQ(DefaultsWith(kParamLaneIds, lanes), defaults) << "the same entries and version";

  CParamEntry changed = lanes;
  changed.value = "1";
  EXPECT_NE(DefaultsWith(kParamLaneIds, changed), defaults) << "value";
  changed = lanes;
  changed.name = "LANE ID";
  EXPECT_NE(DefaultsWith(kParamLaneIds, changed), defaults) << "name";
  changed = lanes;
  changed.spec = CParamSpec("AN2", 1, 299);
  EXPECT_NE(DefaultsWith(kParamLaneIds, changed), defaults) << "maximum";
  changed.spec = CParamSpec("AN2", 0, 300);
  EXPECT_NE(DefaultsWith(kParamLaneIds, changed), defaults) << "minimum";
  changed.spec = CParamSpec("AN1", 1, 300);
  EXPECT_NE(DefaultsWith(kParamLaneIds, changed), defaults) << "type";
  changed.spec = CParamSpec("YN1", 1, 300);
  EXPECT_NE(DefaultsWith(kParamLaneIds, changed), defaults) << "type and length check";
  EXPECT_NE(DefaultsWith(kParamLaneIds, lanes, "3"), defaults) << "version";

  std::map<int, CParamEntry> fewer = defaults.Entries();
  fewer.erase(kParamLaneIds);
  EXPECT_NE(CMerchantParams(fewer, "2"), defaults) << "entry count";
}

TEST(ParamLineSplit, FieldsFollowTheSeparators) {
  using Fields = std::vector<std::string>;
  EXPECT_EQ(SplitParamLine(""), Fields{});
  EXPECT_EQ(SplitParamLine(";"), Fields{""});
  EXPECT_EQ(SplitParamLine("2"), Fields{"2"});
  EXPECT_EQ(SplitParamLine("2;"), Fields{"2"});
  EXPECT_EQ(SplitParamLine("2;;a"), (Fields{"2", "", "a"}));
  EXPECT_EQ(SplitParamLine(";;"), (Fields{"", ""}));
}

TEST(MerchantParamsLine, RoundTripsEveryValue) {
  CMerchantParams set;
  ASSERT_TRUE(set.SetValue(kParamMerchantId, "123456789012345"));
  ASSERT_TRUE(set.SetValue(kParamPassword, "pw, blank!"));
  ASSERT_TRUE(set.SetValue(kParamDialPrefix, "9,"));
  ASSERT_TRUE(set.SetValue(kParamLaneIds, std::string(300, 'L')));
  CMerchantParams read;
  ASSERT_TRUE(read.Deserialize(set.Serialize()));
  EXPECT_EQ(read, set);
}

TEST(MerchantParamsLine, OtherVersionLoadsNothing) {
  CMerchantParams set;
  ASSERT_TRUE(set.SetValue(kParamMerchantId, "123456789012345"));
  const std::string line = std::string("3") + std::string(kDefaultLine).substr(1);
  EXPECT_FALSE(set.Deserialize(line));
  EXPECT_EQ(set, CMerchantParams());
  EXPECT_FALSE(set.Deserialize(""));
  EXPECT_FALSE(set.Deserialize(";"));
  EXPECT_FALSE(set.Deserialize("2 ;"));
}

TEST(MerchantParamsLine, FailingValueKeepsItsDefaultAndTheRestStillLoad) {
  CMerchantParams set;
  ASSERT_TRUE(set.Deserialize("2;23;12345;"));
  EXPECT_EQ(set, CMerchantParams()) << "five digits fail entry 1; missing fields are empty";
  ASSERT_TRUE(set.Deserialize("2"));
  EXPECT_EQ(set, CMerchantParams());

  ASSERT_TRUE(set.Deserialize(
      "2;23;12345;87654321;0;0;N;N;N;;N;y;N;N;0400;0;1;;18005550199;3;0; ;1;00;0;"));
  EXPECT_EQ(set.GetValue(kParamMerchantId), "000000000000000");
  EXPECT_EQ(set.GetValue(kParamTerminalId), "87654321");
  EXPECT_EQ(set.GetValue(kParamVerifyCertificate), "Y") << "\"y\" keeps the default";
}

}  // namespace
}  // namespace paxelle
