// The client frame's control characters as text, written out here rather than
// taken from the code under test, and the reply frame of a document in clear.
#pragma once

#include <string>

namespace paxelle::testing::frame_text {

inline const std::string FS = "\x1c";
inline const std::string STX = "\x02";
inline const std::string ETX = "\x03";
inline const std::string DC1 = "\x11";
inline const std::string DC2 = "\x12";

// The frame the server sends `document` in when it goes out in clear.
inline std::string Clear(const std::string& document) { return FS + "000" + STX + document + ETX; }

}  // namespace paxelle::testing::frame_text
