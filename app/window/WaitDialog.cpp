#include "app/window/WaitDialog.h"

#include "app/window/EventWaits.h"
#include "common/TimeLimits.h"

#include <QApplication>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace paxelle {
namespace {

// Lets the box paint before the sequence goes on; the owner is disabled, so
// no input reaches it meanwhile.
void Repaint() { QApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

// Centred on `owner`, or on the screen without one.
void Centre(QWidget& box, QWidget* owner) {
  QPoint centre;
  if (owner != nullptr) {
    centre = owner->frameGeometry().center();
  } else if (const QScreen* screen = QApplication::primaryScreen(); screen != nullptr) {
    centre = screen->availableGeometry().center();
  } else {
    return;
  }
  box.move(centre - QPoint(box.width() / 2, box.height() / 2));
}

}  // namespace

WaitDialog::WaitDialog() = default;

WaitDialog::~WaitDialog() {
  while (depth_ > 0) Close();
}

void WaitDialog::Show(QWidget* owner) {
  if (depth_++ > 0) return;
  owner_ = owner;
  disabledOwner_ = owner_ != nullptr && owner_->isEnabled();
  if (disabledOwner_) owner_->setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);

  // A tool window of the main window: no task-bar button of its own.
  box_ = std::make_unique<QDialog>(owner, Qt::Tool | Qt::FramelessWindowHint);
  box_->setObjectName("waitBox");
  auto* frame = new QFrame(box_.get());
  frame->setFrameStyle(QFrame::Box | QFrame::Raised);
  auto* inner = new QVBoxLayout(frame);
  auto* title = new QLabel(kPleaseWaitText, frame);
  QFont bold = title->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.3);
  title->setFont(bold);
  title->setAlignment(Qt::AlignCenter);
  line_ = new QLabel(frame);
  line_->setObjectName("waitLine");
  line_->setAlignment(Qt::AlignCenter);
  line_->setMinimumWidth(300);
  inner->addWidget(title);
  inner->addWidget(line_);
  auto* outer = new QVBoxLayout(box_.get());
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(frame);
  box_->setModal(false);
  box_->adjustSize();
  // A minimised owner is not on the screen, and neither is a box it owns.
  const bool onScreen = owner == nullptr || !owner->isMinimized();
  // At the first start the window manager may not have placed the main
  // window yet: centre on where it is, not where it was asked for.
  if (owner != nullptr && onScreen) WaitUntilExposed(*owner, kWindowMapLimit);
  Centre(*box_, owner);
  box_->show();
  // Painted whole before the sequence goes on to anything that waits.
  if (onScreen) WaitUntilExposed(*box_, kWindowMapLimit);
  box_->repaint();
  Repaint();
}

void WaitDialog::SetText(const QString& text) {
  if (line_ == nullptr) return;
  line_->setText(text);
  line_->repaint();
  Repaint();
}

QString WaitDialog::Text() const { return line_ == nullptr ? QString() : line_->text(); }

void WaitDialog::Close() {
  if (depth_ == 0 || --depth_ > 0) return;
  box_.reset();
  line_ = nullptr;
  if (disabledOwner_ && owner_ != nullptr) owner_->setEnabled(true);
  disabledOwner_ = false;
  owner_ = nullptr;
  QApplication::restoreOverrideCursor();
}

}  // namespace paxelle
