#include "tools/hostsim/SimOptions.h"

#include "tools/hostsim/ModemFaults.h"

#include <gtest/gtest.h>

namespace paxelle::hostsim {
namespace {

TEST(SimOptionsTest, ReadsEveryOptionInBothSpellings) {
  SimOptions options;
  const Status parsed = ParseSimOptions(
      {"--port", "6661", "--cert=c.pem", "--key", "k.pem", "--journal=j.txt", "--delay-ms", "250"}, options);
  ASSERT_TRUE(parsed.ok()) << parsed.message();
  EXPECT_EQ(options.port, 6661);
  EXPECT_EQ(options.certFile, "c.pem");
  EXPECT_EQ(options.keyFile, "k.pem");
  EXPECT_EQ(options.journalFile, "j.txt");
  EXPECT_EQ(options.delay, std::chrono::milliseconds(250));
  EXPECT_FALSE(options.help);

  SimOptions defaults;
  ASSERT_TRUE(ParseSimOptions({"--port", "0", "--cert", "c", "--key", "k"}, defaults).ok());
  EXPECT_EQ(defaults.delay, std::chrono::milliseconds(2000));
  EXPECT_EQ(defaults.journalFile, "");

  SimOptions help;
  EXPECT_TRUE(ParseSimOptions({"--help"}, help).ok()) << "nothing else is required with --help";
  EXPECT_TRUE(help.help);

  SimOptions version;
  EXPECT_TRUE(ParseSimOptions({"--version"}, version).ok()) << "nor with --version";
  EXPECT_TRUE(version.version);
  EXPECT_FALSE(version.help);
}

TEST(SimOptionsTest, ModemBesideOrInsteadOfTheNetwork) {
  SimOptions only;
  ASSERT_TRUE(ParseSimOptions({"--modem", "/tmp/modem", "--journal", "j"}, only).ok());
  EXPECT_EQ(only.modemLink, "/tmp/modem");
  EXPECT_FALSE(only.network);

  SimOptions both;
  ASSERT_TRUE(ParseSimOptions({"--port", "0", "--cert", "c", "--key", "k", "--modem=/tmp/m"}, both).ok());
  EXPECT_EQ(both.modemLink, "/tmp/m");
  EXPECT_TRUE(both.network);
}

TEST(SimOptionsTest, HelpListsTheModemFaults) {
  const std::string help = SimHelpText();
  for (const char* text : {"--modem PATH", "0001  BUSY", "0002  NO CARRIER", "0003", "0004", "0005", "0006",
                           "0007", ".11", ".12", ".13", ".14", "MODEM REFUSED"}) {
    EXPECT_NE(help.find(text), std::string::npos) << text;
  }
}

TEST(ModemFaultsTest, ChosenByTheNumbersAndTheAmountsEnding) {
  const std::pair<const char*, CallFault> numbers[] = {
      {"18005550199", CallFault::kNone},      {"9,1800555-0001", CallFault::kBusy},
      {"0002", CallFault::kNoCarrier},        {"15550003", CallFault::kNoDialAnswer},
      {"15550004", CallFault::kNoEnq},        {"15550005", CallFault::kDropWhenIdle},
      {"15550006", CallFault::kModemHangs},   {"15550007", CallFault::kUnplugged},
      {"1", CallFault::kNone},
      {"", CallFault::kNone},                 {"10001x", CallFault::kBusy},
  };
  for (const auto& [number, fault] : numbers) EXPECT_EQ(CallFaultForNumber(number), fault) << number;
  const std::pair<const char*, ExchangeFault> amounts[] = {
      {"00001000", ExchangeFault::kNone},       {"00001011", ExchangeFault::kNakOnce},
      {"00001012", ExchangeFault::kNakAlways},  {"00001013", ExchangeFault::kBadLrcFirst},
      {"00001014", ExchangeFault::kNoEot},      {"00001015", ExchangeFault::kNone},
      {"1", ExchangeFault::kNone},              {"", ExchangeFault::kNone},
  };
  for (const auto& [amount, fault] : amounts) EXPECT_EQ(ExchangeFaultForAmount(amount), fault) << amount;
}

TEST(SimOptionsTest, RefusesWhatItCannotUse) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "--port, --cert and --key are required (unless only --modem is given)"},
      {{"--port", "0", "--cert", "c"}, "--port, --cert and --key are required (unless only --modem is given)"},
      {{"--modem", "m", "--port", "0"}, "--port, --cert and --key are required (unless only --modem is given)"},
      {{"--modem="}, "--modem needs a non-empty value"},
      {{"--port", "65536", "--cert", "c", "--key", "k"}, "--port must be a number from 0 to 65535, not \"65536\""},
      {{"--port", "-1", "--cert", "c", "--key", "k"}, "--port must be a number from 0 to 65535, not \"-1\""},
      {{"--port", "0", "--cert", "c", "--key", "k", "--delay-ms", "600001"},
       "--delay-ms must be a number from 0 to 600000, not \"600001\""},
      {{"--port", "0", "--cert", "c", "--key"}, "--key needs a value"},
      {{"--port", "0", "--cert=", "--key", "k"}, "--cert needs a non-empty value"},
      {{"--verbose"}, "unknown option --verbose"},
  };
  for (const auto& [args, message] : cases) {
    SimOptions options;
    const Status parsed = ParseSimOptions(args, options);
    EXPECT_FALSE(parsed.ok()) << message;
    EXPECT_EQ(parsed.message(), message);
  }
}

}  // namespace
}  // namespace paxelle::hostsim
