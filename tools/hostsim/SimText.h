// Fill and slicing rules of the host message layouts, as the simulator reads and writes them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace paxelle::hostsim {

// Field separator of the host messages.
inline constexpr char kFs = 28;

// Decimal digits of `value`, "0" in front up to `width`, only the rightmost `width` kept
// (a value too wide for its field loses its leftmost digits, as the layouts cut them).
std::string ZeroFill(std::uint64_t value, std::size_t width);

// `value` followed by blanks up to `width`, only the leftmost `width` kept.
std::string SpaceFill(std::string_view value, std::size_t width);

// The part of text[pos, pos + length) that exists; empty when pos is past the end.
std::string_view Slice(std::string_view text, std::size_t pos, std::size_t length);

// Pieces between field separators; n separators give n + 1 pieces (empty ones included).
// The views point into `text`, which must outlive them.
std::vector<std::string_view> SplitAtFs(std::string_view text);

// Pieces joined again with a field separator between each two.
std::string JoinWithFs(const std::vector<std::string>& pieces);

// True for a non-empty text of decimal digits only.
bool IsNumber(std::string_view text);

}  // namespace paxelle::hostsim
