// The main frame on Qt.
#include "frontend/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QToolBox>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "core/settings.h"
#include "frontend/dispatcher_bridge.h"
#include "frontend/images.h"
#include "frontend/qt_ui_host.h"
#include "frontend/text_fit.h"
#include "frontend/window_mirror.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "shell/map_status_bar.h"

namespace velmora {
namespace {

constexpr const char* kGeometrySection = "MainFrame";

// The main frame's binding: its syncs are the main window's.
class CMainFrameBinding : public CModelBinding {
 public:
  CMainFrameBinding(CMainFrame& frame, CQtMainWindow* window) : CModelBinding(frame, window), window_(window) {
    SetGeometryFromModel(false);
  }
  void SyncFromModel() override {
    if (Model()) window_->SyncFrame();
  }
  void SyncChildren() override {
    if (Model()) window_->SyncChildren();
  }

 private:
  CQtMainWindow* window_;
};

// The address bar's slot: Enter in its control (which leaves the key to its parents) is the
// frame's IDOK, as the frame's default button was.
class CAddressSlot : public QWidget {
 public:
  CAddressSlot(QWidget* parent, CQtMainWindow* main) : QWidget(parent), main_(main) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
      if (CMainFrame* frame = main_->Frame()) frame->SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
      return;
    }
    QWidget::keyPressEvent(event);
  }

 private:
  CQtMainWindow* main_;
};

QPixmap NetStatePixmap(int state) {
  QPixmap pixmap(12, 12);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QColor color = state == CMapStatusBar::kNetOk       ? QColor(40, 170, 60)
                 : state == CMapStatusBar::kNetFailed ? QColor(210, 40, 40)
                 : state == CMapStatusBar::kNetOverQuota ? QColor(230, 160, 20)
                                                         : QColor(150, 150, 150);
  p.setPen(color.darker(140));
  p.setBrush(color);
  p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
  return pixmap;
}

std::vector<QString> SplitPath(const std::string& path) {
  std::vector<QString> parts;
  for (const QString& part : Qs(path).split(QLatin1Char('/'), Qt::SkipEmptyParts)) parts.push_back(part);
  return parts;
}

}  // namespace

QString CQtMainWindow::NetStateText(int state) {
  switch (state) {
    case CMapStatusBar::kNetOk: return QStringLiteral("网络正常");
    case CMapStatusBar::kNetFailed: return QStringLiteral("网络连接失败");
    case CMapStatusBar::kNetOverQuota: return QStringLiteral("超出访问限额");
    default: return QStringLiteral("网络状态未知");
  }
}

CQtMainWindow::CQtMainWindow(CMainFrame& frame) : frame_(&frame), hwnd_(frame.GetSafeHwnd()) {
  setObjectName(QStringLiteral("MainFrame"));
  setWindowTitle(Qs(frame.GetWindowText()));
  QIcon icon = ProgramIcon("icon.png");
  if (!icon.isNull()) setWindowIcon(icon);

  // Toolbar and address bar.
  toolbar_ = addToolBar(QStringLiteral("工具栏"));
  toolbar_->setObjectName(QStringLiteral("ToolBar"));
  toolbar_->setIconSize(QSize(24, 24));
  addToolBarBreak();
  address_bar_ = addToolBar(QStringLiteral("地址栏"));
  address_bar_->setObjectName(QStringLiteral("AddressBar"));
  address_bar_->setMovable(false);
  address_slot_ = new CAddressSlot(address_bar_, this);
  address_slot_->setObjectName(QStringLiteral("AddressSlot"));
  address_slot_->setMinimumHeight(fontMetrics().height() + 10);
  address_slot_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  address_layout_ = new QHBoxLayout(address_slot_);
  address_layout_->setContentsMargins(2, 2, 2, 2);
  address_bar_->addWidget(address_slot_);

  // Side bar.
  side_dock_ = new QDockWidget(QStringLiteral("侧栏"), this);
  side_dock_->setObjectName(QStringLiteral("SideBar"));
  side_dock_->setFeatures(QDockWidget::NoDockWidgetFeatures);
  side_box_ = new QToolBox(side_dock_);
  side_dock_->setWidget(side_box_);
  addDockWidget(Qt::LeftDockWidgetArea, side_dock_);
  side_dock_->hide();

  // Centre: the views, or the hint while none is built.
  stack_ = new QStackedWidget(this);
  stack_->setObjectName(QStringLiteral("Views"));
  hint_ = new QLabel(QStringLiteral("没有可显示的地图视图"), stack_);
  hint_->setObjectName(QStringLiteral("ViewHint"));
  hint_->setAlignment(Qt::AlignCenter);
  hint_->setEnabled(false);
  stack_->addWidget(hint_);
  setCentralWidget(stack_);

  // Status bar: the message pane, then cursor, centre, level and the network state.
  QStatusBar* status = statusBar();
  panes_[CMapStatusBar::kPaneMessage] = new QLabel(status);
  status->addWidget(panes_[CMapStatusBar::kPaneMessage], 1);
  const int min_widths[] = {0, 150, 150, 50};
  for (int pane : {CMapStatusBar::kPaneCursor, CMapStatusBar::kPaneCenter, CMapStatusBar::kPaneLevel}) {
    auto* label = new QLabel(status);
    label->setMinimumWidth(min_widths[pane]);
    label->setFrameShape(QFrame::StyledPanel);
    panes_[static_cast<size_t>(pane)] = label;
    status->addPermanentWidget(label);
  }
  for (size_t i = 0; i < panes_.size(); ++i) panes_[i]->setObjectName(QStringLiteral("StatusPane%1").arg(i));
  net_ = new QLabel(status);
  net_->setObjectName(QStringLiteral("NetState"));
  status->addPermanentWidget(net_);

  binding_ = new CMainFrameBinding(frame, this);
  CQtUiHost::SetMainWidget(this);
  if (CQtDispatcherBridge* bridge = CQtDispatcherBridge::Instance())
    listener_ = bridge->AddListener([this] { SyncIdle(); });
  binding_->MarkSeen(frame.InvalidateCount());
  SyncFrame();
  SyncChildren();
  SyncIdle();
}

CQtMainWindow::~CQtMainWindow() {
  if (CQtDispatcherBridge* bridge = CQtDispatcherBridge::Instance(); bridge && listener_) bridge->RemoveListener(listener_);
}

CMainFrame* CQtMainWindow::Frame() const {
  return frame_ && binding_ && binding_->Model() && frame_->GetSafeHwnd() == hwnd_ ? frame_ : nullptr;
}

QAction* CQtMainWindow::ActionFor(unsigned id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void CQtMainWindow::BuildMenus() {
  menuBar()->clear();
  toolbar_->clear();
  for (auto& [id, action] : actions_) action->deleteLater();
  actions_.clear();
  std::map<QString, QMenu*> menus;  // by full path
  for (const AppCommand& command : AppCommands().Commands()) {
    auto* action = new QAction(Qs(command.text), this);
    action->setData(command.id);
    action->setStatusTip(Qs(command.StatusPrompt()));
    QString tip = Qs(command.ToolTip());
    action->setToolTip(tip.isEmpty() ? StaticText(Qs(command.text)) : tip);
    QIcon icon = ProgramIcon(command.icon);
    if (!icon.isNull()) action->setIcon(icon);
    action->setIconVisibleInMenu(false);
    const UINT id = command.id;
    connect(action, &QAction::triggered, this, [this, id] {
      if (CMainFrame* frame = Frame()) frame->RouteCommand(id);
    });
    actions_[id] = action;
    std::vector<QString> path = SplitPath(command.menu);
    if (!path.empty()) {
      QString key;
      QMenu* menu = nullptr;
      for (const QString& part : path) {
        key += QLatin1Char('/') + part;
        auto it = menus.find(key);
        if (it == menus.end()) {
          QMenu* created = menu ? menu->addMenu(part) : menuBar()->addMenu(part);
          connect(created, &QMenu::aboutToShow, this, [this, created] { UpdateActions(created->actions()); });
          it = menus.emplace(key, created).first;
        }
        menu = it->second;
      }
      if (command.separator_before && !menu->actions().isEmpty()) menu->addSeparator();
      menu->addAction(action);
    }
    if (command.toolbar) {
      if (command.separator_before && !toolbar_->actions().isEmpty()) toolbar_->addSeparator();
      toolbar_->addAction(action);
    }
  }
  UpdateActions(toolbar_->actions());
}

void CQtMainWindow::UpdateActions(const QList<QAction*>& actions) {
  CMainFrame* frame = Frame();
  if (!frame) return;
  for (QAction* action : actions) {
    if (action->isSeparator() || action->menu()) continue;
    UINT id = action->data().toUInt();
    if (id == 0) continue;
    CCmdUI ui(id);
    frame->QueryCommandUI(ui);
    if (!Frame()) return;
    action->setEnabled(ui.IsEnabled());
    if (ui.Checked() && !action->isCheckable()) action->setCheckable(true);
    if (action->isCheckable()) action->setChecked(ui.Checked() != 0);
  }
}

void CQtMainWindow::SyncFrame() {
  CMainFrame* frame = Frame();
  if (!frame) return;
  setWindowTitle(Qs(frame->GetWindowText()));
  uint64_t revision = AppCommands().Revision();
  if (revision != menu_revision_) {
    menu_revision_ = revision;
    BuildMenus();
  }
  toolbar_->setVisible(frame->IsControlBarVisible(CMainFrame::Bar::kToolBar) && !toolbar_->actions().isEmpty());
  address_bar_->setVisible(frame->IsControlBarVisible(CMainFrame::Bar::kAddressBar));
  statusBar()->setVisible(frame->IsControlBarVisible(CMainFrame::Bar::kStatusBar));
  side_dock_->setVisible(frame->IsControlBarVisible(CMainFrame::Bar::kSideBar) && !frame->SideBarPanels().empty());
  if (frame->IsWindowVisible() && !shown_once_) {
    shown_once_ = true;
    RestoreGeometryOrShow();
  } else if (shown_once_) {
    setVisible(frame->IsWindowVisible());
  }
  SyncChildren();
}

void CQtMainWindow::SyncChildren() {
  CMainFrame* frame = Frame();
  if (!frame) return;
  CWindowMirror& mirror = CWindowMirror::Get();

  // The address bar's control.
  CWnd* address = frame->AddressBarControl();
  if (address && address->IsWindow() && !mirror.Find(address)) {
    if (CModelBinding* b = mirror.Bind(*address, address_slot_, false)) address_layout_->addWidget(b->Widget(), 1);
  }
  for (int i = address_layout_->count() - 1; i >= 0; --i) {
    QWidget* w = address_layout_->itemAt(i)->widget();
    if (w && w != mirror.WidgetOf(address)) {
      address_layout_->removeWidget(w);
      w->hide();
    }
  }

  // Side-bar panels, in the order they were added.
  std::vector<ISideBarPanel*> panels = frame->SideBarPanels();
  for (auto it = panel_pages_.begin(); it != panel_pages_.end();) {
    if (std::find(panels.begin(), panels.end(), it->first) == panels.end()) {
      side_box_->removeItem(side_box_->indexOf(it->second));
      it->second->deleteLater();
      it = panel_pages_.erase(it);
    } else {
      ++it;
    }
  }
  for (ISideBarPanel* panel : panels) {
    QWidget*& page = panel_pages_[panel];
    if (!page) {
      page = new QWidget();
      auto* layout = new QVBoxLayout(page);
      layout->setContentsMargins(0, 0, 0, 0);
      side_box_->addItem(page, Qs(panel->GetPanelName() ? panel->GetPanelName() : ""));
    }
    CWnd* window = panel->GetPanelWnd();
    if (window && window->IsWindow() && !mirror.Find(window)) {
      // At least the panel's own size (its template's, in pixels); wider when the bar is. The
      // size is taken before the bar's layout reports its own width back to the panel.
      RECT r = window->GetWindowRect();
      if (CModelBinding* b = mirror.Bind(*window, page, false)) {
        r = window->GetWindowRect();
        panel_widths_[panel] = std::max(r.Width(), 0);
        b->Widget()->setMinimumSize(std::max(r.Width(), 0), std::max(r.Height(), 0));
        page->layout()->addWidget(b->Widget());
        b->Widget()->show();
      }
    }
  }
  // The bar's least width comes from the panels' own widths, never from the widths they were
  // given since: the bar keeps its width from one sync to the next.
  int widest = 0;
  for (auto it = panel_widths_.begin(); it != panel_widths_.end();) {
    if (std::find(panels.begin(), panels.end(), it->first) == panels.end()) {
      it = panel_widths_.erase(it);
    } else {
      widest = std::max(widest, it->second);
      ++it;
    }
  }
  const int least = std::max(200, widest + 24);
  if (side_dock_->minimumWidth() != least) side_dock_->setMinimumWidth(least);
  side_dock_->setVisible(frame->IsControlBarVisible(CMainFrame::Bar::kSideBar) && !panels.empty());

  // Child views: each view's window in the centre; the visible one is current.
  QWidget* current = hint_;
  if (CKovraHomeExApp* app = GetApp(); app && app->MainFrame() == frame) {
    for (IChildView* view : app->Views().Views()) {
      CWnd* window = view->GetWnd();
      if (!window || !window->IsWindow()) continue;
      CModelBinding* b = mirror.Find(window);
      if (!b && (b = mirror.Bind(*window, stack_, false)) != nullptr) stack_->addWidget(b->Widget());
      if (b && window->IsWindowVisible() && view == app->GetCurrentView()) current = b->Widget();
    }
  }
  if (stack_->currentWidget() != current) {
    QWidget* before = stack_->currentWidget();
    const bool had_focus = before && before->isAncestorOf(QApplication::focusWidget());
    stack_->setCurrentWidget(current);
    // The view shown takes the keys (and the one hidden gives them up), as a click into it would.
    if (current != hint_ && (had_focus || isActiveWindow())) current->setFocus(Qt::OtherFocusReason);
  }
}

void CQtMainWindow::SyncIdle() {
  CMapStatusBar& bar = MapStatusBar();
  for (int pane = 0; pane < CMapStatusBar::kPaneCount; ++pane) {
    QString text = Qs(bar.PaneText(pane));
    QLabel* label = panes_[static_cast<size_t>(pane)];
    if (pane == CMapStatusBar::kPaneMessage) {
      FittedText fit = FitText(label->fontMetrics(), text, std::max(label->width(), 40));
      if (label->text() != fit.shown) label->setText(fit.shown);
      label->setToolTip(fit.shortened ? text : QString());
    } else if (label->text() != text) {
      label->setText(text);
    }
  }
  int state = bar.NetState();
  if (state != net_shown_) {
    net_shown_ = state;
    net_->setPixmap(NetStatePixmap(state));
    net_->setToolTip(NetStateText(state));
  }
  UpdateActions(toolbar_->actions());
}

void CQtMainWindow::RestoreGeometryOrShow() {
  CMainFrame* frame = Frame();
  int width = GetProfileInt(kGeometrySection, "width", 0);
  int height = GetProfileInt(kGeometrySection, "height", 0);
  if (width >= 200 && height >= 150) {
    QRect saved(GetProfileInt(kGeometrySection, "left", 0), GetProfileInt(kGeometrySection, "top", 0), width, height);
    // A place on a screen that is no longer there moves to the primary screen.
    bool on_screen = false;
    for (QScreen* screen : QGuiApplication::screens()) on_screen = on_screen || screen->availableGeometry().intersects(saved);
    if (!on_screen) saved.moveTopLeft(QGuiApplication::primaryScreen()->availableGeometry().topLeft());
    setGeometry(saved);
    if (GetProfileInt(kGeometrySection, "maximized", 0))
      showMaximized();
    else
      show();
    return;
  }
  if (frame && frame->ShowCommand() == SW_SHOWMAXIMIZED) {
    resize(1024, 720);
    showMaximized();
  } else {
    resize(1024, 720);
    show();
  }
}

void CQtMainWindow::SaveGeometry() const {
  if (!shown_once_) return;
  QRect normal = isMaximized() ? normalGeometry() : geometry();
  WriteProfileInt(kGeometrySection, "left", normal.x());
  WriteProfileInt(kGeometrySection, "top", normal.y());
  WriteProfileInt(kGeometrySection, "width", normal.width());
  WriteProfileInt(kGeometrySection, "height", normal.height());
  WriteProfileInt(kGeometrySection, "maximized", isMaximized() ? 1 : 0);
}

bool CQtMainWindow::event(QEvent* event) {
  // A view that draws through the GPU (the web views) makes Qt create the top window anew on its
  // first show; the new native window does not carry the state the window had (maximised, full
  // screen), which it then loses with the window manager. The widget still knows it: hand it on.
  if (event->type() == QEvent::WinIdChange && shown_once_ && windowHandle() &&
      (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) &&
      windowHandle()->windowStates() != windowState())
    windowHandle()->setWindowStates(windowState());
  return QMainWindow::event(event);
}

void CQtMainWindow::ReportFrameRect() {
  if (binding_ && isVisible()) binding_->ReportGeometry(geometry());
}

void CQtMainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  ReportFrameRect();
}

void CQtMainWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  ReportFrameRect();
}

void CQtMainWindow::closeEvent(QCloseEvent* event) {
  CMainFrame* frame = Frame();
  if (!frame) {
    event->accept();
    return;
  }
  // The frame's WM_CLOSE ends the application, which then closes this window in order.
  event->ignore();
  SaveGeometry();
  frame->SendMessage(WM_CLOSE);
}

}  // namespace velmora
