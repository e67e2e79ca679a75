// Reading the command response block of the documents the server sends.
#include "tools/lane/LaneDocument.h"

#include <gtest/gtest.h>

namespace paxelle::lane {
namespace {

// The server's whole-document command response, with `extra` lines before the
// closing CmdResponse line.
std::string WholeDocument(const std::string& origin, const std::string& code, const std::string& status,
                          const std::string& text, const std::string& trace, const std::string& extra = "") {
  return "<?xml version=\"1.0\"?>\r\n<RStream>\r\n\t<CmdResponse>\r\n\t\t<ResponseOrigin>" + origin +
         "</ResponseOrigin>\r\n\t\t<OPXXReturnCode>" + code + "</OPXXReturnCode>\r\n\t\t<CmdStatus>" + status +
         "</CmdStatus>\r\n\t\t<TextResponse>" + text + "</TextResponse>\r\n\t\t<UserTraceData>" + trace +
         "</UserTraceData>\r\n" + extra + "\t</CmdResponse>\r\n</RStream>\r\n";
}

TEST(LaneDocumentTest, ReadsEveryElementOfAnErrorDocument) {
  CommandResponse response;
  const Status parsed = ParseCommandResponse(
      WholeDocument("Server", "004005", "Error", "Clear Text Request NOT supported.", "Lane7-0042",
                    "\t\t<RevStatus>x</RevStatus>\r\n"),
      response);
  ASSERT_TRUE(parsed.ok()) << parsed.message();
  EXPECT_EQ(response.responseOrigin, "Server");
  EXPECT_EQ(response.returnCodeText, "004005");
  EXPECT_EQ(response.returnCode, 4005);
  EXPECT_EQ(response.cmdStatus, "Error");
  EXPECT_EQ(response.textResponse, "Clear Text Request NOT supported.");
  EXPECT_EQ(response.userTraceData, "Lane7-0042");
}

TEST(LaneDocumentTest, ReadsTheCommandBlockOfAResultDocument) {
  const std::string document =
      "<?xml version=\"1.0\"?>\r\n<RStream>\r\n\t<CmdResponse>\r\n\t\t<ResponseOrigin>Processor</ResponseOrigin>\r\n"
      "\t\t<OPXXReturnCode>000000</OPXXReturnCode>\r\n\t\t<CmdStatus>Approved</CmdStatus>\r\n"
      "\t\t<TextResponse>AP</TextResponse>\r\n\t\t<UserTraceData></UserTraceData>\r\n\t</CmdResponse>\r\n"
      "\t<TranResponse>\r\n\t\t<TextResponse>not this one</TextResponse>\r\n\t</TranResponse>\r\n</RStream>\r\n";
  CommandResponse response;
  const Status parsed = ParseCommandResponse(document, response);
  ASSERT_TRUE(parsed.ok()) << parsed.message();
  EXPECT_EQ(response.returnCode, 0);
  EXPECT_EQ(response.cmdStatus, "Approved");
  EXPECT_EQ(response.textResponse, "AP");
  EXPECT_EQ(response.userTraceData, "");
}

TEST(LaneDocumentTest, DocumentsLackingAPartAreRefusedWithoutTouchingTheResult) {
  const std::string good = WholeDocument("Server", "002004", "Error", "****Disconnecting****", "");
  const auto without = [&good](const std::string& element) {
    std::string document = good;
    document.erase(document.find("<" + element + ">"), element.size() + 2);
    return document;
  };
  const struct {
    const char* what;
    std::string document;
  } cases[] = {
      {"not XML", "Queued:045:000"},
      {"no CmdResponse", "<?xml version=\"1.0\"?>\r\n<RStream>\r\n</RStream>\r\n"},
      {"no ResponseOrigin", without("ResponseOrigin")},
      {"no OPXXReturnCode", without("OPXXReturnCode")},
      {"no CmdStatus", without("CmdStatus")},
      {"no TextResponse", without("TextResponse")},
      {"no UserTraceData", without("UserTraceData")},
      {"five-digit code", WholeDocument("Server", "02004", "Error", "x", "")},
      {"code with a letter", WholeDocument("Server", "00200A", "Error", "x", "")},
  };
  for (const auto& c : cases) {
    CommandResponse response;
    response.textResponse = "unchanged";
    const Status parsed = ParseCommandResponse(c.document, response);
    EXPECT_FALSE(parsed.ok()) << c.what;
    EXPECT_FALSE(parsed.message().empty()) << c.what;
    EXPECT_EQ(response.textResponse, "unchanged") << c.what;
  }
}

TEST(LaneDocumentTest, RecognisesOnlyTheQueuedReply) {
  const struct {
    int code;
    const char* status;
    const char* text;
    bool queued;
  } cases[] = {
      {0, "Success", "Queued:045:000", true},
      {0, "Success", "Queued:045:1203", true},  // a count above 999 is not cut
      {0, "Success", "Queued:045:00", false},
      {0, "Success", "Queued:045000", false},
      {0, "Success", "Queued:04a:000", false},
      {0, "Success", "Login Verified.", false},
      {4015, "Error", "Queued:045:000", false},
      {0, "Error", "Queued:045:000", false},
  };
  for (const auto& c : cases) {
    CommandResponse response;
    response.returnCode = c.code;
    response.cmdStatus = c.status;
    response.textResponse = c.text;
    EXPECT_EQ(IsQueuedReply(response), c.queued) << c.text << " " << c.code;
  }
}

}  // namespace
}  // namespace paxelle::lane
