// The main window: menus, toolbar, status bar, tray icon and the traffic list,
// with a close that asks the shell first. What the commands do is the front
// end's business; the frame only reports them.
#pragma once

#include <QMainWindow>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QSystemTrayIcon;
class QTreeWidget;

namespace paxelle {

inline constexpr char kInitialTitle[] = "Paxelle";
inline constexpr char kTrafficColumnTitle[] = "Internet Traffic";

struct MainFrameHooks {
  std::function<void()> closeRequested;  // "E&xit" or the window manager's close
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
  // The close was accepted: the tray icon goes, then the window.
  void CloseAccepted();
  // Restores, raises and focuses the window (the tray icon's double-click).
  void OnTrayDoubleClick();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void BuildMenus();
  void BuildToolBar();
  void BuildStatusBar();
  void BuildTray();

  MainFrameHooks hooks_;
  QTreeWidget* traffic_ = nullptr;
  QAction* exit_ = nullptr;
  QAction* setup_ = nullptr;
  QAction* about_ = nullptr;
  std::unique_ptr<QSystemTrayIcon> tray_;
  bool closing_ = false;
  bool noTrayNoted_ = false;
};

}  // namespace paxelle
