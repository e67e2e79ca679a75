#include "app/window/RequestGate.h"

namespace paxelle {

void RequestGate::Request(std::function<void()> request) {
  if (Busy()) {
    waiting_.push_back(std::move(request));
    return;
  }
  Scope scope(*this);
  request();
}

void RequestGate::RequestFirst(std::function<void()> request) {
  if (Busy()) {
    waiting_.push_front(std::move(request));
    return;
  }
  Scope scope(*this);
  request();
}

void RequestGate::Leave() {
  if (busy_ > 0) --busy_;
  if (busy_ == 0 && !waiting_.empty()) schedule_();
}

void RequestGate::RunWaiting() {
  while (!Busy() && !waiting_.empty()) {
    std::function<void()> request = std::move(waiting_.front());
    waiting_.pop_front();
    Scope scope(*this);
    request();
  }
}

}  // namespace paxelle
