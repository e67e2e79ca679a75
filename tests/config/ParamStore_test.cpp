#include "config/ParamStore.h"

#include "common/TrafficLog.h"
#include "tests/config/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

namespace paxelle {
namespace {

using testing::Listing;
using testing::Mode;
using testing::ReadBytes;
using testing::WriteBytes;
namespace fs = std::filesystem;

constexpr const char* kDefaultLine =
    "2;23;000000000000000;00000000;0;0;N;N;N;;N;Y;N;N;0400;0;1;;18005550199;3;0; ;1;00;0;";

CMerchantParams ConfiguredSet() {
  CMerchantParams set;
  EXPECT_TRUE(set.SetValue(kParamMerchantId, "123456789012345"));
  EXPECT_TRUE(set.SetValue(kParamTerminalId, "12345678"));
  EXPECT_TRUE(set.SetValue(kParamMerchantCategory, "4"));
  EXPECT_TRUE(set.SetValue(kParamEmvSupport, "2"));
  return set;
}

class ParamStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.Path().empty());
    path_ = dir_ / "config" / "params";
    store_.SetPath(path_);
  }

  fs::path Folder() const { return path_.parent_path(); }

  testing::TempDir dir_;
  fs::path path_;
  CParamStore store_;
};

TEST_F(ParamStoreTest, SaveWritesTheLinePrivatelyAndAnotherStoreLoadsIt) {
  const CMerchantParams set = ConfiguredSet();
  ASSERT_TRUE(store_.Save(set)) << store_.LastErrorText();
  EXPECT_EQ(ReadBytes(path_), set.Serialize()) << "exactly the line, nothing around it";
  EXPECT_EQ(Mode(path_), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Mode(Folder()), fs::perms::owner_all);
  EXPECT_EQ(Listing(Folder()), std::vector<std::string>{"params"}) << "no temporary file left";
  EXPECT_EQ(store_.GetParams(), set);

  CParamStore other;
  other.SetPath(path_);
  EXPECT_TRUE(other.Load());
  EXPECT_EQ(other.GetParams(), set);
  EXPECT_EQ(other.GetConfigurationState(), ConfigurationState::ParamsReady);
  EXPECT_EQ(other.LoadNotice(), "");
  EXPECT_EQ(ReadBytes(path_), set.Serialize()) << "a good line is read, not rewritten";
}

TEST_F(ParamStoreTest, ReplacingAFileKeepsItsModeButNothingForOthersAndLeavesNoTemporary) {
  fs::create_directories(Folder());
  WriteBytes(path_, "2;old;");
  fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                             fs::perms::others_read);
  ASSERT_TRUE(store_.Save(ConfiguredSet()));
  ASSERT_TRUE(store_.Save(CMerchantParams()));
  EXPECT_EQ(ReadBytes(path_), kDefaultLine);
  EXPECT_EQ(Mode(path_), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(Listing(Folder()), std::vector<std::string>{"params"});
}

TEST_F(ParamStoreTest, MissingOrEmptyFileGetsTheDefaultsStored) {
  for (const char* content : {static_cast<const char*>(nullptr), "", "\n"}) {
    SCOPED_TRACE(content == nullptr ? "missing" : "empty");
    fs::remove_all(Folder());
    if (content != nullptr) {
      fs::create_directories(Folder());
      WriteBytes(path_, content);
    }
    EXPECT_TRUE(store_.Load());
    EXPECT_EQ(store_.GetParams(), CMerchantParams());
    EXPECT_EQ(ReadBytes(path_), kDefaultLine);
    EXPECT_EQ(Listing(Folder()), std::vector<std::string>{"params"}) << "nothing to keep aside";
    EXPECT_EQ(store_.GetConfigurationState(), ConfigurationState::ParamsNotSet);
  }
}

TEST_F(ParamStoreTest, LineOfAnotherVersionIsKeptAsideBeforeTheDefaultsAreStored) {
  const std::string versionThree = "3;23;123456789012345;12345678;0;4;N;N;Y;secret;N;Y;N;N;0400;0;1;;"
                                   "18005550199;3;2; ;1;00;0;";
  fs::create_directories(Folder());
  WriteBytes(path_, versionThree);

  EXPECT_TRUE(store_.Load()) << store_.LastErrorText();
  EXPECT_EQ(store_.GetParams(), CMerchantParams());
  EXPECT_EQ(store_.GetConfigurationState(), ConfigurationState::ParamsNotSet);
  EXPECT_EQ(ReadBytes(path_), kDefaultLine);

  const std::vector<std::string> names = Listing(Folder());
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0], "params");
  ASSERT_EQ(names[1].rfind("params.unreadable-", 0), 0u) << names[1];
  EXPECT_EQ(names[1].size(), std::string("params.unreadable-YYYYMMDD-HHMMSS").size());
  EXPECT_EQ(ReadBytes(Folder() / names[1]), versionThree) << "the old line survives byte for byte";
  EXPECT_NE(store_.LoadNotice().find(names[1]), std::string::npos) << store_.LoadNotice();
  EXPECT_EQ(store_.LoadNotice().find("secret"), std::string::npos);
}

TEST_F(ParamStoreTest, KeptAsideLinesNeverReplaceEachOther) {
  fs::create_directories(Folder());
  for (const char* line : {"3;first;", "4;second;", "x"}) {
    WriteBytes(path_, line);
    EXPECT_TRUE(store_.Load());
  }
  std::vector<std::string> kept;
  for (const std::string& name : Listing(Folder())) {
    if (name != "params") kept.push_back(ReadBytes(Folder() / name));
  }
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(kept, (std::vector<std::string>{"3;first;", "4;second;", "x"}));
}

TEST_F(ParamStoreTest, FailingValueInAStoredLineKeepsItsDefault) {
  fs::create_directories(Folder());
  WriteBytes(path_, "2;23;12345;");
  EXPECT_TRUE(store_.Load());
  EXPECT_EQ(store_.GetParams(), CMerchantParams());
  // The merchant number failed its check: nothing may run under the default one.
  EXPECT_EQ(store_.GetConfigurationState(), ConfigurationState::ParamsInvalid);
  EXPECT_EQ(RefusedIdentityText(store_.GetParams()),
            "entry 1 MERCHANT ID, entry 2 TERMINAL ID, entry 3 CHECK DIGIT, entry 7 USE TOLA CLIENT/SERVER PASSWORD");
  EXPECT_EQ(ReadBytes(path_), "2;23;12345;") << "a readable line is not rewritten by Load";
}

TEST_F(ParamStoreTest, HandEditedLineEndIsIgnored) {
  fs::create_directories(Folder());
  const CMerchantParams set = ConfiguredSet();
  WriteBytes(path_, set.Serialize() + "\r\n");
  EXPECT_TRUE(store_.Load());
  EXPECT_EQ(store_.GetParams(), set);
}

TEST_F(ParamStoreTest, FileThatCannotBeReadIsNeitherReplacedNorKeptAside) {
  fs::create_directories(path_);  // a directory where the file should be
  EXPECT_FALSE(store_.Load());
  EXPECT_EQ(store_.LastErrorCode(), kParamErrorRead);
  EXPECT_FALSE(store_.LoadNotice().empty());
  EXPECT_EQ(store_.GetParams(), CMerchantParams());
  // The defaults are in use, but the file is there: it must not pass for one never set.
  EXPECT_EQ(store_.GetConfigurationState(), ConfigurationState::ParamsUnreadable);
  EXPECT_EQ(store_.ReadFailure(), path_.string() + " is not a regular file");
  EXPECT_TRUE(fs::is_directory(path_));
  EXPECT_EQ(Listing(Folder()), std::vector<std::string>{"params"});

  EXPECT_FALSE(store_.Save(ConfiguredSet()));
  EXPECT_EQ(store_.LastErrorCode(), kParamErrorWrite);
  EXPECT_EQ(Listing(Folder()), std::vector<std::string>{"params"}) << "no temporary left behind";
}

TEST_F(ParamStoreTest, SemicolonInAValueIsRefusedAndNothingChanges) {
  const CMerchantParams before = ConfiguredSet();
  ASSERT_TRUE(store_.Save(before));
  const std::string bytes = ReadBytes(path_);

  CMerchantParams set = before;
  ASSERT_TRUE(set.SetValue(kParamPartnerName, "Smith;Jones")) << "the type itself allows \";\"";
  EXPECT_FALSE(store_.Save(set));
  EXPECT_EQ(store_.LastErrorCode(), kParamErrorSemicolon);
  EXPECT_NE(store_.LastErrorText().find("PARTNER NAME"), std::string::npos) << store_.LastErrorText();
  EXPECT_EQ(store_.GetParams(), before);
  EXPECT_EQ(ReadBytes(path_), bytes);

  set = before;
  ASSERT_TRUE(set.SetValue(kParamPassword, "pa;ss"));
  EXPECT_FALSE(store_.Save(set));
  EXPECT_EQ(store_.LastErrorCode(), kParamErrorSemicolon);
  EXPECT_EQ(store_.LastErrorText().find("pa;ss"), std::string::npos) << "the password is not shown";
  EXPECT_EQ(ReadBytes(path_), bytes);
}

TEST_F(ParamStoreTest, OverlongLineIsRefusedAndNothingChanges) {
  ASSERT_TRUE(store_.Save(ConfiguredSet()));
  const std::string bytes = ReadBytes(path_);
  // The table's own limits keep a line below 500; a wider rule could not.
  std::map<int, CParamEntry> entries = CMerchantParams().Entries();
  entries[kParamLaneIds] = CParamEntry{"LANE IDS", std::string(600, '1'), CParamSpec("AN2", 1, 600)};
  const CMerchantParams wide(entries, "2");
  ASSERT_GT(wide.Serialize().size(), 500u);

  EXPECT_FALSE(store_.Save(wide));
  EXPECT_EQ(store_.LastErrorCode(), kParamErrorOverflow);
  EXPECT_EQ(store_.LastErrorText(), "Param Settings would overflow");
  EXPECT_EQ(store_.GetParams(), ConfiguredSet());
  EXPECT_EQ(ReadBytes(path_), bytes);

  ASSERT_TRUE(store_.Save(CMerchantParams()));
  EXPECT_EQ(store_.LastErrorCode(), kParamErrorNone) << "a successful Save clears the last error";
}

TEST_F(ParamStoreTest, FailedWriteReportsTheSystemErrorAndKeepsTheSet) {
  ASSERT_TRUE(store_.Save(ConfiguredSet()));
  WriteBytes(dir_ / "plain-file", "x");
  store_.SetPath(dir_ / "plain-file" / "params");  // the parent is not a directory

  EXPECT_FALSE(store_.Save(CMerchantParams()));
  EXPECT_EQ(store_.LastErrorCode(), kParamErrorWrite);
  EXPECT_NE(store_.LastErrorText().find("Not a directory"), std::string::npos) << store_.LastErrorText();
  EXPECT_EQ(store_.GetParams(), ConfiguredSet());
  EXPECT_FALSE(store_.ResetToDefaults());
  EXPECT_EQ(store_.GetParams(), ConfiguredSet());
}

TEST_F(ParamStoreTest, ResetToDefaultsStoresAndUsesTheDefaults) {
  ASSERT_TRUE(store_.Save(ConfiguredSet()));
  EXPECT_TRUE(store_.ResetToDefaults());
  EXPECT_EQ(store_.GetParams(), CMerchantParams());
  EXPECT_EQ(ReadBytes(path_), kDefaultLine);
}

TEST_F(ParamStoreTest, ConfigurationStateComparesWithTheDefaults) {
  EXPECT_EQ(store_.GetConfigurationState(), ConfigurationState::ParamsNotSet) << "a new store";
  ASSERT_TRUE(store_.Save(ConfiguredSet()));
  EXPECT_EQ(store_.GetConfigurationState(), ConfigurationState::ParamsReady);

  const CMerchantParams otherVersion(CMerchantParams().Entries(), "3");
  ASSERT_TRUE(store_.Save(otherVersion));
  EXPECT_EQ(store_.GetConfigurationState(), ConfigurationState::ParamsUnreadable);

  // The defaults are "not set" even though every value in them is valid.
  ASSERT_TRUE(store_.Save(CMerchantParams()));
  EXPECT_EQ(store_.GetConfigurationState(), ConfigurationState::ParamsNotSet);
}

TEST_F(ParamStoreTest, ReadersSeeWholeSetsWhileTheyAreReplaced) {
  const CMerchantParams first = ConfiguredSet();
  const CMerchantParams second;
  ASSERT_TRUE(store_.Save(first));
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < 3; ++i) {
    readers.emplace_back([&] {
      while (!done) {
        const CMerchantParams seen = store_.GetParams();
        if (seen != first && seen != second) ++torn;
      }
    });
  }
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(store_.Save(i % 2 == 0 ? second : first));
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(ReadBytes(path_), first.Serialize());
  EXPECT_EQ(store_.GetParams(), first);
}

TEST_F(ParamStoreTest, WhatLoadHadToDoGoesToTheStoresLog) {
  fs::create_directories(dir_ / "logs");
  CTrafficLog log((dir_ / "logs").string(), SystemNow, std::chrono::seconds(10));
  CParamStore logged(&log);
  logged.SetPath(path_);
  fs::create_directories(Folder());
  WriteBytes(path_, "3;old;");
  EXPECT_TRUE(logged.Load());
  ASSERT_TRUE(log.WaitUntilWritten(std::chrono::seconds(10)));
  std::string content;
  for (const auto& file : fs::directory_iterator(dir_ / "logs")) content += ReadBytes(file.path());
  EXPECT_NE(content.find(logged.LoadNotice()), std::string::npos) << content;
}

TEST(DefaultParamsPath, FollowsTheConfigurationHome) {
  const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
  const char* savedHome = std::getenv("HOME");
  const std::string configCopy = savedConfig != nullptr ? savedConfig : "";
  const std::string homeCopy = savedHome != nullptr ? savedHome : "";

  ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(DefaultParamsPath(), fs::path("/cfg/Kelvara Applications/Paxelle/params"));
  ::setenv("XDG_CONFIG_HOME", "relative", 1);
  ::setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(DefaultParamsPath(), fs::path("/home/someone/.config/Kelvara Applications/Paxelle/params"));
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(DefaultParamsPath(), fs::path("/home/someone/.config/Kelvara Applications/Paxelle/params"));

  if (savedConfig != nullptr) ::setenv("XDG_CONFIG_HOME", configCopy.c_str(), 1);
  if (savedHome != nullptr) ::setenv("HOME", homeCopy.c_str(), 1);
  else ::unsetenv("HOME");
}

}  // namespace
}  // namespace paxelle
