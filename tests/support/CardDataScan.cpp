#include "tests/support/CardDataScan.h"

#include "common/TextHelpers.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>

namespace paxelle::testing {
namespace {

constexpr std::size_t kTokenOnlyBelow = 6;
constexpr std::size_t kShownTail = 4;
constexpr std::size_t kMinPan = 13;
constexpr std::size_t kMaxPan = 19;
// A track is at most 79 characters (track 1); a pattern running longer is not one.
constexpr std::size_t kMaxTrack = 79;

bool IsAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

std::string Shown(std::string_view text) {
  std::string shown;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (i + kShownTail < text.size()) {
      shown += 'X';
    } else {
      shown += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
    }
  }
  return shown;
}

void FindSent(std::string_view bytes, const std::string& value, std::vector<CardFinding>& out) {
  const bool tokenOnly = value.size() < kTokenOnlyBelow;
  for (auto at = bytes.find(value); at != std::string_view::npos; at = bytes.find(value, at + 1)) {
    if (tokenOnly) {
      const std::size_t end = at + value.size();
      if ((at > 0 && IsAlnum(bytes[at - 1])) || (end < bytes.size() && IsAlnum(bytes[end]))) continue;
    }
    out.push_back({CardFinding::Kind::kSent, {}, at, Shown(value)});
  }
}

void FindLuhnRuns(std::string_view bytes, std::vector<CardFinding>& out) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (!IsDigit(bytes[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < bytes.size() && IsDigit(bytes[end])) ++end;
    const std::string_view run = bytes.substr(i, end - i);
    if (run.size() >= kMinPan && run.size() <= kMaxPan && LuhnValid(run)) {
      out.push_back({CardFinding::Kind::kLuhnRun, {}, i, Shown(run)});
    }
    i = end;
  }
}

// `open` then digits, then `separator`, more of the track, and `close` (track 2:
// ";", "=", "?") or a second `separator` (track 1: "%B", "^", "^").
void FindTracks(std::string_view bytes, std::string_view open, char separator, char close,
                std::vector<CardFinding>& out) {
  for (auto at = bytes.find(open); at != std::string_view::npos; at = bytes.find(open, at + 1)) {
    std::size_t i = at + open.size();
    const std::size_t digitsFrom = i;
    while (i < bytes.size() && IsDigit(bytes[i])) ++i;
    if (i - digitsFrom < kMinPan - 1 || i >= bytes.size() || bytes[i] != separator) continue;
    const std::size_t limit = std::min(bytes.size(), at + kMaxTrack);
    const std::size_t end = bytes.find(close, i + 1);
    if (end == std::string_view::npos || end >= limit) continue;
    out.push_back({CardFinding::Kind::kTrack, {}, at, Shown(bytes.substr(at, end + 1 - at))});
  }
}

const char* KindName(CardFinding::Kind kind) {
  switch (kind) {
    case CardFinding::Kind::kSent: return "SENT";
    case CardFinding::Kind::kLuhnRun: return "luhn-run";
    case CardFinding::Kind::kTrack: return "track-pattern";
    case CardFinding::Kind::kUnreadable: return "UNREADABLE";
  }
  return "?";
}

}  // namespace

void SentCardData::Add(std::string value) {
  if (value.empty()) return;
  if (std::find(values.begin(), values.end(), value) == values.end()) values.push_back(std::move(value));
}

void SentCardData::AddRequestPairs(const std::vector<std::string>& pairs) {
  static const std::string_view kCardKeys[] = {"AcctNo", "Track1", "Track2", "CVVData", "PINBlock"};
  static const std::string_view kCardTags[] = {"5A", "56", "57", "9F6B", "9F1F", "9F20", "5F20"};
  // A check's AcctNo is the bank account printed on the check, not card data.
  const bool check = std::any_of(pairs.begin(), pairs.end(), [](const std::string& pair) {
    return pair.starts_with("MICR=") || pair.starts_with("RoutingNo=");
  });
  for (const std::string& pair : pairs) {
    const auto equals = pair.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = pair.substr(0, equals);
    const std::string value = pair.substr(equals + 1);
    if (std::find(std::begin(kCardKeys), std::end(kCardKeys), key) != std::end(kCardKeys) &&
        !(check && key == "AcctNo")) {
      Add(value);
      if (key == "Track2") {
        // The account inside the track travels alone too (the host message, the document).
        std::string account = value.substr(value.starts_with(';') ? 1 : 0);
        Add(account.substr(0, account.find('=')));
      }
    }
    if (key != "EMVData") continue;
    std::stringstream chip(value);
    for (std::string tagged; std::getline(chip, tagged, '|');) {
      const auto colon = tagged.find(':');
      if (colon == std::string::npos) continue;
      const std::string tag = tagged.substr(0, colon);
      if (std::find(std::begin(kCardTags), std::end(kCardTags), tag) != std::end(kCardTags)) {
        Add(tagged.substr(colon + 1));
      }
    }
  }
}

std::vector<CardFinding> ScanBytes(std::string_view bytes, const SentCardData& sent) {
  std::vector<CardFinding> findings;
  for (const std::string& value : sent.values) FindSent(bytes, value, findings);
  FindLuhnRuns(bytes, findings);
  FindTracks(bytes, "%B", '^', '^', findings);
  FindTracks(bytes, ";", '=', '?', findings);
  std::stable_sort(findings.begin(), findings.end(), [](const CardFinding& a, const CardFinding& b) {
    if (a.kind != b.kind) return a.kind < b.kind;
    return a.offset < b.offset;
  });
  return findings;
}

std::vector<CardFinding> ScanFiles(const std::filesystem::path& root, const SentCardData& sent) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  if (std::filesystem::is_regular_file(root, error)) {
    files.push_back(root);
  } else {
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      if (it->is_regular_file(error)) files.push_back(it->path());
    }
  }
  std::vector<CardFinding> findings;
  if (error) findings.push_back({CardFinding::Kind::kUnreadable, root, 0, error.message()});
  std::sort(files.begin(), files.end());
  for (const std::filesystem::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      findings.push_back({CardFinding::Kind::kUnreadable, file, 0, "unreadable"});
      continue;
    }
    for (CardFinding& finding : ScanBytes(bytes, sent)) {
      finding.file = file;
      findings.push_back(std::move(finding));
    }
  }
  std::stable_partition(findings.begin(), findings.end(), [](const CardFinding& finding) {
    return finding.kind == CardFinding::Kind::kSent || finding.kind == CardFinding::Kind::kUnreadable;
  });
  return findings;
}

std::size_t FailingCount(const std::vector<CardFinding>& findings) {
  return static_cast<std::size_t>(std::count_if(findings.begin(), findings.end(), [](const CardFinding& finding) {
    return finding.kind == CardFinding::Kind::kSent || finding.kind == CardFinding::Kind::kUnreadable;
  }));
}

std::string DescribeFindings(const std::vector<CardFinding>& findings) {
  std::string text;
  for (const CardFinding& finding : findings) {
    text += finding.file.empty() ? std::string("<bytes>") : finding.file.string();
    text += ':' + std::to_string(finding.offset) + ' ' + KindName(finding.kind) + ' ' + finding.shown + '\n';
  }
  return text;
}

}  // namespace paxelle::testing
