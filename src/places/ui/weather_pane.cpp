// The weather tool window.
#include "places/ui/weather_pane.h"

#include "core/settings.h"
#include "places/ui/dlg_weather_display.h"
#include "places/ui/map_info_commands.h"
#include "platform/ui/menu.h"
#include "platform/ui/ui_dispatcher.h"

namespace velmora {
namespace {

DialogTemplate WeatherPaneTemplate() {
  DialogTemplate t;
  t.id = CWeatherPane::kTemplateId;
  t.caption = "天气";
  t.cx = 160;
  t.cy = 260;
  t.controls = {{ControlKind::kTreeView, CWeatherPane::kIdTree, "", 0, 0, 160, 260, 0}};
  return t;
}

}  // namespace

CWeatherPane::CWeatherPane(CWnd* parent) : CDialogEx(WeatherPaneTemplate(), parent) {
  BindControl(kIdTree, tree_);
  MapCommand(ID_WEATHER_CHINA, [this] { OnChina(); });
  MapCommand(ID_WEATHER_SETTINGS, [this] { OnSettings(); });
  MapNotify(kIdTree, TVN_SELCHANGED, [this](NMHDR* hdr) {
    ExpandItem(reinterpret_cast<NMTREEVIEW*>(hdr)->itemNew);
    return LRESULT{0};
  });
  MapNotify(kIdTree, NM_RCLICK, [this](NMHDR*) {
    OnContextMenu(tree_.GetSelectedItem());
    return LRESULT{0};
  });
  MapMessage(kMsgExpanded, [this](WPARAM, LPARAM) {
    OnExpanded();
    return LRESULT{0};
  });
  MapMessage(WM_SIZE, [this](WPARAM, LPARAM l) {
    const int cx = GET_X_LPARAM(l), cy = GET_Y_LPARAM(l);
    if (tree_.IsWindow() && cx > 0 && cy > 0) tree_.MoveWindow(RECT{0, 0, cx, cy});
    return LRESULT{0};
  });
}

CWeatherPane::~CWeatherPane() { worker_.Stop(kInfinite); }

bool CWeatherPane::OnInitDialog() {
  OnChina();
  return true;
}

void CWeatherPane::OnDestroy() {
  // The worker only posts to the pane: stopping it never waits on this thread.
  worker_.Stop(kInfinite);
  fetching_ = placeholder_ = 0;
  CDialogEx::OnDestroy();
}

const WeatherItem* CWeatherPane::ItemRecord(HTREEITEM item) const {
  if (item == 0 || !tree_.ItemExists(item)) return nullptr;
  const uintptr_t index = tree_.GetItemData(item);
  return index < records_.size() ? &records_[index].item : nullptr;
}

HTREEITEM CWeatherPane::Insert(Record record, HTREEITEM parent) {
  const std::string text = record.item.fields[kWthCityName].empty() ? record.item.display : WeatherItemText(record.item);
  records_.push_back(std::move(record));
  HTREEITEM item = tree_.InsertItem(text, parent);
  tree_.SetItemData(item, records_.size() - 1);
  return item;
}

void CWeatherPane::OnChina() {
  worker_.Stop(kInfinite);
  fetching_ = placeholder_ = 0;
  tree_.DeleteAllItems();
  records_.clear();
  Record top;
  top.item.display = "全国";
  top.item.py_name = kTopRegion;
  HTREEITEM root = Insert(std::move(top), TVI_ROOT);
  ExpandItem(root);
  StartWeatherWatch(ProgramSettings().GetString(kWeatherPyKey, kWeatherDefaultPy),
                    ProgramSettings().GetString(kWeatherUrlKey, kWeatherDefaultUrl));
}

bool CWeatherPane::ExpandItem(HTREEITEM item) {
  const WeatherItem* record = ItemRecord(item);
  if (!record || record->py_name.empty() || tree_.ItemHasChildren(item) || fetching_ != 0) return false;
  fetching_ = item;
  placeholder_ = tree_.InsertItem(kFetching, item);
  tree_.SetItemData(placeholder_, UINTPTR_MAX);
  tree_.Expand(item, TVE_EXPAND);
  const std::string py = record->py_name;
  const HWND hwnd = GetSafeHwnd();
  worker_.Stop(kInfinite);
  // The worker fetches and parses; the items are inserted here, on the user-interface thread.
  return worker_.Start("WeatherExpand", [this, hwnd, py] {
    worker_.SignalReady();
    std::optional<std::vector<WeatherItem>> children;
    if (std::optional<std::string> xml = FetchWeatherRegion(py, CWorkThread::CurrentQuitFlag()))
      children = ParseWeatherRegion(*xml);
    {
      std::lock_guard lock(result_mutex_);
      result_ = std::move(children);
    }
    UiDispatcher().PostMessage(hwnd, kMsgExpanded, 0, 0);
  });
}

void CWeatherPane::OnExpanded() {
  worker_.OnExit();
  std::optional<std::vector<WeatherItem>> children;
  {
    std::lock_guard lock(result_mutex_);
    children = std::move(result_);
    result_.reset();
  }
  const HTREEITEM item = fetching_;
  if (placeholder_ && tree_.ItemExists(placeholder_)) tree_.DeleteItem(placeholder_);
  fetching_ = placeholder_ = 0;
  if (item == 0 || !tree_.ItemExists(item)) return;
  const uintptr_t index = tree_.GetItemData(item);
  if (index >= records_.size()) return;
  if (!children) {
    // Nothing came: the item is not tried again.
    records_[index].item.py_name.clear();
    return;
  }
  const std::string region = records_[index].item.py_name;
  for (WeatherItem& child : *children) Insert(Record{std::move(child), region}, item);
  tree_.Expand(item, TVE_EXPAND);
}

bool CWeatherPane::WatchItem(HTREEITEM item) {
  const WeatherItem* record = ItemRecord(item);
  if (!record || record->url.empty()) return false;
  const std::string& region = records_[tree_.GetItemData(item)].region;
  if (region.empty()) return false;
  return StartWeatherWatch(region, record->url);
}

void CWeatherPane::OnSettings() {
  CDlgWeatherDisplay dialog(this);
  if (dialog.DoModal() == IDOK) ApplyWeatherStyle();
}

void CWeatherPane::OnContextMenu(HTREEITEM item) {
  CMenu menu;
  menu.CreatePopupMenu();
  const WeatherItem* record = ItemRecord(item);
  menu.AppendMenu(record && !record->url.empty() ? MF_STRING : MF_STRING | MF_GRAYED, kCmdWatch, "监视");
  menu.AppendMenu(MF_STRING, ID_WEATHER_SETTINGS, "设置");
  switch (static_cast<UINT>(menu.TrackPopupMenu(TPM_RETURNCMD | TPM_RIGHTBUTTON, 0, 0, this))) {
    case kCmdWatch: WatchItem(item); break;
    case ID_WEATHER_SETTINGS: OnSettings(); break;
    default: break;
  }
}

}  // namespace velmora
