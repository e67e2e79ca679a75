// Lane and host text in a log entry: control characters shown as text, the
// server's own document lines kept, length bounded.
#include "common/LogText.h"

#include <gtest/gtest.h>

namespace paxelle {
namespace {

struct TextCase {
  const char* name;
  std::string in;
  std::string out;
};

TEST(LogText, ControlCharactersAreShownAsText) {
  const TextCase cases[] = {
      {"line ends", "a\r\nb", "a<CR><LF>b"},
      {"field separator", "A=1\x1c" "B=2", "A=1<FS>B=2"},
      {"others by their number", std::string("\x00\x01\x1b\x7f", 4), "\\x00\\x01\\x1B\\x7F"},
      {"printable and 8-bit text stay", "Caf\xe9 <ok> \\x", "Caf\xe9 <ok> \\x"},
      {"a forged entry becomes one line", "x\r\n----------\r\n[12:00:00]Completion [COMPLETED]",
       "x<CR><LF>----------<CR><LF>[12:00:00]Completion [COMPLETED]"},
  };
  for (const TextCase& c : cases) EXPECT_EQ(EscapeControls(c.in), c.out) << c.name;
}

TEST(LogText, ADocumentKeepsOnlyItsOwnLines) {
  const std::string head = std::string("\x1c" "000\x02", 5);
  const TextCase cases[] = {
      {"the builder's lines and indentation stay", "<a>\r\n\t<b>x</b>\r\n</a>\r\n", "<a>\r\n\t<b>x</b>\r\n</a>\r\n"},
      {"a frame's head and ETX stay", head + "<a>\r\n</a>\r\n\x03", head + "<a>\r\n</a>\r\n\x03"},
      {"a value's line ends are shown", "\t\t<Memo>a\r\n----------\r\n[12:00:00]x</Memo>\r\n",
       "\t\t<Memo>a<CR><LF>----------<CR><LF>[12:00:00]x</Memo>\r\n"},
      {"a value's tab and FS are shown", "\t<M>a\tb\x1c" "c</M>\r\n", "\t<M>a\\x09b<FS>c</M>\r\n"},
      {"a bare LF is shown", "<a>\n<b>", "<a><LF><b>"},
      {"no frame head with a control character for its type", std::string("\x1c\n00\x02<a>", 8),
       "<FS><LF>00\\x02<a>"},
  };
  for (const TextCase& c : cases) EXPECT_EQ(EscapeDocumentControls(c.in), c.out) << c.name;
}

TEST(LogText, LongTextIsClippedWithTheCountLeftOut) {
  EXPECT_EQ(ClipLoggedText("abcdef", 6), "abcdef");
  EXPECT_EQ(ClipLoggedText("abcdefgh", 6), "abcdef[2 bytes not logged]");
  EXPECT_EQ(ClipLoggedText(std::string(5000, 'J')), std::string(1024, 'J') + "[3976 bytes not logged]");
  // Each line of a document on its own, its line end kept.
  EXPECT_EQ(ClipLoggedLines("<a>" + std::string(10, 'x') + "</a>\r\n<b>y</b>\r\n", 8),
            "<a>xxxxx[9 bytes not logged]\r\n<b>y</b>\r\n");
}

}  // namespace
}  // namespace paxelle
