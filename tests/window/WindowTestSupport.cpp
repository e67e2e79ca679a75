#include "tests/window/WindowTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

namespace paxelle::windowtest {

BoxAnswerer::BoxAnswerer(QMessageBox::StandardButton answer) : answer_(answer), timer_(std::make_unique<QTimer>()) {
  timer_->setInterval(5);
  QObject::connect(timer_.get(), &QTimer::timeout, [this] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    texts_.push_back(box->text().toStdString());
    QAbstractButton* button = box->button(answer_);
    if (button == nullptr) button = box->button(QMessageBox::Ok);
    if (button != nullptr) button->click();
  });
  timer_->start();
}

BoxAnswerer::~BoxAnswerer() = default;

OpenWindow::OpenWindow() {
  std::string error;
  EXPECT_TRUE(frontEnd.Open(error)) << error;
  operatorInterface = frontEnd.MakeOperator([this](const std::string& line) { logged.push_back(line); });
}

CMerchantParams ParamsWith(const std::vector<std::pair<int, std::string>>& values) {
  CMerchantParams params;
  params.Reset();
  for (const auto& [entry, value] : values) EXPECT_TRUE(params.SetValue(entry, value)) << entry << "=" << value;
  return params;
}

}  // namespace paxelle::windowtest
