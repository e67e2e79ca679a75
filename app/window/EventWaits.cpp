#include "app/window/EventWaits.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <system_error>
#include <thread>

namespace paxelle {

void RunWhileDispatching(const std::function<void()>& step, const std::function<void()>& whileWaiting,
                         std::chrono::milliseconds slice) {
  QEventLoop loop;
  QTimer ticker;
  if (whileWaiting) {
    QObject::connect(&ticker, &QTimer::timeout, &loop, [&whileWaiting] { whileWaiting(); });
    ticker.start(static_cast<int>(slice.count()));
  }
  std::thread helper;
  try {
    // The loop's quit is queued to this thread: it runs inside exec below,
    // never before it, however soon the step ends.
    helper = std::thread([&step, &loop] {
      step();
      QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
  } catch (const std::system_error&) {
    step();
    return;
  }
  loop.exec();
  helper.join();
}

void PauseWhileDispatching(std::chrono::milliseconds duration) {
  QEventLoop loop;
  QTimer::singleShot(duration, &loop, &QEventLoop::quit);
  loop.exec();
}

bool WaitUntilExposed(QWidget& window, std::chrono::milliseconds limit) {
  const auto exposed = [&window] { return window.windowHandle() != nullptr && window.windowHandle()->isExposed(); };
  if (exposed()) return true;
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (exposed()) loop.quit();
  });
  check.start(5);
  QTimer::singleShot(limit, &loop, &QEventLoop::quit);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  return exposed();
}

}  // namespace paxelle
