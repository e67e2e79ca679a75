#include "tools/hostsim/BatchTotals.h"

#include "tools/hostsim/SimText.h"

namespace paxelle::hostsim {
namespace {

std::string FormatFamily(const FamilyTotals& totals) {
  const std::uint64_t net = totals.purchaseCents >= totals.returnCents
                                ? totals.purchaseCents - totals.returnCents
                                : totals.returnCents - totals.purchaseCents;
  return ZeroFill(totals.count, 3) + ZeroFill(totals.purchaseCents, 8) + ZeroFill(totals.returnCents, 8) +
         ZeroFill(net, 8);
}

}  // namespace

std::string BatchTotals::Format() const { return FormatFamily(credit) + FormatFamily(debit) + FormatFamily(ebt); }

BatchEffect EffectOfTranCode(std::string_view tranCode) {
  for (const std::string_view purchase : {"01", "03", "11", "12", "21", "22"}) {
    if (tranCode == purchase) return BatchEffect::kPurchase;
  }
  for (const std::string_view refund : {"04", "17", "26"}) {
    if (tranCode == refund) return BatchEffect::kReturn;
  }
  return BatchEffect::kNone;
}

void BatchBook::Record(const std::string& terminalKey, CardFamily family, std::string_view tranCode,
                       std::uint64_t cents) {
  const BatchEffect effect = EffectOfTranCode(tranCode);
  if (effect == BatchEffect::kNone) return;
  MutexLock lock(mutex_);
  BatchTotals& batch = open_[terminalKey];
  FamilyTotals& totals = family == CardFamily::kDebit ? batch.debit
                         : family == CardFamily::kEbt ? batch.ebt
                                                      : batch.credit;
  ++totals.count;
  (effect == BatchEffect::kPurchase ? totals.purchaseCents : totals.returnCents) += cents;
}

BatchTotals BatchBook::Totals(const std::string& terminalKey) const {
  MutexLock lock(mutex_);
  const auto found = open_.find(terminalKey);
  return found == open_.end() ? BatchTotals{} : found->second;
}

BatchTotals BatchBook::Close(const std::string& terminalKey) {
  MutexLock lock(mutex_);
  const auto found = open_.find(terminalKey);
  if (found == open_.end()) return {};
  const BatchTotals closed = found->second;
  open_.erase(found);
  return closed;
}

}  // namespace paxelle::hostsim
