#include "tools/lane/LaneConnection.h"

#include <algorithm>

#include "tools/lane/LaneDocument.h"
#include "tools/lane/LaneLogin.h"

namespace paxelle::lane {

bool LaneConnection::Fail(std::string what) {
  lastError_ = std::move(what);
  return false;
}

bool LaneConnection::Connect(const std::string& host, int port, std::chrono::milliseconds timeout) {
  Close();
  if (!crypto_.IsReady()) return Fail(crypto_.LastError());
  if (!socket_.Connect(host, port, timeout)) return Fail(socket_.LastError());
  return true;
}

void LaneConnection::Close() {
  socket_.Close();
  reader_.Clear();
  keys_.Clear();
  serverKey_.Clear();
}

bool LaneConnection::SendRaw(std::string_view bytes) {
  if (!socket_.SendAll(bytes, ioTimeout_)) return Fail(socket_.LastError());
  return true;
}

ReadStatus LaneConnection::ReadFrame(std::chrono::milliseconds timeout, std::string& frame) {
  if (!socket_.IsOpen()) {
    lastError_ = "not connected";
    return ReadStatus::kError;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (reader_.Next(frame)) return ReadStatus::kOk;
    if (reader_.Overflowed()) {
      lastError_ = "the server sent an overlong frame";
      return ReadStatus::kBadFrame;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    std::string received;
    switch (socket_.Receive(received, std::max(left, std::chrono::milliseconds(0)))) {
      case ReceiveResult::kData:
        if (!reader_.Append(received)) {
          lastError_ = "the server sent an overlong frame";
          return ReadStatus::kBadFrame;
        }
        break;
      case ReceiveResult::kTimeout:
        lastError_ = "no complete frame within " + std::to_string(timeout.count()) + " ms";
        return ReadStatus::kTimeout;
      case ReceiveResult::kClosed:
        lastError_ = socket_.LastError();
        return ReadStatus::kClosed;
      case ReceiveResult::kStopped:
        lastError_ = socket_.LastError();
        return ReadStatus::kStopped;
      case ReceiveResult::kError:
        lastError_ = socket_.LastError();
        return ReadStatus::kError;
    }
  }
}

ReadStatus LaneConnection::ReadResponse(std::chrono::milliseconds timeout, LaneResponse& response) {
  std::string text;
  const ReadStatus status = ReadFrame(timeout, text);
  if (status != ReadStatus::kOk) return status;
  ServerFrame frame;
  LaneResponse opened;
  const Status parsed = ParseServerFrame(text, frame);
  if (!parsed.ok() || !OpenServerFrame(crypto_, keys_, frame, opened.document, lastError_)) {
    if (!parsed.ok()) lastError_ = parsed.message();
    return ReadStatus::kBadFrame;
  }
  opened.frameType = frame.type;
  response = std::move(opened);
  return ReadStatus::kOk;
}

bool LaneConnection::ReadReply(LoginResult& result) {
  std::string text;
  if (ReadFrame(ioTimeout_, text) != ReadStatus::kOk) return false;
  ServerFrame frame;
  if (const Status parsed = ParseServerFrame(text, frame); !parsed.ok()) return Fail(parsed.message());
  if (frame.type != kTypeClear) return Fail("the server sent a login reply encrypted");
  CommandResponse reply;
  if (const Status parsed = ParseCommandResponse(frame.payload, reply); !parsed.ok()) return Fail(parsed.message());
  result.code = reply.returnCode;
  result.status = reply.cmdStatus;
  result.text = reply.textResponse;
  result.verified = false;
  return true;
}

bool LaneConnection::Login(std::string_view password, bool alternate, LoginResult& result) {
  result = LoginResult{};
  if (!socket_.IsOpen()) return Fail("not connected");
  if (!ReadReply(result)) return false;
  if (result.code != kReplyGreeting) return true;  // refused before the login (going offline)

  Greeting greeting;
  LoginPlan plan;
  if (!ParseGreeting(result.text, greeting, lastError_)) return false;
  if (!serverKey_.Import(crypto_, greeting.publicKeyBlob)) return Fail(serverKey_.LastError());
  if (!PlanLogin(crypto_, greeting, password, alternate, plan, lastError_)) return false;
  if (!SendRaw(plan.message)) return false;
  if (!ReadReply(result)) return false;
  if (result.code != kReplyLoginVerified) return true;
  if (!CheckLoginVerified(result.text, plan.expectedAnswer, lastError_)) return false;
  result.verified = true;
  return true;
}

bool LaneConnection::SendRequest(std::string_view payload, std::string_view userTrace, char type) {
  SealedRequest sealed;
  if (const Status made = SealRequest(crypto_, serverKey_, payload, userTrace, type, sealed); !made.ok()) {
    return Fail(made.message());
  }
  if (!SendRaw(sealed.frame)) return false;
  keys_.Add(std::move(sealed.sessionKey));
  return true;
}

bool LaneConnection::SendAbort(std::string_view userTrace) {
  if (!IsValidUserTrace(userTrace)) return Fail("user trace text must not contain FS, STX or ETX");
  return SendRaw(BuildAbortFrame(userTrace));
}

}  // namespace paxelle::lane
