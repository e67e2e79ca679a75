// The card-data checker of the tests and the demo: finds in bytes the card
// data a test sent (the rule that fails it) and reports what merely looks like
// card data (Luhn-valid digit runs, track patterns) for a person to judge.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace paxelle::testing {

struct CardFinding {
  enum class Kind {
    kSent,       // one of the values the test sent: the run fails
    kLuhnRun,    // 13 to 19 digits between non-digits that pass the Luhn check
    kTrack,      // a track 1 ("%B...^...^") or track 2 (";...=...?") pattern
    kUnreadable, // a file that could not be read: the run fails, nothing was proved
  };
  Kind kind = Kind::kSent;
  std::filesystem::path file;  // empty for ScanBytes
  std::size_t offset = 0;
  std::string shown;  // the finding masked but for its last four characters: safe to print
};

// The account numbers, tracks, CVVs and PIN blocks a test sent, each searched
// as a substring. A value shorter than six characters (a CVV) would match
// ordinary numbers as a substring, so it is searched as a whole token, between
// characters that are neither letters nor digits. Empty values are ignored.
struct SentCardData {
  std::vector<std::string> values;
  void Add(std::string value);
  // Adds the card data of one request's "KEY=VALUE" pairs: AcctNo, Track1,
  // Track2 (and the account inside it), CVVData, PINBlock and the values of
  // the chip tags 5A, 56, 57, 9F6B, 9F1F, 9F20 and 5F20 inside EMVData. A
  // check's AcctNo (a request with MICR or RoutingNo) is a bank account and
  // is left out.
  void AddRequestPairs(const std::vector<std::string>& pairs);
};

// Every finding in `bytes`, exact ones first, each kind in offset order.
std::vector<CardFinding> ScanBytes(std::string_view bytes, const SentCardData& sent);

// ScanBytes over every regular file under `root` (or `root` itself when it is
// a file).
std::vector<CardFinding> ScanFiles(const std::filesystem::path& root, const SentCardData& sent);

// How many findings fail a run (kSent and kUnreadable).
std::size_t FailingCount(const std::vector<CardFinding>& findings);

// One line per finding: "FILE:OFFSET KIND SHOWN"; never holds card data.
std::string DescribeFindings(const std::vector<CardFinding>& findings);

}  // namespace paxelle::testing
