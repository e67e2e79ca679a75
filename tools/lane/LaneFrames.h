// The client wire frame seen from the lane: building request frames, cutting a
// received byte stream into frames, and taking a server frame apart.
#pragma once

#include "common/Status.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace paxelle::lane {

// Control characters of the client wire protocol.
inline constexpr char kStx = 2;
inline constexpr char kEtx = 3;
inline constexpr char kDc1 = 17;
inline constexpr char kDc2 = 18;
inline constexpr char kFs = 28;
inline constexpr char kRs = 30;
inline constexpr char kUs = 31;

// Request type characters the lane sends, and the server's frame types.
inline constexpr char kTypeEncrypted = '2';
inline constexpr char kTypeEncryptedAlternate = 'M';
inline constexpr char kTypeAbort = 'A';
inline constexpr char kTypeClear = '0';

// The server handles at most this many bytes before an ETX as one message.
inline constexpr std::size_t kMaxRequestFrameBytes = 32767;

// User trace text goes in clear before the FS; it must not hold a character
// that would end or split the frame (FS, STX, ETX).
bool IsValidUserTrace(std::string_view userTrace);

// userTrace, FS, `type`, "00", STX, DC1, keyBlobHex, DC2, cipherHex, ETX.
// The caller makes sure the parts are valid (user trace, upper-case hex).
std::string BuildRequestFrame(std::string_view userTrace, char type, std::string_view keyBlobHex,
                              std::string_view cipherHex);

// userTrace, FS, "A", "00", STX, ETX: cancels this connection's requests that
// still wait for the host; the server does not answer it.
std::string BuildAbortFrame(std::string_view userTrace);

// A server frame taken apart: FS, type, "00", STX, payload, ETX.
struct ServerFrame {
  char type = 0;        // kTypeClear or kTypeEncrypted
  std::string payload;  // XML document (clear) or hexadecimal ciphertext (encrypted)
};

// Parses one frame as FrameReader hands it out (without its ETX; a trailing
// ETX is accepted too). Strict, as a reference client should be: anything but
// FS, "0" or "2", "00", STX at the start, or an ETX inside, is a failure,
// `frame` unchanged.
Status ParseServerFrame(std::string_view text, ServerFrame& frame);

// Cuts a byte stream into ETX-terminated frames, in arrival order. Holds at
// most `limit` bytes of an unfinished frame; beyond that it refuses to take
// more and reports Overflowed (the stream cannot be trusted any more).
class FrameReader {
 public:
  explicit FrameReader(std::size_t limit = 1 << 20) : limit_(limit) {}

  // Adds received bytes. False (and nothing kept of `bytes`) when the
  // unfinished frame would grow beyond the limit.
  bool Append(std::string_view bytes);

  // Moves the oldest complete frame, without its ETX, into `frame`; false
  // when no complete frame is buffered.
  bool Next(std::string& frame);

  bool Overflowed() const { return overflowed_; }
  // Bytes held, complete frames included.
  std::size_t Buffered() const { return buffer_.size() - consumed_; }
  void Clear();

 private:
  std::size_t limit_;
  std::string buffer_;
  std::size_t consumed_ = 0;
  bool overflowed_ = false;
};

}  // namespace paxelle::lane
