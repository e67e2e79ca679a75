// Who may read the parameter file after it is written: the file it replaces
// keeps its owner, group and mode; a new one takes its directory's group; and
// the server writes nothing where another user keeps the file. Real files and
// directories; the cases that hand files to another user need root.
#include "config/ParamStore.h"
#include "config/PrivateFile.h"
#include "tests/config/TempDir.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>

namespace paxelle {
namespace {

namespace fs = std::filesystem;
using testing::Listing;
using testing::ReadBytes;
using testing::WriteBytes;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

struct Owner {
  uid_t uid;
  gid_t gid;
  mode_t mode;
  bool operator==(const Owner&) const = default;
};

Owner OwnerOf(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return {status.st_uid, status.st_gid, static_cast<mode_t>(status.st_mode & 07777)};
}

void PrintTo(const Owner& owner, std::ostream* out) {
  *out << owner.uid << ":" << owner.gid << " " << std::oct << owner.mode << std::dec;
}

class ConfigFileAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.Path().empty());
    folder_ = dir_ / "etc";
    ASSERT_TRUE(fs::create_directory(folder_));
    ASSERT_EQ(::chmod(folder_.c_str(), 0750), 0);
    path_ = folder_ / "params";
  }
  static bool Root() { return ::geteuid() == 0; }

  testing::TempDir dir_;
  fs::path folder_;
  fs::path path_;
};

TEST_F(ConfigFileAccessTest, TheWrittenFileBelongsToWhoeverMayReadTheOneBefore) {
  const uid_t me = ::geteuid();
  const gid_t mine = ::getegid();
  struct Case {
    const char* name;
    std::optional<Owner> folder;  // set on the directory first (root only when foreign)
    std::optional<Owner> before;  // the file being replaced, if any
    Owner after;
  } const cases[] = {
      // `sudo paxelle params set` on the service's file: it stays root:paxelle 0640.
      {"replaced, another owner and group", Owner{me, mine, 0750}, Owner{kNobody, kNogroup, 0640},
       {kNobody, kNogroup, 0640}},
      {"replaced, own, group may write", Owner{me, mine, 0750}, Owner{me, mine, 0660}, {me, mine, 0660}},
      {"replaced, others may read", Owner{me, mine, 0750}, Owner{me, mine, 0644}, {me, mine, 0640}},
      {"replaced, executable", Owner{me, mine, 0750}, Owner{me, mine, 0755}, {me, mine, 0640}},
      // A new file where a service reads through the directory's group.
      {"new, in a directory of another group", Owner{me, kNogroup, 0750}, std::nullopt, {me, kNogroup, 0640}},
      {"new, in a directory of another user", Owner{kNobody, kNogroup, 0750}, std::nullopt, {me, kNogroup, 0640}},
      {"new, in the user's own directory", Owner{me, mine, 0700}, std::nullopt, {me, mine, 0600}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool foreign = (c.folder && (c.folder->uid != me || c.folder->gid != mine)) ||
                         (c.before && (c.before->uid != me || c.before->gid != mine));
    if (foreign && !Root()) continue;  // only root may hand files to others
    fs::remove(path_);
    ASSERT_EQ(::chown(folder_.c_str(), c.folder->uid, c.folder->gid), 0);
    ASSERT_EQ(::chmod(folder_.c_str(), c.folder->mode), 0);
    if (c.before) {
      WriteBytes(path_, "2;old;");
      ASSERT_EQ(::chown(path_.c_str(), c.before->uid, c.before->gid), 0);
      ASSERT_EQ(::chmod(path_.c_str(), c.before->mode), 0);
    }
    const Status replaced = ReplaceConfigFile(path_, "2;new;");
    ASSERT_TRUE(replaced.ok()) << replaced.message();
    EXPECT_EQ(ReadBytes(path_), "2;new;");
    EXPECT_EQ(OwnerOf(path_), c.after);
    EXPECT_EQ(Listing(folder_), std::vector<std::string>{"params"}) << "no temporary left";
  }
  if (!Root()) GTEST_SKIP() << "the cases with another owner or group need root";
}

// What the server does with a parameter file another user keeps (the service's
// /etc/paxelle is root's): it reads, never writes, and says why it cannot use it.
TEST_F(ConfigFileAccessTest, TheServerWritesNothingWhereAnotherUserKeepsTheFile) {
  if (!Root()) GTEST_SKIP() << "a directory of another user needs root";
  ASSERT_EQ(::chown(folder_.c_str(), kNobody, kNogroup), 0);
  CParamStore store;
  store.SetPath(path_);
  const std::string versionThree = "3;23;123456789012345;";
  const struct {
    const char* name;
    std::optional<std::string> line;
    bool loaded;
    ConfigurationState state;
    std::string failure;
  } cases[] = {
      {"no file", std::nullopt, true, ConfigurationState::ParamsNotSet, ""},
      {"an empty file", std::string(), true, ConfigurationState::ParamsNotSet, ""},
      {"another version's line", versionThree, false, ConfigurationState::ParamsUnreadable,
       path_.string() + ": the stored line is not one this version can read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(path_);
    if (c.line) WriteBytes(path_, *c.line);
    EXPECT_EQ(store.Load(LoadWrites::kOwnDirectoryOnly), c.loaded);
    EXPECT_EQ(store.GetParams(), CMerchantParams()) << "the defaults, in memory";
    EXPECT_EQ(store.GetConfigurationState(), c.state);
    EXPECT_EQ(store.ReadFailure(), c.failure);
    EXPECT_EQ(Listing(folder_), c.line ? std::vector<std::string>{"params"} : std::vector<std::string>{})
        << "nothing stored, nothing kept aside";
    if (c.line) {
      EXPECT_EQ(ReadBytes(path_), *c.line);
    }
  }

  // The params commands write for whoever runs them, keeping the owner.
  WriteBytes(path_, versionThree);
  ASSERT_TRUE(store.Load(LoadWrites::kAllowed));
  EXPECT_EQ(ReadBytes(path_), CMerchantParams().Serialize());
  EXPECT_EQ(store.ReadFailure(), "");
  EXPECT_EQ(store.GetConfigurationState(), ConfigurationState::ParamsNotSet);
}

TEST_F(ConfigFileAccessTest, TheServerStillStoresTheDefaultsInItsOwnDirectory) {
  CParamStore store;
  store.SetPath(dir_ / "home" / "Paxelle" / "params");  // not there yet: made as the user's own
  EXPECT_TRUE(store.Load(LoadWrites::kOwnDirectoryOnly)) << store.LastErrorText();
  EXPECT_EQ(ReadBytes(dir_ / "home" / "Paxelle" / "params"), CMerchantParams().Serialize());
  EXPECT_EQ(OwnerOf(dir_ / "home" / "Paxelle" / "params"), (Owner{::geteuid(), ::getegid(), 0600}));
}

// A user who may write the directory but not give the file back to its owner
// leaves it as it was: a file the service could no longer read is worse.
TEST_F(ConfigFileAccessTest, AFileWhoseOwnerCannotBeKeptIsNotReplaced) {
  if (!Root()) GTEST_SKIP() << "a file of another user in a directory this user may write needs root";
  ASSERT_EQ(::chmod(dir_.Path().c_str(), 0711), 0);
  ASSERT_EQ(::chown(folder_.c_str(), kNobody, kNogroup), 0);
  WriteBytes(path_, "2;old;");
  ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The replacement as "nobody", who owns the directory but not the file.
    const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(kNogroup) == 0 && ::setuid(kNobody) == 0;
    const Status status = dropped ? ReplaceConfigFile(path_, "2;new;") : Status::Failure("");
    const bool replaced = status.ok();
    const std::string& error = status.message();
    const std::string message = (dropped ? "" : "could not drop to nobody") + std::string(replaced ? "replaced" : error);
    (void)!::write(report[1], message.data(), message.size());
    ::_exit(0);
  }
  ::close(report[1]);
  std::string message;
  char buffer[512];
  for (ssize_t got; (got = ::read(report[0], buffer, sizeof buffer)) > 0;) message.append(buffer, got);
  ::close(report[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_NE(message.find("Cannot give the new " + path_.string() + " the owner root (0) and group root (0)"),
            std::string::npos)
      << message;
  EXPECT_EQ(ReadBytes(path_), "2;old;");
  EXPECT_EQ(OwnerOf(path_), (Owner{0, 0, 0640}));
  EXPECT_EQ(Listing(folder_), std::vector<std::string>{"params"}) << "no temporary left";
}

}  // namespace
}  // namespace paxelle
