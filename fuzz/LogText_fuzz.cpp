// Feeds arbitrary lane text to what makes it fit for a log entry. Properties:
// escaped text holds no control character; an escaped document breaks lines
// only where the server's own builder does (CR LF after ">", the next line
// starting with its tabs or "<"), so no line of lane text can start an entry;
// a clipped text keeps at most its limit of the input.
#include "common/LogText.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  for (const char c : paxelle::EscapeControls(input)) {
    if (IsControl(c)) std::abort();
  }

  const std::string document = paxelle::EscapeDocumentControls(input);
  for (std::size_t i = 0; i < document.size(); ++i) {
    if (document[i] != '\n') continue;
    if (i == 0 || document[i - 1] != '\r' || i < 2 || document[i - 2] != '>') std::abort();
    // The next line starts with its indentation or its element; a frame's ETX may follow the last.
    const bool frameEnd = i + 2 == document.size() && document[i + 1] == '\x03';
    if (i + 1 < document.size() && document[i + 1] != '\t' && document[i + 1] != '<' && !frameEnd) std::abort();
  }

  const std::string clipped = paxelle::ClipLoggedText(input, 64);
  if (input.size() > 64 && clipped.compare(0, 64, input, 0, 64) != 0) std::abort();
  if (input.size() <= 64 && clipped != input) std::abort();
  return 0;
}
