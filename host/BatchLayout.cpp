// The batch inquiry and batch close messages: fixed positions, no separators.
#include "host/HostLayouts.h"
#include "host/HostRequestBuilder.h"

namespace paxelle::hostlayout {

void BuildBatchLayout(CRequest& record, const HostMessageSources& sources) {
  const bool close = record.TranCodeId == kBatchClose;
  int stan = 0;  // failures logged by the number objects; the message still goes out
  static_cast<void>(TakeMessageNumbers(sources, stan, nullptr, false));
  bool changed = false;
  std::string batchNo;
  static_cast<void>(sources.batch.GetBatchNo(true, false, changed, batchNo));

  std::string message = HeadPrefix(sources.params) + "01";
  message += ZeroFill(std::to_string(stan), 4);
  message += close ? "64000" : "61000";
  message += "200";
  message += "N0000";
  message += SpaceFill(batchNo, 9);
  if (close) {
    const std::string* const totals[] = {
        &record.CreditCount, &record.CreditPurchaseAmount, &record.CreditReturnAmount,
        &record.NetCreditAmount, &record.DebitCount, &record.DebitPurchaseAmount,
        &record.DebitReturnAmount, &record.NetDebitAmount, &record.EBTCount,
        &record.EBTPurchaseAmount, &record.EBTReturnAmount, &record.NetEBTAmount,
    };
    for (std::size_t i = 0; i < std::size(totals); ++i) {
      const bool isCount = i % 4 == 0;
      message += ZeroFill(*totals[i], isCount ? 3 : 8);
    }
    message += "000";
    for (int i = 0; i < 5; ++i) message += "00000000";
    message += "000";
    for (int i = 0; i < 4; ++i) message += "00000000";
  }
  message += "PXLL";
  message += "HOST0001";
  message += "KELVARA1";
  record.HostRequest = std::move(message);
}

}  // namespace paxelle::hostlayout
