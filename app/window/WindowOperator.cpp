#include "app/window/WindowOperator.h"

#include "app/TrafficView.h"
#include "app/window/MainFrame.h"

#include <QMessageBox>
#include <QStatusBar>

namespace paxelle {
namespace {

constexpr int kNoticeMilliseconds = 15000;
constexpr char kBoxTitle[] = "Paxelle";

}  // namespace

QString BoxText(const std::string& text) {
  QString box = QString::fromStdString(text);
  box.replace("\r\n", "\n");
  box.replace('\r', '\n');
  return box;
}

WindowOperator::WindowOperator(MainFrame& frame, RequestGate& gate, LogSink log, Unattended unattended,
                               Detached detached)
    : frame_(frame),
      gate_(gate),
      log_(std::move(log)),
      unattended_(std::move(unattended)),
      detached_(std::move(detached)) {}

QWidget* WindowOperator::BoxOwner() const { return frame_.isVisible() ? &frame_ : nullptr; }

void WindowOperator::ShowMessage(const std::string& text) {
  // The traffic log keeps what the operator was told, as without a window.
  if (log_) log_(text);
  if (IsUnattended() || IsDetached()) return;
  RequestGate::Scope busy(gate_);
  QMessageBox box(QMessageBox::Warning, kBoxTitle, BoxText(text), QMessageBox::Ok, BoxOwner());
  box.exec();
}

void WindowOperator::ShowNotice(const std::string& text) {
  if (IsDetached()) return;
  frame_.statusBar()->showMessage(BoxText(text).replace('\n', ' '), kNoticeMilliseconds);
}

bool WindowOperator::AskYesNo(OperatorQuestion, const std::string& text) {
  if (IsUnattended() || IsDetached()) {
    if (log_) log_(BoxText(text).simplified().toStdString() + " - No");
    return false;
  }
  RequestGate::Scope busy(gate_);
  QMessageBox box(QMessageBox::Question, kBoxTitle, BoxText(text), QMessageBox::Yes | QMessageBox::No, BoxOwner());
  box.setDefaultButton(QMessageBox::No);
  const bool yes = box.exec() == QMessageBox::Yes;
  if (log_) log_(BoxText(text).simplified().toStdString() + (yes ? " - Yes" : " - No"));
  return yes;
}

void WindowOperator::ShowWait() {
  if (!IsDetached()) wait_.Show(BoxOwner());
}

void WindowOperator::SetWaitText(const std::string& text) {
  if (!IsDetached()) wait_.SetText(QString::fromStdString(text));
}

void WindowOperator::CloseWait() {
  if (!IsDetached()) wait_.Close();
}

void WindowOperator::ShowOfflineTitle() {
  if (!IsDetached()) frame_.setWindowTitle(kOfflineTitle);
}

void WindowOperator::SetStatusTitle(const std::string& title, int, int) {
  if (!IsDetached()) frame_.setWindowTitle(QString::fromStdString(title));
}

void WindowOperator::AddTrafficRow(const std::string& row) {
  if (!IsDetached()) frame_.AddTrafficRow(QString::fromStdString(row));
}

}  // namespace paxelle
