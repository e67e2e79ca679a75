#include "tests/window/WindowTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace paxelle::windowtest {

BoxAnswerer::BoxAnswerer(QMessageBox::StandardButton answer) : answer_(answer), timer_(std::make_unique<QTimer>()) {
  timer_->setInterval(5);
  QObject::connect(timer_.get(), &QTimer::timeout, [this] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    texts_.push_back(box->text().toStdString());
    const QPushButton* preset = box->defaultButton();
    const bool yes = preset != nullptr && preset == box->button(QMessageBox::Yes);
    const bool no = preset != nullptr && preset == box->button(QMessageBox::No);
    defaults_.push_back(yes ? "Yes" : no ? "No" : "OK");
    QAbstractButton* button = box->button(answer_);
    if (button == nullptr) button = box->button(QMessageBox::Ok);
    if (button != nullptr) button->click();
  });
  timer_->start();
}

BoxAnswerer::~BoxAnswerer() = default;

OpenWindow::OpenWindow() {
  const Status opened = frontEnd.Open();
  EXPECT_TRUE(opened.ok()) << opened.message();
  operatorInterface = frontEnd.MakeOperator([this](const std::string& line) { logged.push_back(line); });
}

CMerchantParams ParamsWith(const std::vector<std::pair<int, std::string>>& values) {
  CMerchantParams params;
  params.Reset();
  for (const auto& [entry, value] : values) EXPECT_TRUE(params.SetValue(entry, value)) << entry << "=" << value;
  return params;
}

SilentHost::SilentHost() {
  socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket_ < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  // Connections complete in the backlog; none is ever accepted or answered.
  if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(socket_, 16) != 0 ||
      ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return;
  }
  port_ = ntohs(address.sin_port);
}

SilentHost::~SilentHost() {
  if (socket_ >= 0) ::close(socket_);
}

std::string SilentHost::Address() const { return port_ == 0 ? std::string() : "127.0.0.1:" + std::to_string(port_); }

}  // namespace paxelle::windowtest
