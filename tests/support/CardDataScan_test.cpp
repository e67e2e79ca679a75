// The checker fails a run on exactly the card data the test sent, wherever it
// sits (glued to other digits too), and only reports what merely looks like it.
#include "tests/support/CardDataScan.h"

#include "tests/config/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace paxelle::testing {
namespace {

const std::string kPan = "4111111111111111";

SentCardData Sent(std::vector<std::string> values) {
  SentCardData sent;
  for (std::string& value : values) sent.Add(std::move(value));
  return sent;
}

struct ScanCase {
  const char* name;
  std::string bytes;
  std::size_t failing;
  std::size_t reported;
};

TEST(CardDataScan, FailsOnExactlyTheSentValues) {
  const SentCardData sent = Sent({kPan, "0123456789ABCDEF", "4111111111111111=2812101", "737"});
  const ScanCase cases[] = {
      {"masked account", "AcctNo=XXXXXXXXXXXX1111", 0, 0},
      {"account in clear", "AcctNo=" + kPan, 1, 1},
      {"account glued to the end of a host head", "0000123456789012345000001" + kPan + "\x1c", 1, 0},
      {"PIN block", "PIN 0123456789ABCDEF end", 1, 0},
      {"whole track, its account counted too", ";4111111111111111=2812101?", 2, 2},
      {"CVV as a token", "CVVData=737|", 1, 0},
      {"CVV inside another number is no finding", "Purchase=17370|Time 07:37:00", 0, 0},
      {"every occurrence", kPan + " " + kPan, 2, 2},
      {"nothing", "", 0, 0},
  };
  for (const ScanCase& c : cases) {
    const auto findings = ScanBytes(c.bytes, sent);
    EXPECT_EQ(FailingCount(findings), c.failing) << c.name;
    EXPECT_EQ(findings.size() - FailingCount(findings), c.reported) << c.name;
  }
}

TEST(CardDataScan, ReportsWhatOnlyLooksLikeCardData) {
  const SentCardData none;
  const ScanCase cases[] = {
      {"Luhn-valid account between non-digits", "x5500000000000004x", 0, 1},
      {"Luhn-invalid run", "x5500000000000005x", 0, 0},
      {"twelve digits are too short", "x411111111116x", 0, 0},
      {"a valid account inside a longer run is not delimited", "0000" + std::string("5500000000000004"), 0, 0},
      {"track 1 pattern", "%B5500000000000004^DOE/J^2812101?", 0, 2},
      {"track 2 pattern", ";5500000000000004=2812?", 0, 2},
      {"masked track", ";XXXXXXXXXXXX0004=XXXX?", 0, 0},
  };
  for (const ScanCase& c : cases) {
    const auto findings = ScanBytes(c.bytes, none);
    EXPECT_EQ(FailingCount(findings), c.failing) << c.name;
    EXPECT_EQ(findings.size(), c.reported) << c.name;
  }
}

TEST(CardDataScan, DescriptionsNeverShowTheValue) {
  const auto findings = ScanBytes("AcctNo=" + kPan + " ;4111111111111111=2812?", Sent({kPan}));
  ASSERT_FALSE(findings.empty());
  const std::string text = DescribeFindings(findings);
  EXPECT_EQ(text.find(kPan), std::string::npos) << text;
  EXPECT_NE(text.find("XXXXXXXXXXXX1111"), std::string::npos) << text;
  EXPECT_NE(text.find("SENT"), std::string::npos);
}

TEST(CardDataScan, RequestPairsGiveTheirCardData) {
  SentCardData sent;
  sent.AddRequestPairs({"TStream=Transaction", "AcctNo=" + kPan, "Track2=;5500000000000004=2812101?",
                        "CVVData=737", "PINBlock=0123456789ABCDEF", "Purchase=10.00",
                        "EMVData=9F02:000000001000|57:4000000000000002D2812|5F20:DOE/J"});
  const std::vector<std::string> expected = {kPan, ";5500000000000004=2812101?", "5500000000000004", "737",
                                             "0123456789ABCDEF", "4000000000000002D2812", "DOE/J"};
  EXPECT_EQ(sent.values, expected);

  SentCardData check;
  check.AddRequestPairs({"TranType=CheckAuth", "MICR=Keyed", "RoutingNo=123456789", "AcctNo=12345678"});
  EXPECT_TRUE(check.values.empty());
}

TEST(CardDataScan, FilesUnderADirectoryAreEachScanned) {
  TempDir dir;
  std::filesystem::create_directories(dir.Path() / "logs");
  std::ofstream(dir.Path() / "clean.txt") << "AcctNo=XXXXXXXXXXXX1111\n";
  std::ofstream(dir.Path() / "logs" / "leak.log") << "Request ->[AcctNo=" << kPan << "]\n";
  const auto findings = ScanFiles(dir.Path(), Sent({kPan}));
  ASSERT_EQ(FailingCount(findings), 1u);
  EXPECT_EQ(findings[0].file.filename(), "leak.log");
  EXPECT_EQ(findings[0].offset, 18u);

  EXPECT_EQ(FailingCount(ScanFiles(dir.Path() / "missing", Sent({kPan}))), 1u) << "nothing proved is a failure";
}

}  // namespace
}  // namespace paxelle::testing
