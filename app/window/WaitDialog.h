// The "Please Wait . . ." box of one start or stop sequence: borderless over
// its owner, which it disables while shown. Shows nest: the box a failed
// start's stop opens inside the start's box is the same box, and only the
// outermost close takes it down and gives the owner back.
#pragma once

#include <QString>

#include <memory>

class QDialog;
class QLabel;
class QWidget;

namespace paxelle {

inline constexpr char kPleaseWaitText[] = "Please Wait . . .";

class WaitDialog {
 public:
  WaitDialog();
  ~WaitDialog();
  WaitDialog(const WaitDialog&) = delete;
  WaitDialog& operator=(const WaitDialog&) = delete;

  // Shows the box over `owner` (may be null) with the wait cursor; the owner,
  // if enabled, is disabled until the matching Close.
  void Show(QWidget* owner);
  void SetText(const QString& text);
  void Close();

  bool Shown() const { return depth_ > 0; }
  QString Text() const;
  QDialog* Box() const { return box_.get(); }

 private:
  std::unique_ptr<QDialog> box_;
  QLabel* line_ = nullptr;
  QWidget* owner_ = nullptr;
  bool disabledOwner_ = false;
  int depth_ = 0;
};

}  // namespace paxelle
