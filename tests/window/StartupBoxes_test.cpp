// A stop signal answers the boxes that open before the main loop (a second
// instance, the log directory, a fatal start-up failure) as it answers the
// others: the box goes at once and the program ends.
#include "app/Application.h"
#include "app/ServerOptions.h"
#include "app/window/WindowFrontEnd.h"
#include "tests/e2e/E2eFixture.h"
#include "tests/window/WindowTestSupport.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>

namespace paxelle {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A box still open this long after the signal was not answered by it; the
// test then closes it itself, so that a failure does not hang.
constexpr milliseconds kAnswerBound{3000};
constexpr milliseconds kGiveUp{8000};

struct StartupBoxCase {
  const char* name;
  const char* boxText;
  // Arranges the failure in the working directory; returns what must stay
  // alive until the run has ended.
  std::function<std::shared_ptr<void>(const std::filesystem::path& dir, std::vector<std::string>& args)> arrange;
  int exitCode;
};

class StartupBoxesTest : public e2e::E2eTest {};

TEST_F(StartupBoxesTest, AStopSignalAnswersEveryBoxShownBeforeTheMainLoop) {
  const std::vector<StartupBoxCase> cases = {
      {"second instance", "Only one instance of OPX WorldPay TCPIP may be run at a time!",
       [](const std::filesystem::path& dir, std::vector<std::string>&) -> std::shared_ptr<void> {
         // Another server holds the instance lock.
         const int fd = ::open((dir / "OpxWorldPayTCPIP.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
         EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
         return std::shared_ptr<void>(nullptr, [fd](void*) { ::close(fd); });
       },
       1},
      {"log directory", "Unable to create Log Directory - logging disabled!",
       [](const std::filesystem::path& dir, std::vector<std::string>&) -> std::shared_ptr<void> {
         std::ofstream(dir / "KELVARA_LOGS") << "a file where the directory should be\n";
         return nullptr;
       },
       0},
      {"fatal TLS start", "Could Not Start SSPI \nEnsure that 128 bit encryption is installed.- FATAL Error!!",
       [](const std::filesystem::path& dir, std::vector<std::string>& args) -> std::shared_ptr<void> {
         std::ofstream(dir / "not-a-ca.pem") << "no certificate here\n";
         args.insert(args.end(), {"--host-ca", (dir / "not-a-ca.pem").string()});
         return nullptr;
       },
       1},
  };
  Provision({"9=Y"});
  for (const StartupBoxCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path dir = WorkDir() / c.name;
    std::filesystem::create_directories(dir);
    std::vector<std::string> args = {"--workdir", dir.string(), "--params", (Dir() / "params").string(),
                                     "--keystore", (Dir() / "keys").string(), "--client-port",
                                     std::to_string(e2e::FreeLoopbackPort())};
    const std::shared_ptr<void> arranged = c.arrange(dir, args);
    ServerOptions options;
    const Status parsed = ParseServerOptions(args, options);
    ASSERT_TRUE(parsed.ok()) << parsed.message();

    WindowFrontEnd window(QString::fromStdString(options.params.string()));
    COpxWorldPayIP_HostApp app(options, window, std::cerr);
    std::string boxText;
    std::optional<Clock::time_point> signalled;
    std::optional<Clock::time_point> boxGone;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!signalled) {
        if (box == nullptr || !box->isVisible()) return;
        boxText = box->text().toStdString();
        signalled = Clock::now();
        ::pthread_kill(::pthread_self(), SIGTERM);
        return;
      }
      if (!boxGone && box == nullptr) boxGone = Clock::now();
      if (box != nullptr && Clock::now() - *signalled > kGiveUp) box->done(QMessageBox::Ok);
    });
    watch.start(5);
    const int exitCode = app.Run();
    const Clock::time_point ended = Clock::now();
    watch.stop();

    EXPECT_EQ(boxText, c.boxText);
    ASSERT_TRUE(signalled);
    const auto took = std::chrono::duration_cast<milliseconds>((boxGone ? *boxGone : ended) - *signalled);
    EXPECT_LT(took, kAnswerBound) << "the box stayed " << took.count() << " ms after SIGTERM";
    EXPECT_LT(ended - *signalled, kAnswerBound + milliseconds(2000)) << "the program went on after SIGTERM";
    EXPECT_EQ(exitCode, c.exitCode);
    EXPECT_FALSE(QApplication::activeModalWidget());
  }
}

}  // namespace
}  // namespace paxelle
