#include "common/LogAger.h"

#include <system_error>

namespace paxelle {

CLogAger::CLogAger(std::string directory, LogRetention retention, WallClock clock, LogSink log,
                   std::chrono::milliseconds recheck)
    : directory_(std::move(directory)),
      retention_(retention),
      clock_(std::move(clock)),
      log_(std::move(log)),
      recheck_(recheck) {}

CLogAger::~CLogAger() { Stop(); }

bool CLogAger::Start() {
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void CLogAger::Stop() {
  stop_.Set();
  if (thread_.joinable()) thread_.join();
}

bool CLogAger::WaitForPasses(int passes, std::chrono::milliseconds timeout) {
  MutexLock lock(mutex_);
  return passEnded_.wait_for(mutex_, timeout, [&]() REQUIRES(mutex_) { return passes_ >= passes; });
}

void CLogAger::Run() {
  long lastDay = 0;
  bool first = true;
  do {
    const long today = LocalDay(clock_());
    if (first || today != lastDay) Pass(today);
    first = false;
    lastDay = today;
  } while (!stop_.Wait(recheck_));
}

void CLogAger::Pass(long today) {
  const AgingResult result = AgeLogFiles(directory_, today, retention_, [this] { return stop_.IsSet(); });
  if (const std::string report = AgingReport(result, retention_); !report.empty()) log_(report);
  for (const std::string& failure : result.failures) log_("Traffic log ageing: " + failure);
  {
    MutexLock lock(mutex_);
    ++passes_;
  }
  passEnded_.notify_all();
}

std::string AgingReport(const AgingResult& result, const LogRetention& retention) {
  if (result.compressed.empty() && result.removed.empty()) return {};
  std::string report = "Traffic logs aged:";
  if (!result.compressed.empty()) {
    report += " " + std::to_string(result.compressed.size()) + " compressed (older than " +
              std::to_string(retention.compressAfterDays) + " days)";
  }
  if (!result.removed.empty()) {
    if (!result.compressed.empty()) report += ",";
    report += " " + std::to_string(result.removed.size()) + " removed (older than " +
              std::to_string(retention.keepDays) + " days)";
  }
  return report + ".";
}

}  // namespace paxelle
