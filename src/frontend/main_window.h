// CQtMainWindow: the main frame (CMainFrame) drawn by Qt. The menu bar and toolbar come from the
// command table (a command no built module registers is absent); a chosen command goes to the
// frame's RouteCommand and the enabled and checked states are asked through QueryCommandUI (menus
// when they open, the toolbar after every serve pass). The address bar holds the frame's address
// control; the side bar's pages are the frame's panels by name; the centre shows the current
// child view, or a short hint while no view kind is built; the status bar shows CMapStatusBar's
// panes and network state. The window's place and size are kept in the profile (section
// "MainFrame") between runs.
#pragma once
#include <QMainWindow>
#include <array>
#include <cstdint>
#include <map>

#include "frontend/model_binding.h"

class QDockWidget;
class QLabel;
class QStackedWidget;
class QToolBar;
class QToolBox;
class QHBoxLayout;

namespace velmora {

class CMainFrame;
class CKovraHomeExApp;

class CQtMainWindow : public QMainWindow {
 public:
  explicit CQtMainWindow(CMainFrame& frame);
  ~CQtMainWindow() override;

  CMainFrame* Frame() const;

  // Model -> window: bars, title, first show, menus and toolbar when the table changed.
  void SyncFrame();
  // Address control, side-bar panels and views that appeared or went.
  void SyncChildren();
  // Status panes and the enabled and checked state of the toolbar's commands.
  void SyncIdle();
  void SaveGeometry() const;

  // ---- parts, for tests ----
  QToolBar* ToolBar() const { return toolbar_; }
  QToolBar* AddressBar() const { return address_bar_; }
  QWidget* AddressSlot() const { return address_slot_; }
  QDockWidget* SideDock() const { return side_dock_; }
  QToolBox* SideBox() const { return side_box_; }
  QStackedWidget* ViewStack() const { return stack_; }
  QLabel* Hint() const { return hint_; }
  QLabel* StatusPane(int pane) const { return panes_.at(static_cast<size_t>(pane)); }
  QLabel* NetStatePane() const { return net_; }
  QAction* ActionFor(unsigned id) const;

  // The texts of the network state (1 ok, 2 failed, 3 over quota, else unknown).
  static QString NetStateText(int state);

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  void BuildMenus();
  void UpdateActions(const QList<QAction*>& actions);
  void RestoreGeometryOrShow();
  void ReportFrameRect();

  CMainFrame* frame_;
  HWND hwnd_;
  CModelBinding* binding_;
  uint64_t menu_revision_ = ~uint64_t{0};
  std::map<unsigned, QAction*> actions_;
  QToolBar* toolbar_;
  QToolBar* address_bar_;
  QWidget* address_slot_;
  QHBoxLayout* address_layout_;
  QDockWidget* side_dock_;
  QToolBox* side_box_;
  QStackedWidget* stack_;
  QLabel* hint_;
  std::array<QLabel*, 4> panes_{};
  QLabel* net_;
  int net_shown_ = -1;
  std::map<const void*, QWidget*> panel_pages_;  // side-bar page of each panel
  std::map<const void*, int> panel_widths_;      // each panel's own width, taken at its binding
  bool shown_once_ = false;
  int listener_ = 0;
};

}  // namespace velmora
