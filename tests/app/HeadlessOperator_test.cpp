#include "app/HeadlessOperator.h"

#include "app/TrafficView.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace paxelle {
namespace {

using std::chrono::milliseconds;

class HeadlessOperatorTest : public ::testing::Test {
 protected:
  HeadlessOperator& Operator(HeadlessPolicy policy = {}) {
    operator_ = std::make_unique<HeadlessOperator>(
        out_, err_,
        [this](milliseconds duration) {
          pauses_.push_back(duration);
          return !interrupted_;
        },
        [this](const std::string& text) { logged_.push_back(text); }, policy);
    return *operator_;
  }

  std::ostringstream out_;
  std::ostringstream err_;
  std::vector<milliseconds> pauses_;
  std::vector<std::string> logged_;
  bool interrupted_ = false;
  std::unique_ptr<HeadlessOperator> operator_;
};

TEST_F(HeadlessOperatorTest, MessagesGoToStandardErrorAndTheLog) {
  const std::string text =
      "Could Not Start Crypto API \r\nEnsure that 128 bit encryption is installed.- FATAL Error!!";
  Operator().ShowMessage(text);
  EXPECT_EQ(err_.str(),
            "paxelle: Could Not Start Crypto API \nEnsure that 128 bit encryption is installed.- FATAL Error!!\n");
  EXPECT_EQ(logged_, std::vector<std::string>{text}) << "the log keeps the exact text";
  EXPECT_EQ(out_.str(), "");
}

TEST_F(HeadlessOperatorTest, NoticesAndWaitTextsAreNotLogged) {
  HeadlessOperator& headless = Operator();
  headless.ShowNotice("Parameter line could not be read; kept as x, defaults stored.");
  headless.ShowWait();
  headless.SetWaitText("Attempting to Connect to WorldPay  ...");
  headless.CloseWait();
  EXPECT_EQ(err_.str(),
            "paxelle: Parameter line could not be read; kept as x, defaults stored.\n"
            "paxelle: Attempting to Connect to WorldPay  ...\n");
  EXPECT_TRUE(logged_.empty());
}

TEST_F(HeadlessOperatorTest, RetryIsAnsweredYesEveryTenSecondsThirtyTimes) {
  HeadlessOperator& headless = Operator();
  headless.ShowWait();
  const std::string question = "Failed to Connect to WorldPay!\nrefused\r\n   Retry?";
  for (int i = 0; i < 30; ++i) ASSERT_TRUE(headless.AskYesNo(OperatorQuestion::kRetryHostStart, question)) << i;
  EXPECT_FALSE(headless.AskYesNo(OperatorQuestion::kRetryHostStart, question));
  EXPECT_EQ(pauses_, std::vector<milliseconds>(30, milliseconds(10000)));
  EXPECT_NE(err_.str().find("paxelle: Failed to Connect to WorldPay!\nrefused\n   Retry?\n"), std::string::npos);
  EXPECT_NE(err_.str().find("Retrying in 10 s (1 of 30)."), std::string::npos);
  EXPECT_NE(err_.str().find("Retrying in 10 s (30 of 30)."), std::string::npos);
  EXPECT_EQ(logged_.back(), "Answered No after 30 retries.");
  EXPECT_EQ(logged_.front(), question);

  headless.ShowWait();
  EXPECT_TRUE(headless.AskYesNo(OperatorQuestion::kRetryHostStart, question)) << "a new sequence retries again";
}

TEST_F(HeadlessOperatorTest, RetryPolicyIsInjectable) {
  HeadlessOperator& headless = Operator({milliseconds(20), 2});
  headless.ShowWait();
  EXPECT_TRUE(headless.AskYesNo(OperatorQuestion::kRetryHostStart, "x\r\n   Retry?"));
  EXPECT_TRUE(headless.AskYesNo(OperatorQuestion::kRetryHostStart, "x\r\n   Retry?"));
  EXPECT_FALSE(headless.AskYesNo(OperatorQuestion::kRetryHostStart, "x\r\n   Retry?"));
  EXPECT_EQ(pauses_, (std::vector<milliseconds>{milliseconds(20), milliseconds(20)}));
}

TEST_F(HeadlessOperatorTest, AStopDuringTheRetryPauseAnswersNo) {
  HeadlessOperator& headless = Operator();
  interrupted_ = true;
  EXPECT_FALSE(headless.AskYesNo(OperatorQuestion::kRetryHostStart, "x\r\n   Retry?"));
  EXPECT_EQ(pauses_.size(), 1u);
}

TEST_F(HeadlessOperatorTest, StopQuestionIsAnsweredYesAtOnce) {
  HeadlessOperator& headless = Operator();
  const std::string question = "There are Client connections in Process.\rAre you SURE you want to do this?\r\r";
  EXPECT_TRUE(headless.AskYesNo(OperatorQuestion::kStopWithClients, question));
  EXPECT_TRUE(pauses_.empty());
  EXPECT_EQ(logged_, std::vector<std::string>{question});
  EXPECT_EQ(err_.str().rfind("paxelle: There are Client connections in Process.\nAre you SURE you want to do this?\n",
                             0),
            0u);
}

TEST_F(HeadlessOperatorTest, TitlesArePrintedWhenTheirCountsChange) {
  HeadlessOperator& headless = Operator();
  headless.ShowOfflineTitle();
  headless.ShowOfflineTitle();
  headless.SetStatusTitle("running 0 0 10:00:00", 0, 0);
  headless.SetStatusTitle("running 0 0 10:00:01", 0, 0);
  headless.SetStatusTitle("running 1 0 10:00:02", 1, 0);
  headless.SetStatusTitle("running 1 1 10:00:03", 1, 1);
  headless.SetStatusTitle("running 1 1 10:00:04", 1, 1);
  headless.NoteInterfacesStopped();
  headless.ShowOfflineTitle();
  headless.SetStatusTitle("running 1 1 10:00:09", 1, 1);
  EXPECT_EQ(out_.str(), std::string(kOfflineTitle) + "\n" +
                            "running 0 0 10:00:00\n"
                            "running 1 0 10:00:02\n"
                            "running 1 1 10:00:03\n" +
                            kOfflineTitle + "\n" + "running 1 1 10:00:09\n");
  EXPECT_TRUE(logged_.empty());
}

// On the journal every message is one entry, behind its priority: what stops
// the server is an error, what it works around a warning, its steps are news.
TEST_F(HeadlessOperatorTest, OnTheJournalEachMessageIsOneEntryWithItsPriority) {
  const struct {
    const char* name;
    std::function<void(HeadlessOperator&)> call;
    std::string err;
  } cases[] = {
      {"message", [](HeadlessOperator& o) { o.ShowMessage("Could Not Start SSPI \r\nEnsure that 128 bit ..."); },
       "<3>Could Not Start SSPI Ensure that 128 bit ...\n"},
      {"notice", [](HeadlessOperator& o) { o.ShowNotice("Entry 4 MERCHANT CATEGORY failed its check."); },
       "<4>Entry 4 MERCHANT CATEGORY failed its check.\n"},
      {"wait text", [](HeadlessOperator& o) { o.SetWaitText("Attempting to Connect to WorldPay  ..."); },
       "<6>Attempting to Connect to WorldPay  ...\n"},
      {"host retry",
       [](HeadlessOperator& o) {
         o.ShowWait();
         o.AskYesNo(OperatorQuestion::kRetryHostStart, "Failed to Connect to WorldPay!\nrefused\r\n   Retry?");
       },
       "<3>Failed to Connect to WorldPay! refused Retry?\n<6>Retrying in 10 s (1 of 30).\n"},
      {"stop question",
       [](HeadlessOperator& o) {
         o.AskYesNo(OperatorQuestion::kStopWithClients,
                    "There are Client connections in Process.\rAre you SURE you want to do this?\r\r");
       },
       "<4>There are Client connections in Process. Are you SURE you want to do this?\n"
       "<6>Answered Yes: the server is stopping.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    err_.str("");
    HeadlessPolicy policy;
    policy.journal = true;
    c.call(Operator(policy));
    EXPECT_EQ(err_.str(), c.err);
  }
}

TEST_F(HeadlessOperatorTest, TrafficRowsGoToStandardOutput) {
  HeadlessOperator& headless = Operator();
  headless.AddTrafficRow("[12/08/15 14:03:22] Sending Auth Request (IP) to WorldPay.");
  EXPECT_EQ(out_.str(), "[12/08/15 14:03:22] Sending Auth Request (IP) to WorldPay.\n");
  EXPECT_EQ(err_.str(), "");
}

}  // namespace
}  // namespace paxelle
