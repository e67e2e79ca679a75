// The one mask every log entry goes through: every card datum hidden, tagged
// or bare, wherever and however often it appears; everything else left as it was.
#include "common/CardDataMask.h"

#include <gtest/gtest.h>

namespace paxelle {
namespace {

// Fields are "key=value" pairs ended by FS; "|" stands for FS in the table.
std::string Fields(std::string text) {
  for (char& c : text) {
    if (c == '|') c = '\x1c';
  }
  return text;
}

struct MaskCase {
  const char* name;
  std::string request;
  std::string logged;
};

TEST(CardDataMask, HidesEveryCardDatum) {
  const MaskCase cases[] = {
      {"account: all but the last four", "AcctNo=4111111111111111|Purchase=10.00|",
       "AcctNo=XXXXXXXXXXXX1111|Purchase=10.00|"},
      {"expiry date whole", "ExpDate=1228|", "ExpDate=XXXX|"},
      {"value running to the end", "Memo=a|AcctNo=5500000000000004", "Memo=a|AcctNo=XXXXXXXXXXXX0004"},
      {"short account kept", "AcctNo=123|", "AcctNo=123|"},
      {"empty values", "AcctNo=|ExpDate=|CVVData=|", "AcctNo=|ExpDate=|CVVData=|"},
      {"CVV and PIN block whole", "CVVData=123|PINBlock=0123456789ABCDEF|",
       "CVVData=XXX|PINBlock=XXXXXXXXXXXXXXXX|"},
      {"track 2: four before the separator and the separators stay", "Track2=4111111111111111=2812101|",
       "Track2=XXXXXXXXXXXX1111=XXXXXXX|"},
      {"track 2 with sentinels", "Track2=;4111111111111111=2812101?|", "Track2=XXXXXXXXXXXXX1111=XXXXXXXX|"},
      {"track 2 with two separators", "Track2=4111111111111111=2812=101|", "Track2=XXXXXXXXXXXX1111=XXXX=XXX|"},
      {"track 2 separator near the start", "Track2=41=2812|", "Track2=41=XXXX|"},
      {"track 2 without a separator", "Track2=4111111111111111|", "Track2=XXXXXXXXXXXX1111|"},
      {"account and expiry masked beside track 2", "Track2=4111111111111111=2812|AcctNo=4111111111111111|ExpDate=1228|",
       "Track2=XXXXXXXXXXXX1111=XXXX|AcctNo=XXXXXXXXXXXX1111|ExpDate=XXXX|"},
      {"every occurrence", "AcctNo=4111111111111111|AcctNo=5500000000000004|CVVData=1|CVVData=22|",
       "AcctNo=XXXXXXXXXXXX1111|AcctNo=XXXXXXXXXXXX0004|CVVData=X|CVVData=XX|"},
      {"chip data: account masked whole", "EMVData=5A:4111111111111111|", "EMVData=5A:XXXXXXXXXXXXXXXX|"},
      {"chip data pairs", "EMVData=9F02:000000001000|57:4111111111111111D2812101|5F24:281231|5F34:01",
       "EMVData=9F02:000000001000|57:XXXXXXXXXXXXXXXXXXXXXXXX|5F24:XXXXXX|5F34:01"},
      {"key serial number and ciphertext stay", "DervdKey=FFFF9876543210E00001|EncryptedBlock=0A1B2C|",
       "DervdKey=FFFF9876543210E00001|EncryptedBlock=0A1B2C|"},
      {"no card data", "TStream=Admin|TranCode=ServerVersion|", "TStream=Admin|TranCode=ServerVersion|"},
      {"empty request", "", ""},
  };
  for (const MaskCase& c : cases) {
    // Chip data pairs are separated by "|" themselves: only the table's field ends become FS.
    std::string request = c.request;
    std::string logged = c.logged;
    if (request.rfind("EMVData=", 0) != 0) {
      request = Fields(request);
      logged = Fields(logged);
    }
    EXPECT_EQ(MaskCardData(request), logged) << c.name;
  }
}

TEST(CardDataMask, ChipDataEndsAtTheNextField) {
  const std::string request = "EMVData=5A:4111111111111111|5F24:281231\x1c" "AcctNo=4111111111111111\x1c";
  EXPECT_EQ(MaskCardData(request), "EMVData=5A:XXXXXXXXXXXXXXXX|5F24:XXXXXX\x1c" "AcctNo=XXXXXXXXXXXX1111\x1c");
}

// Only the values of tags known to hold no cardholder data stay; every other
// value, listed as card data or never heard of, is masked whole.
TEST(CardDataMask, ChipDataKeepsOnlyTheTagsKnownToHoldNoCardholderData) {
  const MaskCase cases[] = {
      {"track 1 equivalent", "56:B4111111111111111^DOE/J^2812", "56:XXXXXXXXXXXXXXXXXXXXXXXXXXXX"},
      {"track 2 equivalent (contactless)", "9F6B:4111111111111111D2812", "9F6B:XXXXXXXXXXXXXXXXXXXXX"},
      {"track 1 discretionary data", "9F1F:1010000012345", "9F1F:XXXXXXXXXXXXX"},
      {"track 2 discretionary data", "9F20:101000", "9F20:XXXXXX"},
      {"cardholder name", "5F20:DOE/JOHN", "5F20:XXXXXXXX"},
      {"a tag nobody listed", "DF8101:4111111111111111", "DF8101:XXXXXXXXXXXXXXXX"},
      {"a pair without a tag", "4111111111111111", "XXXXXXXXXXXXXXXX"},
      {"text in the tag's place", "4111111111111111:1", "XXXXXXXXXXXXXXXXXX"},
      {"amounts, dates and terminal data stay",
       "9F02:000000001000|9F03:000000000000|9A:240501|9C:00|5F2A:0840|9F1A:0840|95:0000008000",
       "9F02:000000001000|9F03:000000000000|9A:240501|9C:00|5F2A:0840|9F1A:0840|95:0000008000"},
      {"application data stays", "9F26:0102030405060708|9F27:80|9F10:06010A03A00000|9F36:0001|82:1C00|84:A0000000031010",
       "9F26:0102030405060708|9F27:80|9F10:06010A03A00000|9F36:0001|82:1C00|84:A0000000031010"},
      {"tag names in either case", "9f02:1000|5a:4111111111111111", "9f02:1000|5a:XXXXXXXXXXXXXXXX"},
      {"empty pairs and values", "||9F02:|5A:", "||9F02:|5A:"},
  };
  for (const MaskCase& c : cases) {
    EXPECT_EQ(MaskCardData("EMVData=" + c.request), "EMVData=" + c.logged) << c.name;
  }
}

// Lines that are not requests (echoed frames, documents, host texts) carry card
// data without a tag: accounts that pass the Luhn check and the tracks behind them.
TEST(CardDataMask, BareAccountsAndTracksAreMasked) {
  const MaskCase cases[] = {
      {"account in free text", "<UserTraceData>4111111111111111</UserTraceData>",
       "<UserTraceData>XXXXXXXXXXXX1111</UserTraceData>"},
      {"thirteen to nineteen digits", "x4222222222222x 6011000000000004x", "xXXXXXXXXX2222x XXXXXXXXXXXX0004x"},
      {"track 2 behind the account", ";4111111111111111=2812101123?", ";XXXXXXXXXXXX1111=XXXXXXXXXX?"},
      {"chip track 2 separator", "4111111111111111D28121010000", "XXXXXXXXXXXX1111DXXXXXXXXXXX"},
      {"track 1 up to its end sentinel", "%B4111111111111111^DOE/JOHN^2812101?;",
       "%BXXXXXXXXXXXX1111^XXXXXXXX^XXXXXXX?;"},
      {"a number failing the Luhn check stays", "MerchantID 123456789012345", "MerchantID 123456789012345"},
      {"twelve digits stay", "Ref 411111111111", "Ref 411111111111"},
      {"a longer run stays", "00000000004111111111111111", "00000000004111111111111111"},
      {"an account starting inside a masked track tail", "%B4111111111111111^" + std::string(70, 'A') + "5500000000000004",
       "%BXXXXXXXXXXXX1111^" + std::string(82, 'X') + "0004"},
  };
  for (const MaskCase& c : cases) EXPECT_EQ(MaskCardData(c.request), c.logged) << c.name;
}

// A logged request keeps in clear only the fields known to hold no cardholder
// data; every other field's value is masked whole, and only the value.
TEST(CardDataMask, ALoggedRequestKeepsOnlyTheFieldsKnownToBeClear) {
  const MaskCase cases[] = {
      {"listed fields stay", "TStream=Transaction|TranCode=Sale|InvoiceNo=17|Purchase=10.00|Memo=hi|",
       "TStream=Transaction|TranCode=Sale|InvoiceNo=17|Purchase=10.00|Memo=hi|"},
      {"card fields as before", "AcctNo=4111111111111111|ExpDate=1228|CVVData=123|",
       "AcctNo=XXXXXXXXXXXX1111|ExpDate=XXXX|CVVData=XXX|"},
      {"chip tags sent as fields of their own", "56=B4111111111111111^DOE|5F20=444F452F4A|",
       "56=XXXXXXXXXXXXXXXXXXXXX|5F20=XXXXXXXXXX|"},
      {"an expiry in a field nobody listed", "CardExpiry=1228|Name=J Doe|", "CardExpiry=XXXX|Name=XXXXX|"},
      {"a piece that is no field is left to the second net", "junk 4111111111111111|x",
       "junk XXXXXXXXXXXX1111|x"},
  };
  for (const MaskCase& c : cases) EXPECT_EQ(MaskRequestFields(Fields(c.request)), Fields(c.logged)) << c.name;
}

TEST(CardDataMask, AValueWithoutAnFsAfterItIsMaskedAloneNotTheRestOfTheLine) {
  EXPECT_EQ(MaskCardData("Request ->[Purchase=1.00\x1c" "AcctNo=4111111111111111] from 127.0.0.1:0005"),
            "Request ->[Purchase=1.00\x1c" "AcctNo=XXXXXXXXXXXX1111] from 127.0.0.1:0005");
  // Once the FS is shown as text, the value still ends there.
  EXPECT_EQ(MaskCardData("[ExpDate=1228<FS>Purchase=1.00] from 127.0.0.1:0005"),
            "[ExpDate=XXXX<FS>Purchase=1.00] from 127.0.0.1:0005");
}

TEST(CardDataMask, KeepsTheLengthAndEveryOtherCharacter) {
  const std::string request = "TStream=Transaction\x1c" "AcctNo=4111111111111111\x1c" "Name=J Doe\x1c";
  const std::string logged = MaskCardData(request);
  ASSERT_EQ(logged.size(), request.size());
  for (std::size_t i = 0; i < request.size(); ++i) {
    if (logged[i] != request[i]) {
      EXPECT_EQ(logged[i], 'X') << i;
    }
  }
  EXPECT_NE(logged.find("Name=J Doe"), std::string::npos);
}

}  // namespace
}  // namespace paxelle
