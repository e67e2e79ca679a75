// Lane and host text made fit for a traffic-log entry: its control characters
// shown as text, so that the only line breaks in the log are the log's own and
// the server's own inside a document, and its length bounded.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace paxelle {

// The most of one piece of lane text a log entry carries.
inline constexpr std::size_t kLoggedLaneTextLimit = 1024;

// `text` with every control character (below 0x20, and 0x7F) shown as "<CR>",
// "<LF>", "<FS>" or "\xNN"; everything else as it is.
std::string EscapeControls(std::string_view text);

// A framed or bare response document as EscapeControls shows it, but for what the
// server's own document builder writes: its CR LF line ends (after a closing ">"
// and before the next line's tabs or "<"), the tabs that indent a line, and a
// frame's first STX and last ETX.
std::string EscapeDocumentControls(std::string_view document);

// `text` cut to `limit` bytes, followed by "[N bytes not logged]" when longer.
std::string ClipLoggedText(std::string_view text, std::size_t limit = kLoggedLaneTextLimit);

// Each line of `document` (ended by LF) clipped to `limit` bytes as ClipLoggedText does.
std::string ClipLoggedLines(std::string_view document, std::size_t limit = kLoggedLaneTextLimit);

}  // namespace paxelle
