#include "tools/lane/LaneFrames.h"

namespace paxelle::lane {

bool IsValidUserTrace(std::string_view userTrace) {
  return userTrace.find_first_of(std::string_view("\x1C\x02\x03", 3)) == std::string_view::npos;
}

std::string BuildRequestFrame(std::string_view userTrace, char type, std::string_view keyBlobHex,
                              std::string_view cipherHex) {
  std::string frame;
  frame.reserve(userTrace.size() + keyBlobHex.size() + cipherHex.size() + 8);
  frame += userTrace;
  frame += kFs;
  frame += type;
  frame += "00";
  frame += kStx;
  frame += kDc1;
  frame += keyBlobHex;
  frame += kDc2;
  frame += cipherHex;
  frame += kEtx;
  return frame;
}

std::string BuildAbortFrame(std::string_view userTrace) {
  std::string frame(userTrace);
  frame += kFs;
  frame += kTypeAbort;
  frame += "00";
  frame += kStx;
  frame += kEtx;
  return frame;
}

Status ParseServerFrame(std::string_view text, ServerFrame& frame) {
  if (!text.empty() && text.back() == kEtx) text.remove_suffix(1);
  if (text.size() < 5 || text[0] != kFs || text.substr(2, 2) != "00" || text[4] != kStx) {
    return Status::Failure("server frame does not start with FS, type, \"00\", STX");
  }
  const char type = text[1];
  if (type != kTypeClear && type != kTypeEncrypted) {
    return Status::Failure(std::string("server frame has unknown type \"") + type + "\"");
  }
  const std::string_view payload = text.substr(5);
  // A clear payload may hold an STX: user trace data is echoed as the lane sent it.
  if (payload.find(kEtx) != std::string_view::npos) {
    return Status::Failure("server frame payload holds a stray ETX");
  }
  frame.type = type;
  frame.payload.assign(payload);
  return Status::Ok();
}

bool FrameReader::Append(std::string_view bytes) {
  if (overflowed_) return false;
  // Only the bytes after the last ETX count against the limit: complete
  // frames are waiting to be taken, not growing.
  const std::size_t lastEtx = buffer_.rfind(kEtx);
  const std::size_t openStart = lastEtx == std::string::npos || lastEtx < consumed_ ? consumed_ : lastEtx + 1;
  std::size_t open = buffer_.size() - openStart;
  for (char c : bytes) {
    open = c == kEtx ? 0 : open + 1;
    if (open > limit_) {
      overflowed_ = true;
      return false;
    }
  }
  if (consumed_ > 0 && consumed_ >= buffer_.size() / 2) {
    buffer_.erase(0, consumed_);
    consumed_ = 0;
  }
  buffer_ += bytes;
  return true;
}

bool FrameReader::Next(std::string& frame) {
  const std::size_t etx = buffer_.find(kEtx, consumed_);
  if (etx == std::string::npos) return false;
  frame.assign(buffer_, consumed_, etx - consumed_);
  consumed_ = etx + 1;
  if (consumed_ == buffer_.size()) {
    buffer_.clear();
    consumed_ = 0;
  }
  return true;
}

void FrameReader::Clear() {
  buffer_.clear();
  consumed_ = 0;
  overflowed_ = false;
}

}  // namespace paxelle::lane
