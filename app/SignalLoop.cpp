#include "app/SignalLoop.h"

#include "common/SystemErrorText.h"
#include "common/TimeLimits.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

namespace paxelle {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

sigset_t LoopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

Status SignalLoop::Open() {
  // Writes to a closed socket must fail with EPIPE, never end the process.
  ::signal(SIGPIPE, SIG_IGN);
  const sigset_t set = LoopSignals();
  if (const int error = ::pthread_sigmask(SIG_BLOCK, &set, nullptr); error != 0) {
    return Status::Failure("cannot block the stop signals: " + SystemErrorText(error));
  }
  signalFd_.Reset(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
  if (!signalFd_.IsValid()) return Status::Failure("signalfd: " + SystemErrorText(errno));
  if (!wakeFd_.Open()) return Status::Failure("eventfd: " + SystemErrorText(errno));
  return Status::Ok();
}

void SignalLoop::Post(std::function<void()> task) {
  {
    MutexLock lock(tasksMutex_);
    tasks_.push_back(std::move(task));
  }
  wakeFd_.Signal();
}

void SignalLoop::WaitForSignals(milliseconds timeout) {
  pollfd watched[2] = {{signalFd_.Get(), POLLIN, 0}, {wakeFd_.Fd(), POLLIN, 0}};
  if (::poll(watched, 2, PollTimeout(timeout)) <= 0) return;
  if (watched[0].revents & POLLIN) {
    signalfd_siginfo info;
    while (::read(signalFd_.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      if (info.ssi_signo == SIGHUP) {
        restartPending_ = true;
      } else {
        stopPending_ = true;
      }
    }
  }
  // Only wakes the poll; Run looks at the task queue itself.
  if (watched[1].revents & POLLIN) wakeFd_.Drain();
}

SignalLoop::ArrivedSignals SignalLoop::TakeSignals() {
  WaitForSignals(milliseconds(0));
  const ArrivedSignals arrived{stopPending_, restartPending_};
  stopPending_ = false;
  restartPending_ = false;
  return arrived;
}

bool SignalLoop::Pause(milliseconds duration) {
  const auto end = Clock::now() + duration;
  while (!stopPending_ && !restartPending_) {
    const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now());
    if (left.count() <= 0) break;
    WaitForSignals(left);
  }
  return !stopPending_ && !restartPending_;
}

void SignalLoop::RunPostedTasks() {
  while (!quit_ && !stopPending_ && !restartPending_) {
    std::function<void()> task;
    {
      MutexLock lock(tasksMutex_);
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

int SignalLoop::Run(const Handlers& handlers, milliseconds tickPeriod) {
  quit_ = false;
  exitCode_ = 0;
  auto nextTick = Clock::now() + tickPeriod;
  for (;;) {
    if (stopPending_) {
      stopPending_ = false;
      restartPending_ = false;
      if (!handlers.stop || handlers.stop()) return 0;
      continue;
    }
    if (quit_) return exitCode_;
    if (restartPending_) {
      restartPending_ = false;
      if (handlers.restart) handlers.restart();
      nextTick = Clock::now() + tickPeriod;
      continue;
    }
    RunPostedTasks();
    if (quit_ || stopPending_ || restartPending_) continue;
    if (Clock::now() >= nextTick) {
      if (handlers.tick) handlers.tick();
      nextTick = Clock::now() + tickPeriod;
      continue;
    }
    WaitForSignals(std::chrono::duration_cast<milliseconds>(nextTick - Clock::now()) + milliseconds(1));
  }
}

void SignalLoop::Quit(int exitCode) {
  quit_ = true;
  exitCode_ = exitCode;
}

}  // namespace paxelle
