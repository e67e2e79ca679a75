// The front end of a server without a display: the signal loop and the
// headless operator.
#pragma once

#include "app/FrontEnd.h"
#include "app/HeadlessOperator.h"
#include "app/SignalLoop.h"

#include <ostream>

namespace paxelle {

class HeadlessFrontEnd final : public FrontEnd {
 public:
  // `out` and `err` must outlive this object.
  HeadlessFrontEnd(std::ostream& out, std::ostream& err, HeadlessPolicy policy = {})
      : out_(out), err_(err), policy_(policy) {}

  Status Open() override;
  std::unique_ptr<IOperatorInterface> MakeOperator(LogSink log) override;
  void Post(std::function<void()> task) override { loop_.Post(std::move(task)); }
  // The loop runs one task at a time and never inside another: no gate needed.
  void PostRequest(std::function<void()> request) override { loop_.Post(std::move(request)); }
  int Run(const FrontEndHandlers& handlers) override;
  void Quit(int exitCode) override { loop_.Quit(exitCode); }

 private:
  SignalLoop loop_;
  std::ostream& out_;
  std::ostream& err_;
  const HeadlessPolicy policy_;
};

}  // namespace paxelle
