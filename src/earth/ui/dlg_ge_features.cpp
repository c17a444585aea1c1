// The "谷歌地球" side-bar page of the earth application view.
#include "earth/ui/dlg_ge_features.h"

#include <cmath>
#include <filesystem>
#include <system_error>

#include "core/format.h"
#include "core/log.h"
#include "core/settings.h"
#include "earth/ui/earth_link.h"
#include "earth/ui/ge_app_view.h"
#include "exchange/kml_file.h"
#include "places/address_ado.h"
#include "platform/ui/ui_host.h"
#include "shell/kovra_home_ex_app.h"

namespace velmora {

namespace {

constexpr int kRowHeight = 22;
constexpr int kGap = 4;

}  // namespace

int TerrainEntryOf(double exaggeration) {
  if (!std::isfinite(exaggeration)) return 0;
  return static_cast<int>((exaggeration - 0.01) * 3.3444816053511706);
}

double TerrainOfEntry(int entry) { return entry * 0.299 + 0.01; }

CDlgGEFeatures::CDlgGEFeatures() {
  MapControlNotify(IDC_TERRAIN, CBN_SELCHANGE, [this] { OnTerrain(); });
  MapNotify(IDC_TREE, NM_CLICK, [this](NMHDR* hdr) { return OnTreeClick(hdr); });
  MapControlNotify(IDC_SEARCH, BN_CLICKED, [this] { OnSearch(); });
  MapControlNotify(IDC_LOOK_RESET, BN_CLICKED, [this] {
    if (CGEAppView* view = EnsureView(); view && view->App()) view->App()->LookReset();
  });
  MapControlNotify(IDC_CAPTURE, BN_CLICKED, [this] {
    if (CGEAppView* view = EnsureView()) view->Capture();
  });
  MapControlNotify(IDC_RELEASE, BN_CLICKED, [this] {
    if (CGEAppView* view = EnsureView()) view->Release();
  });
}

CDlgGEFeatures::~CDlgGEFeatures() {
  *alive_ = false;
  if (IsWindow()) DestroyWindow();
}

bool CDlgGEFeatures::CreatePanel(CWnd* parent) {
  if (IsWindow()) return true;
  if (!Create(parent, kPanelId, kGEFeaturesPanelName, WS_CHILD | WS_VISIBLE, RECT{0, 0, 200, 400})) return false;
  const uint32_t style = WS_CHILD | WS_VISIBLE;
  bool ok = version_.Create(this, IDC_VERSION, "谷歌地球: ?", style) &&
            terrain_label_.Create(this, -1, "地形提升", style) && terrain_.Create(this, IDC_TERRAIN, "", style) &&
            tree_.Create(this, IDC_TREE, "", style | WS_BORDER) && search_text_.Create(this, IDC_SEARCH_TEXT, "", style) &&
            search_.Create(this, IDC_SEARCH, "搜索", style) && look_reset_.Create(this, IDC_LOOK_RESET, "视角重置", style) &&
            capture_.Create(this, IDC_CAPTURE, "捕获", style) && release_.Create(this, IDC_RELEASE, "释放", style);
  if (!ok) {
    DestroyWindow();
    return false;
  }
  for (int i = 0; i < kTerrainEntries; ++i) terrain_.AddString(FormatFixed(TerrainOfEntry(i), 3));
  Layout(200, 400);
  return true;
}

void CDlgGEFeatures::Layout(int cx, int cy) {
  if (!tree_.IsWindow()) return;
  int y = kGap;
  version_.MoveWindow(RECT{kGap, y, cx - kGap, y + kRowHeight});
  y += kRowHeight + kGap;
  terrain_label_.MoveWindow(RECT{kGap, y, kGap + 60, y + kRowHeight});
  terrain_.MoveWindow(RECT{kGap + 64, y, cx - kGap, y + kRowHeight});
  y += kRowHeight + kGap;
  // The tree takes the height the controls below it leave.
  const int below = 2 * (kRowHeight + kGap) + kGap;
  tree_.MoveWindow(RECT{kGap, y, cx - kGap, std::max(y + kRowHeight, cy - below)});
  int row = std::max(y + kRowHeight, cy - below) + kGap;
  search_text_.MoveWindow(RECT{kGap, row, cx - 64, row + kRowHeight});
  search_.MoveWindow(RECT{cx - 60, row, cx - kGap, row + kRowHeight});
  row += kRowHeight + kGap;
  const int third = (cx - 2 * kGap) / 3;
  look_reset_.MoveWindow(RECT{kGap, row, kGap + third - 2, row + kRowHeight});
  capture_.MoveWindow(RECT{kGap + third, row, kGap + 2 * third - 2, row + kRowHeight});
  release_.MoveWindow(RECT{kGap + 2 * third, row, cx - kGap, row + kRowHeight});
}

LRESULT CDlgGEFeatures::WindowProc(UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_SIZE) Layout(LOWORD(lparam), HIWORD(lparam));
  return CWnd::WindowProc(msg, wparam, lparam);
}

CGEAppView* CDlgGEFeatures::EnsureView() {
  CKovraHomeExApp* app = GetApp();
  IChildView* current = app ? app->GetCurrentView() : nullptr;
  if (app && (!current || current->GetViewKind() != kViewEarthApp)) current = app->SwitchView(kViewEarthApp);
  auto* view = dynamic_cast<CGEAppView*>(current);
  if (!view) ShowMessageBox(kGEFeaturesNeedView, MB_OK | MB_ICONINFORMATION);
  return view;
}

void CDlgGEFeatures::Fill(CGEAppView* view) {
  if (!view || !view->App() || !IsWindow()) return;
  CGoogleEarthApp& app = *view->App();
  try {
    version_.SetWindowText(FormatC("谷歌地球: %d.%d.%d", app.VersionMajor(), app.VersionMinor(), app.VersionBuild()));
  } catch (const CEarthError& e) {
    AppLog("earth panel: version: %s", e.what());
  }
  if (view->Link()) {
    const double exaggeration = view->Link()->State().exaggeration;
    const int entry = TerrainEntryOf(exaggeration);
    terrain_.SetCurSel(entry >= 0 && entry < kTerrainEntries ? entry : -1);
  }
  LoadLayers(view);
}

void CDlgGEFeatures::LoadLayers(CGEAppView* view) {
  std::weak_ptr<bool> alive = alive_;
  view->CallPage("layers", {}, [this, alive](std::optional<std::string> answer) {
    if (alive.expired() || !answer) return;
    layers_.clear();
    tree_.DeleteAllItems();
    size_t at = 0;
    while (at < answer->size()) {
      size_t end = answer->find('\n', at);
      if (end == std::string::npos) end = answer->size();
      const std::string line = answer->substr(at, end - at);
      at = end + 1;
      if (line.size() < 2 || line[1] != '\t') continue;
      Layer layer{line.substr(2), line[0] == '1'};
      const int image = layer.visible ? 1 : 0;
      HTREEITEM item = tree_.InsertItem(layer.name, image, image, TVI_ROOT);
      tree_.SetItemData(item, layers_.size());
      layers_.push_back(std::move(layer));
    }
  });
}

void CDlgGEFeatures::OnTerrain() {
  CGEAppView* view = EnsureView();
  const int entry = terrain_.GetCurSel();
  if (!view || !view->App() || entry < 0) return;
  view->App()->SetTerrain(TerrainOfEntry(entry));
}

LRESULT CDlgGEFeatures::OnTreeClick(NMHDR* hdr) {
  auto* tv = reinterpret_cast<NMTREEVIEW*>(hdr);
  if (tree_.LastClickHit() != TVHT_ONITEMICON || !tv->itemNew) return 0;  // a click on the text changes nothing
  CGEAppView* view = EnsureView();
  if (!view) return 0;
  const uintptr_t index = tree_.GetItemData(tv->itemNew);
  // The item's index must name a layer the panel knows now.
  if (index >= layers_.size()) {
    AppLog("earth panel: tree item %zu names no layer", static_cast<size_t>(index));
    return 0;
  }
  HTREEITEM item = tv->itemNew;
  const std::string name = layers_[index].name;
  std::weak_ptr<bool> alive = alive_;
  view->CallPage("toggleLayer", {ScriptValue::Number(static_cast<double>(index)), ScriptValue::String(name)},
                 [this, alive, item, index](std::optional<std::string> answer) {
                   if (alive.expired() || !answer || index >= layers_.size() || !tree_.ItemExists(item)) return;
                   layers_[index].visible = *answer == "1";
                   const int image = layers_[index].visible ? 1 : 0;
                   tree_.SetItemImage(item, image, image);
                 });
  return 0;
}

void CDlgGEFeatures::OnSearch() {
  CGEAppView* view = EnsureView();
  if (!view) return;
  const std::string text = search_text_.GetWindowText();
  if (text.empty()) return;
  // The local address databases only: no web request.
  AddressHitList hits;
  for (int id : {8, 111, 112}) {
    std::error_code ec;
    if (!std::filesystem::exists(CAddressAdo::DatabasePath(id), ec)) continue;
    CAddressAdo database;
    if (database.Open(id)) database.Search(text, hits);
  }
  const std::string path = AppOptions().data_dir + kGESearchFile;
  std::string error;
  FILE* f = OpenKmlFile(path, "search_result", &error);
  if (!f) {
    AppLog("earth panel: %s", error.c_str());
    return;
  }
  for (const AddressHit& hit : hits) {
    if (!std::isfinite(hit.lng) || !std::isfinite(hit.lat)) continue;
    std::fprintf(f, "<Placemark><name>%s</name><Point><coordinates>%s,%s,0</coordinates></Point></Placemark>\n",
                 KmlEscape(hit.name).c_str(), FormatFixed(hit.lng, 6).c_str(), FormatFixed(hit.lat, 6).c_str());
  }
  if (!CloseKmlFile(f, &error)) {
    AppLog("earth panel: %s", error.c_str());
    return;
  }
  if (view->Link()) view->Link()->Post("dropKml", {ScriptValue::String("search_result")});
  view->OpenKmlAsync(path);
}

}  // namespace velmora
