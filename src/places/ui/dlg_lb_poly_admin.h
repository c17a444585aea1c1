// CDlgLBPolyAdmin: the boundary panel (template 244), a tool window. A name typed into the edit
// and "获取" fetch the outline of a province, city or county: source 0 asks the boundary page of
// the panel's own hidden script window (polygon mode, polled every 100 ms), sources 1-3 the REST
// layers on a worker thread (cancelled when the panel closes; a network failure shows in the
// status bar's network state). The rings become boundary polygons of the 2D view ("<name>-<n>"
// or the plain name); the region list below the saved-region tree lists the view's boundaries,
// and a boundary can be saved into the tree or opened in CDlgBoundaryProp.
#pragma once
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/work_thread.h"
#include "earth/ui/html_wnd.h"
#include "places/boundary_query.h"
#include "platform/ui/controls.h"
#include "shell/dialog_ex.h"
#include "shell/menu_edit.h"
#include "shell/region_tree.h"

namespace velmora {

class CPDView;
class CPolygonShape;

class CDlgLBPolyAdmin : public CDialogEx {
 public:
  static constexpr int kTemplateId = 244;
  static constexpr int kIdTree = 1535, kIdGet = 1035, kIdName = 1339, kIdCentre = 1128, kIdClear = 1105;
  static constexpr int kIdList = 1412, kIdSource = 1216;
  static constexpr const char* kCue = "输入边界名,查询获取...";
  static constexpr const char* kSaveQuestion = "是：新增子项\n否：替换原区域\n请选择";
  // Refreshes the region list.
  static constexpr UINT kMsgRefreshList = WM_USER + 4;
  // The worker's answer is ready.
  static constexpr UINT kMsgRestDone = WM_USER + 5;
  static constexpr UINT_PTR kPollTimer = 1;
  static constexpr unsigned kPollMs = 100;
  // Polls of the script page before the query is given up (30 s).
  static constexpr int kMaxPolls = 300;
  // Commands of the region list's menu.
  static constexpr UINT kCmdSave = 0x9E01, kCmdProperties = 0x9E02;
  static constexpr int kDividerMinBottom = 20;

  // `view` null: the application's 2D map view.
  explicit CDlgLBPolyAdmin(CWnd* parent = nullptr, CPDView* view = nullptr);
  ~CDlgLBPolyAdmin() override;

  // "获取".
  void OnGet();
  // Saves the boundary of a region-list row into the tree (asking when a tree item is selected).
  bool SaveRow(int row);
  // Opens the details dialog of a region-list row's polygon (modal).
  void OpenProperties(int row);
  // The polygon of a region-list row (the view's boundary), or null.
  CPolygonShape* PolygonOfRow(int row) const;

  bool IsQuerying() const { return querying_; }
  CRegionTree& Tree() { return tree_; }
  CRegionList& List() { return list_; }
  CMenuEdit& NameEdit() { return edit_; }
  CHtmlWnd& ScriptWindow() { return script_; }
  int DividerY() const { return divider_; }

 protected:
  bool OnInitDialog() override;
  void OnDestroy() override;

 private:
  CPDView* View() const;
  void Show(const std::string& name, const std::string& reply);
  void OnPoll();
  void OnRestDone();
  void Layout(int cx, int cy);
  void OnListMenu(int row);

  CPDView* view_;
  CRegionTree tree_;
  CRegionList list_;
  CMenuEdit edit_;
  CHtmlWnd script_;
  std::string query_name_;
  bool querying_ = false;
  bool script_asked_ = false;
  int polls_ = 0;

  CWorkThread worker_;
  std::mutex result_mutex_;
  std::optional<std::string> result_;  // the worker's reply (result_mutex_)

  bool source_set_ = false;
  int divider_ = -1;  // top of the list, in the panel's pixels
  bool dragging_ = false;
  int width_ = 0, height_ = 0;
};

}  // namespace velmora
