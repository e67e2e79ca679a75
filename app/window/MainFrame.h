// The main window: menus, toolbar, status bar, tray icon and the traffic list,
// with a close that asks the shell first. What the commands do is the front
// end's business; the frame only reports them.
#pragma once

#include <QMainWindow>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QSystemTrayIcon;
class QTreeWidget;

namespace paxelle {

inline constexpr char kInitialTitle[] = "Paxelle";
inline constexpr char kTrafficColumnTitle[] = "Internet Traffic";
inline constexpr int kDefaultFrameHeight = 420;

// The width the window opens with: the running title with the largest counts
// in `font`, plus room for the title bar's icon and buttons, but never wider
// than `screenWidth`.
int DefaultFrameWidth(const QFont& font, int screenWidth);

struct MainFrameHooks {
  std::function<void()> closeRequested;  // "E&xit", or "Exit" on the tray icon's menu
  // The window manager's close (a title-bar button, Alt+F4, a task bar's Close).
  std::function<void()> desktopCloseRequested;
  std::function<void()> setupRequested;  // "&Setup Information" or its button
  std::function<void()> aboutRequested;
  // Entry 11 "GO TO SYSTEM TRAY WHEN MINIMIZED" is "Y".
  std::function<bool()> trayWhenMinimized;
  // Whether the desktop shows tray icons now (asked at each minimise).
  std::function<bool()> trayAvailable;
  // Told once when minimising cannot hide the window for want of a tray.
  std::function<void()> noTrayNoted;
};

class MainFrame final : public QMainWindow {
 public:
  explicit MainFrame(MainFrameHooks hooks, QWidget* parent = nullptr);
  ~MainFrame() override;

  // Puts `row` on top of the traffic list; past 50 rows it keeps the 25 newest.
  void AddTrafficRow(const QString& row);
  QTreeWidget* TrafficList() const { return traffic_; }
  QSystemTrayIcon* TrayIcon() const { return tray_.get(); }
  QAction* ExitAction() const { return exit_; }
  QAction* SetupAction() const { return setup_; }
  QAction* AboutAction() const { return about_; }
  QAction* RestoreAction() const { return restore_; }
  QMenu* TrayMenu() const { return trayMenu_.get(); }
  // The close was accepted: the tray icon goes, then the window.
  void CloseAccepted();
  // The tray icon's double-click: restores, raises and focuses a hidden
  // window whatever entry 11 says now (it may have changed while hidden);
  // a shown one only with entry 11 "Y".
  void OnTrayDoubleClick();
  // Shows the window in its normal size in front, with the keyboard focus.
  void Restore();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void BuildToolBar();
  void BuildStatusBar();
  void BuildTray();
  // The list's one column is as wide as its widest row, at least as wide as
  // the list: a longer row scrolls sideways.
  void FitColumn();

  MainFrameHooks hooks_;
  QTreeWidget* traffic_ = nullptr;
  QAction* exit_ = nullptr;
  QAction* setup_ = nullptr;
  QAction* about_ = nullptr;
  QAction* restore_ = nullptr;
  std::unique_ptr<QMenu> trayMenu_;  // declared before the icon, which uses it
  std::unique_ptr<QSystemTrayIcon> tray_;
  bool closing_ = false;
  bool noTrayNoted_ = false;
};

}  // namespace paxelle
