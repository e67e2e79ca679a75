#include "client/LaneLog.h"

#include "common/CardDataMask.h"
#include "common/ControlCharacters.h"
#include "common/LogText.h"
#include "common/TimeLimits.h"
#include "common/TrafficLog.h"

namespace paxelle {
namespace {

bool IsEncryptedFrame(std::string_view frame) {
  return frame.size() >= 2 && frame[0] == kFs && (frame[1] == '2' || frame[1] == 'M');
}

}  // namespace

CLaneLog::CLaneLog(CTrafficLog& log, SteadyNow now) : log_(log), now_(std::move(now)) {}

void CLaneLog::Request(std::string_view payload) {
  // Masked before the control characters are shown as text: the masks find a
  // field's end by its FS.
  const std::string text = ClipLoggedText(EscapeControls(MaskLogText(MaskRequestFields(payload))));
  if (!Admit(text.size())) return;
  log_.Log("Request ->[%s] from %s", text.c_str(), address_.c_str());
}

void CLaneLog::Sent(std::string_view frame, bool failed) {
  const std::string text = IsEncryptedFrame(frame)
                               ? std::string(frame)
                               : ClipLoggedLines(EscapeDocumentControls(MaskLogText(frame)));
  if (!Admit(IsEncryptedFrame(frame) ? 0 : text.size())) return;
  if (failed) {
    log_.Log("[%s] sent to %s ** FAILED ** ", text.c_str(), address_.c_str());
  } else {
    log_.Log("[%s] sent to %s", text.c_str(), address_.c_str());
  }
}

bool CLaneLog::Admit(std::size_t bytes) {
  const auto now = now_();
  if (now - minuteStart_ >= kLaneLogBudgetPeriod) {
    minuteStart_ = now;
    loggedInMinute_ = 0;
    suppressed_ = false;
  }
  if (suppressed_) return false;
  if (loggedInMinute_ + bytes > kLaneLogBudgetBytes) {
    suppressed_ = true;
    log_.Log("Logging for %s suppressed until the minute ends: over %zu KiB of its traffic logged within a minute.",
             address_.c_str(), kLaneLogBudgetBytes / 1024);
    return false;
  }
  loggedInMinute_ += bytes;
  return true;
}

}  // namespace paxelle
