// The station search.
#include "places/ui/dlg_station_search.h"

#include "core/settings.h"
#include "places/ui/map_tool_views.h"
#include "platform/text.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

using K = ControlKind;

DialogTemplate StationSearchTemplate() {
  DialogTemplate t;
  t.id = CDlgStationSearch::kTemplateId;
  t.caption = "站名搜索";
  t.cx = 200;
  t.cy = 220;
  t.controls = {
      {K::kEdit, CDlgStationSearch::kIdText, "", 4, 4, 100, 12, 0},
      {K::kDefButton, IDOK, "搜索", 108, 4, 40, 12, 0},
      {K::kButton, CDlgStationSearch::kIdArea, "区域搜索", 152, 4, 44, 12, 0},
      {K::kListView, CDlgStationSearch::kIdList, "", 4, 20, 192, 196, 0},
  };
  return t;
}

}  // namespace

CDlgStationSearch::CDlgStationSearch(LineSource lines, CPDView* view, CWnd* parent)
    : CDialogEx(StationSearchTemplate(), parent), lines_(std::move(lines)), view_(view) {
  BindControl(kIdList, list_);
  MapCommand(kIdArea, [this] { StartAreaSearch(); });
  MapNotify(kIdList, NM_DBLCLK, [this](NMHDR*) {
    const int row = list_.GetNextItem(-1, LVNI_SELECTED);
    if (row >= 0 && row < static_cast<int>(hits_.size())) {
      const BusStation& s = hits_[static_cast<size_t>(row)].station;
      if (CPDView* view = View()) view->SetCamera(s.lng, s.lat, view->GetZoom(), true);
    }
    return LRESULT{0};
  });
  // The list keeps to the client area below the edit.
  MapMessage(WM_SIZE, [this](WPARAM, LPARAM l) {
    const int cx = GET_X_LPARAM(l), cy = GET_Y_LPARAM(l);
    if (list_.IsWindow() && cx > 0 && cy > 0) {
      const RECT r = list_.GetWindowRect();
      list_.MoveWindow(RECT{r.left, r.top, std::max(r.left + 1, cx - r.left), std::max(r.top + 1, cy - r.left)});
    }
    return LRESULT{0};
  });
}

CDlgStationSearch::~CDlgStationSearch() { EndAreaSearch(); }

CPDView* CDlgStationSearch::View() const { return view_ ? view_ : MapToolView(); }

bool CDlgStationSearch::OnInitDialog() {
  list_.InsertColumn(0, "线路", LVCFMT_LEFT, 90);
  list_.InsertColumn(1, "站名", LVCFMT_LEFT, 120);
  SetDlgItemText(kIdText, GetProfileString(kRecentSection, kRecentKey, ""));
  return true;
}

void CDlgStationSearch::OnDestroy() {
  EndAreaSearch();
  CDialogEx::OnDestroy();
}

int CDlgStationSearch::Search() {
  const std::string text = GetDlgItemText(kIdText);
  if (TrimAscii(text).empty()) return 0;
  WriteProfileString(kRecentSection, kRecentKey, text);
  const StationQuery query = ParseStationQuery(text);
  std::vector<CBusLine> lines = lines_ ? lines_(query.kind != StationQuery::Kind::kName) : std::vector<CBusLine>{};
  hits_ = SearchStations(lines, query);
  list_.DeleteAllItems();
  for (size_t i = 0; i < hits_.size(); ++i) {
    const int row = list_.InsertItem(static_cast<int>(i), hits_[i].line);
    list_.SetItemText(row, 1, hits_[i].station.name);
  }
  return static_cast<int>(hits_.size());
}

int CDlgStationSearch::SearchFor(const std::string& text) {
  SetDlgItemText(kIdText, text);
  return Search();
}

bool CDlgStationSearch::StartAreaSearch() {
  CPDView* view = View();
  if (!view) return false;
  if (CMainFrame* frame = GetMainFrame()) frame->ShowFrame(SW_SHOW);
  area_ = true;
  view->SetBoxHandler([this](const float top_left[2], const float bottom_right[2]) {
    // Ending the search drops this handler: nothing of it is touched afterwards.
    CDlgStationSearch* self = this;
    const std::string text = FormatRectQuery(top_left[0], top_left[1], bottom_right[0], bottom_right[1]);
    self->EndAreaSearch();
    self->SearchFor(text);
  });
  view->SetTool(CPDView::Tool::kBox);
  return true;
}

void CDlgStationSearch::EndAreaSearch() {
  if (!area_) return;
  area_ = false;
  if (CPDView* view = View()) {
    view->SetBoxHandler({});
    view->SetTool(CPDView::Tool::kPan);
  }
}

}  // namespace velmora
