// The host's running batch totals: what it approved per terminal since that terminal's
// last batch close, kept under a lock because every connection thread adds to them.
#pragma once

#include "tools/hostsim/SimMessage.h"
#include "common/Mutex.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace paxelle::hostsim {

struct FamilyTotals {
  std::uint64_t count = 0;
  std::uint64_t purchaseCents = 0;
  std::uint64_t returnCents = 0;
};

struct BatchTotals {
  FamilyTotals credit;
  FamilyTotals debit;
  FamilyTotals ebt;

  // The 81 characters the batch answers carry: for credit, debit and EBT in turn the count
  // (3 digits), purchases, returns and net (8 digits of cents each), zero filled and cut
  // on the left like every host field. Net is purchases minus returns, written as its
  // magnitude because the field has no room for a sign.
  std::string Format() const;
};

// How an approved transaction code moves the batch: purchases are 01, 03, 11, 12, 21 and 22,
// returns 04, 17 and 26; everything else (authorizations only, voids, balance inquiries)
// leaves the totals as they are.
enum class BatchEffect { kNone, kPurchase, kReturn };
BatchEffect EffectOfTranCode(std::string_view tranCode);

class BatchBook {
 public:
  BatchBook() = default;
  BatchBook(const BatchBook&) = delete;
  BatchBook& operator=(const BatchBook&) = delete;

  // Counts one approved transaction of `cents` for `terminalKey` when its code moves the batch.
  void Record(const std::string& terminalKey, CardFamily family, std::string_view tranCode,
              std::uint64_t cents);

  // The totals of `terminalKey`'s open batch (all zero when it has none).
  BatchTotals Totals(const std::string& terminalKey) const;

  // Returns the totals of `terminalKey`'s open batch and starts a new, empty one.
  BatchTotals Close(const std::string& terminalKey);

 private:
  mutable Mutex mutex_;
  std::map<std::string, BatchTotals> open_ GUARDED_BY(mutex_);
};

}  // namespace paxelle::hostsim
