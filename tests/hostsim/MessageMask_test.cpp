#include "tools/hostsim/MessageMask.h"

#include "common/Clock.h"
#include "tests/config/TempDir.h"
#include "tests/hostsim/SimTestSupport.h"
#include "tools/hostsim/Journal.h"
#include "tools/hostsim/SimText.h"

#include <gtest/gtest.h>

#include <thread>

namespace paxelle::hostsim {
namespace {

using namespace simtest;

TEST(MaskAccountFieldTest, KeepsTheLastFourOfTheAccountAndEveryEquals) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"4111111111111111=2612", "XXXXXXXXXXXX1111=XXXX"},
      {kTrack2, "XXXXXXXXXXXX1111=" + std::string(17, 'X')},
      {"4111111111111111", "XXXXXXXXXXXX1111"},
      {std::string(16, '0') + "4111111111111111=2612", std::string(28, 'X') + "1111=XXXX"},
      {"4111111111111111=2512    ", "XXXXXXXXXXXX1111=XXXX    "},
      {"41111111=25=12", "XXXX1111=XX=XX"},
      {"=2612", "=XXXX"},
      {"123", "123"},
      {"    ", "    "},
      {"", ""},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_TRUE(MasksAs(MaskAccountField(cases[i].first), cases[i].second)) << "case " << i;
  }
}

// Every layout, masked, keeps its length and head and shows none of the card data.
TEST(MaskMessageTest, NoLayoutShowsCardData) {
  Head head;
  const std::string sale = CreditSale(head);
  const std::vector<std::string> messages = {
      sale,
      DebitSale(head),
      EbtBalance(head),
      VoiceAuth(head, "123456"),
      EmvSale(head),
      Completion(sale, head, "COMPLETED", kTrack2),
      "CARD " + kTrack2 + " END",
  };
  for (std::size_t i = 0; i < messages.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string& message = messages[i];
    const std::string masked = MaskMessage(ReadSimMessage(message), message);
    EXPECT_EQ(masked.size(), message.size());
    EXPECT_EQ(masked.find(kPan.substr(0, 12)), std::string::npos);
    EXPECT_EQ(masked.find("1010000012345"), std::string::npos);  // track discretionary data
    EXPECT_EQ(masked.find(kPinBlock), std::string::npos);
    EXPECT_EQ(masked.find(kDerivedKey.substr(4)), std::string::npos);
  }
}

TEST(MaskMessageTest, RequestMasksExactlyTheCardDataSlots) {
  Head head;
  const std::string sale = CreditSale(head);
  const std::string maskedSale = MaskMessage(ReadSimMessage(sale), sale);
  EXPECT_EQ(maskedSale.substr(0, 84), sale.substr(0, 84));
  EXPECT_TRUE(MasksAs(Piece(maskedSale, 1).substr(84), "XXXXXXXXXXXX1111=XXXX"));
  const std::string address = Piece(sale, 6);
  EXPECT_TRUE(MasksAs(Piece(maskedSale, 6), address.substr(0, 30) + "XXX ")) << "CVV slot only";
  EXPECT_EQ(Piece(maskedSale, 9), "INV001");

  const std::string debit = DebitSale(head);
  const std::string maskedDebit = MaskMessage(ReadSimMessage(debit), debit);
  EXPECT_TRUE(MasksAs(Piece(maskedDebit, 13), std::string(36, 'X')));
  EXPECT_EQ(Piece(maskedDebit, 6), "D");

  const std::string emv = EmvSale(head);
  const std::string maskedEmv = MaskMessage(ReadSimMessage(emv), emv);
  const std::string block = Piece(maskedEmv, 12);
  EXPECT_EQ(block.substr(0, 2), "01");
  EXPECT_TRUE(MasksAs(block.substr(2, 38), "XXXXXXXXXXXX1111=" + std::string(17, 'X') + "    "));
  EXPECT_EQ(block.substr(40, 406), Piece(emv, 12).substr(40, 406));
  EXPECT_EQ(Piece(emv, 12).substr(446, 6), "281231");
  EXPECT_TRUE(MasksAs(block.substr(446, 6), "XXXXXX")) << "the card's expiry date";
  EXPECT_EQ(block.substr(452), Piece(emv, 12).substr(452));
}

TEST(MaskMessageTest, CompletionMasksItsAccountOnly) {
  Head head;
  const std::string completion = Completion(CreditSale(head), head, "REPLY NOT RECVD", kKeyedAccount);
  const std::string masked = MaskMessage(ReadSimMessage(completion), completion);
  EXPECT_EQ(Piece(masked, 1), Piece(completion, 1));
  EXPECT_TRUE(MasksAs(Piece(masked, 2), "XXXXXXXXXXXX1111=XXXX"));
  EXPECT_EQ(Piece(masked, 3), Piece(completion, 3));
}

TEST(MaskMessageTest, BatchMessagesAreLeftWholeAndUnknownOnesLoseLongDigitRuns) {
  Head head;
  const std::string inquiry = BatchInquiry(head);
  EXPECT_EQ(MaskMessage(ReadSimMessage(inquiry), inquiry), inquiry);

  const std::string unknown = "CARD " + kTrack2 + " AMOUNT 00001250";
  EXPECT_TRUE(MasksAs(MaskMessage(ReadSimMessage(unknown), unknown),
                      "CARD XXXXXXXXXXXX1111=" + std::string(17, 'X') + " AMOUNT 00001250"));
}

TEST(PrintableTextTest, ControlAndEightBitBytesAreSpelledOut) {
  EXPECT_EQ(PrintableText(std::string("A\x1c" "B\x03\xff\n", 6)), "A<FS>B<03><FF><0A>");
  EXPECT_EQ(PrintableText("plain text"), "plain text");
}

TEST(JournalTest, LineCarriesTimeKindStatusAndMaskedMessage) {
  Head head;
  const std::time_t when = 1714557072;
  const std::string stamp = FormatLocalTime("%Y-%m-%d %H:%M:%S", when);
  const std::string sale = CreditSale(head);

  const std::string requestLine = JournalLine(ReadSimMessage(sale), sale, when);
  EXPECT_TRUE(requestLine.starts_with(stamp + " REQUEST " + sale.substr(0, 84) + "XXXXXXXXXXXX1111=XXXX<FS>"));

  const std::string completion = Completion(sale, head, "REPLY NOT RECVD", kKeyedAccount);
  EXPECT_TRUE(JournalLine(ReadSimMessage(completion), completion, when)
                  .starts_with(stamp + " COMPLETION REPLY NOT RECVD " + completion.substr(0, 60)));
  EXPECT_TRUE(JournalLine(ReadSimMessage("junk\n"), "junk\n", when).starts_with(stamp + " UNKNOWN junk<0A>"));
}

TEST(JournalTest, AppendsWholeLinesFromManyThreadsToAPrivateFile) {
  testing::TempDir dir;
  Journal journal;
  const Status opened = journal.Open(dir / "journal.txt");
  ASSERT_TRUE(opened.ok()) << opened.message();
  const std::string sale = CreditSale(Head{});
  const SimMessage read = ReadSimMessage(sale);
  std::vector<std::thread> writers;
  for (int i = 0; i < 4; ++i) {
    writers.emplace_back([&] {
      for (int j = 0; j < 25; ++j) journal.Record(read, sale, 1714557072);
    });
  }
  for (std::thread& writer : writers) writer.join();

  const std::string text = testing::ReadBytes(dir / "journal.txt");
  const std::string line = JournalLine(read, sale, 1714557072) + "\n";
  std::size_t lines = 0;
  for (std::size_t pos = 0; pos < text.size(); pos += line.size(), ++lines) {
    ASSERT_EQ(text.compare(pos, line.size(), line), 0) << "line " << lines;
  }
  EXPECT_EQ(lines, 100u);
  EXPECT_EQ(testing::Mode(dir / "journal.txt"),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(JournalTest, UnopenableFileIsAClearErrorAndRecordsNothing) {
  testing::TempDir dir;
  Journal journal;
  const Status opened = journal.Open(dir / "missing" / "journal.txt");
  EXPECT_FALSE(opened.ok());
  EXPECT_NE(opened.message().find("cannot open the journal"), std::string::npos) << opened.message();
  EXPECT_FALSE(journal.Record(ReadSimMessage("x"), "x", 0));
}

}  // namespace
}  // namespace paxelle::hostsim
