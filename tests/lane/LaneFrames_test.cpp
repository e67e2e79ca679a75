// Request frames the lane builds, server frames it takes apart, and the
// cutting of a byte stream into frames, against literal wire texts.
#include "tools/lane/LaneFrames.h"

#include <gtest/gtest.h>

#include <vector>

namespace paxelle::lane {
namespace {

TEST(LaneFramesTest, RequestFrameLayout) {
  EXPECT_EQ(BuildRequestFrame("Lane7-0042", '2', "0102", "ABCD"),
            "Lane7-0042\x1C" "200\x02\x11" "0102\x12" "ABCD\x03");
  EXPECT_EQ(BuildRequestFrame("", 'M', "01", "FF"), "\x1C" "M00\x02\x11" "01\x12" "FF\x03");
}

TEST(LaneFramesTest, AbortFrameHasTypeAAndNoPayload) {
  EXPECT_EQ(BuildAbortFrame(""), "\x1C" "A00\x02\x03");
  EXPECT_EQ(BuildAbortFrame("ref 9"), "ref 9\x1C" "A00\x02\x03");
}

TEST(LaneFramesTest, UserTraceMustNotBreakTheFrame) {
  EXPECT_TRUE(IsValidUserTrace(""));
  EXPECT_TRUE(IsValidUserTrace("Lane 7 / ticket 0042 <&>"));
  EXPECT_FALSE(IsValidUserTrace("a\x1C" "b"));
  EXPECT_FALSE(IsValidUserTrace("a\x02"));
  EXPECT_FALSE(IsValidUserTrace("a\x03"));
}

TEST(LaneFramesTest, ServerFramesOfBothTypesParse) {
  const struct {
    std::string text;
    char type;
    std::string payload;
  } cases[] = {
      {"\x1C" "000\x02<?xml version=\"1.0\"?>\r\n", '0', "<?xml version=\"1.0\"?>\r\n"},
      {"\x1C" "200\x02" "A1B2C3", '2', "A1B2C3"},
      {"\x1C" "200\x02" "A1B2C3\x03", '2', "A1B2C3"},  // trailing ETX accepted
      {"\x1C" "000\x02", '0', ""},
      {"\x1C" "000\x02" "trace\x02" "echoed", '0', "trace\x02" "echoed"},
  };
  for (const auto& c : cases) {
    ServerFrame frame;
    const Status parsed = ParseServerFrame(c.text, frame);
    ASSERT_TRUE(parsed.ok()) << parsed.message();
    EXPECT_EQ(frame.type, c.type);
    EXPECT_EQ(frame.payload, c.payload);
  }
}

TEST(LaneFramesTest, MalformedServerFramesAreRefusedWithoutTouchingTheResult) {
  const char* cases[] = {
      "",
      "\x1C" "00",                    // too short
      "x\x1C" "000\x02<?xml",         // text before FS
      "\x1C" "100\x02<?xml",          // not a server frame type
      "\x1C" "M00\x02" "AB",
      "\x1C" "0AB\x02<?xml",          // header is not "00"
      "\x1C" "000<?xml",              // no STX
      "\x1C" "000\x02" "a\x03" "b",   // ETX inside
  };
  for (const char* text : cases) {
    ServerFrame frame{'X', "unchanged"};
    const Status parsed = ParseServerFrame(text, frame);
    EXPECT_FALSE(parsed.ok()) << text;
    EXPECT_FALSE(parsed.message().empty());
    EXPECT_EQ(frame.type, 'X');
    EXPECT_EQ(frame.payload, "unchanged");
  }
}

std::vector<std::string> Drain(FrameReader& reader) {
  std::vector<std::string> frames;
  std::string frame;
  while (reader.Next(frame)) frames.push_back(frame);
  return frames;
}

TEST(FrameReaderTest, TwoFramesInOneReadComeOutInOrder) {
  FrameReader reader;
  ASSERT_TRUE(reader.Append("\x1C" "000\x02one\x03\x1C" "000\x02two\x03"));
  EXPECT_EQ(Drain(reader), (std::vector<std::string>{"\x1C" "000\x02one", "\x1C" "000\x02two"}));
  EXPECT_EQ(reader.Buffered(), 0u);
}

TEST(FrameReaderTest, AFrameSplitOverReadsIsAssembled) {
  FrameReader reader;
  std::string frame;
  ASSERT_TRUE(reader.Append("\x1C" "20"));
  EXPECT_FALSE(reader.Next(frame));
  ASSERT_TRUE(reader.Append("0\x02" "AB"));
  EXPECT_FALSE(reader.Next(frame));
  ASSERT_TRUE(reader.Append("CD\x03\x1C" "0"));
  ASSERT_TRUE(reader.Next(frame));
  EXPECT_EQ(frame, "\x1C" "200\x02" "ABCD");
  EXPECT_FALSE(reader.Next(frame));
  EXPECT_EQ(reader.Buffered(), 2u);
  ASSERT_TRUE(reader.Append("00\x02\x03"));
  EXPECT_EQ(Drain(reader), std::vector<std::string>{"\x1C" "000\x02"});
}

TEST(FrameReaderTest, EveryEtxEndsAFrameEvenAnEmptyOne) {
  FrameReader reader;
  ASSERT_TRUE(reader.Append("\x03" "a\x03\x03"));
  EXPECT_EQ(Drain(reader), (std::vector<std::string>{"", "a", ""}));
}

TEST(FrameReaderTest, AnOverlongUnfinishedFrameIsRefusedAndKeptOut) {
  FrameReader reader(8);
  ASSERT_TRUE(reader.Append("12345678\x03" "1234"));  // complete frames do not count
  EXPECT_FALSE(reader.Append("56789"));
  EXPECT_TRUE(reader.Overflowed());
  EXPECT_FALSE(reader.Append("\x03"));
  EXPECT_EQ(Drain(reader), std::vector<std::string>{"12345678"});  // what came before stays readable
  reader.Clear();
  EXPECT_FALSE(reader.Overflowed());
  ASSERT_TRUE(reader.Append("ok\x03"));
  EXPECT_EQ(Drain(reader), std::vector<std::string>{"ok"});
}

TEST(FrameReaderTest, ManySmallFramesDoNotAccumulate) {
  FrameReader reader(16);
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(reader.Append("frame\x03" "ha"));
    ASSERT_TRUE(reader.Append("lf\x03"));
    EXPECT_EQ(Drain(reader), (std::vector<std::string>{"frame", "half"}));
  }
  EXPECT_EQ(reader.Buffered(), 0u);
}

}  // namespace
}  // namespace paxelle::lane
