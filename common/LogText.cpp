#include "common/LogText.h"

#include "common/ControlCharacters.h"

#include <cstdio>

namespace paxelle {
namespace {

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

void AppendEscaped(std::string& out, char c) {
  switch (c) {
    case '\r': out += "<CR>"; return;
    case '\n': out += "<LF>"; return;
    case kFs: out += "<FS>"; return;
    default: break;
  }
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
  out += text;
}

// The frame head FrameMessage writes (FS, type, "00", STX); 0 when `text` has none.
std::size_t FrameHeadLength(std::string_view text) {
  constexpr std::size_t kHead = 5;
  if (text.size() < kHead || text[0] != kFs || IsControl(text[1]) || text.substr(2, 2) != "00" || text[4] != kStx) {
    return 0;
  }
  return kHead;
}

// A CR LF the document builder wrote: it ends an element line and the next line
// starts with its indentation or its element (or the document ends).
bool IsDocumentLineEnd(std::string_view text, std::size_t at, std::size_t end) {
  if (at == 0 || text[at - 1] != '>' || at + 1 >= end || text[at + 1] != '\n') return false;
  const std::size_t next = at + 2;
  return next == end || text[next] == '\t' || text[next] == '<';
}

}  // namespace

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (IsControl(c)) {
      AppendEscaped(out, c);
    } else {
      out += c;
    }
  }
  return out;
}

std::string EscapeDocumentControls(std::string_view document) {
  const std::size_t head = FrameHeadLength(document);
  std::size_t end = document.size();
  const bool framed = head > 0 && end > head && document[end - 1] == kEtx;
  if (framed) --end;

  std::string out(document.substr(0, head));
  out.reserve(document.size());
  bool lineStart = true;
  for (std::size_t i = head; i < end; ++i) {
    const char c = document[i];
    if (!IsControl(c)) {
      out += c;
      lineStart = false;
    } else if (c == '\r' && IsDocumentLineEnd(document, i, end)) {
      out += "\r\n";
      ++i;
      lineStart = true;
    } else if (c == '\t' && lineStart) {
      out += c;
    } else {
      AppendEscaped(out, c);
      lineStart = false;
    }
  }
  if (framed) out += kEtx;
  return out;
}

std::string ClipLoggedText(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return std::string(text);
  std::string out(text.substr(0, limit));
  out += "[" + std::to_string(text.size() - limit) + " bytes not logged]";
  return out;
}

std::string ClipLoggedLines(std::string_view document, std::size_t limit) {
  std::string out;
  out.reserve(document.size());
  std::size_t start = 0;
  while (start < document.size()) {
    std::size_t next = document.find('\n', start);
    next = next == std::string_view::npos ? document.size() : next + 1;
    // The line end stays, so the lines after a clipped one keep theirs.
    std::size_t content = next;
    if (content > start && document[content - 1] == '\n') --content;
    if (content > start && document[content - 1] == '\r') --content;
    out += ClipLoggedText(document.substr(start, content - start), limit);
    out += document.substr(content, next - content);
    start = next;
  }
  return out;
}

}  // namespace paxelle
