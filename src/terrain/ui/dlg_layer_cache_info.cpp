// The layer offline-cache information dialog.
#include "terrain/ui/dlg_layer_cache_info.h"

#include <string>

#include "core/format.h"
#include "core/settings.h"
#include "platform/ui/dialog_template.h"
#include "shell/command_table.h"
#include "tiles/layer_manager.h"
#include "tiles/tile_manager.h"
#include "tiles/tile_store.h"

namespace velmora {
namespace {

int RegisteredTemplate() {
  static const int id = [] {
    using K = ControlKind;
    DialogTemplate t;
    t.id = CDlgLayerCacheInfo::kTemplateId;
    t.caption = "图层离线缓存信息";
    t.cx = 420;
    t.cy = 262;
    t.controls = {
        {K::kStatic, -1, "图层", 7, 9, 24, 10, 0},
        {K::kComboBox, CDlgLayerCacheInfo::kIdLayer, "", 34, 7, 170, 200, 0},
        {K::kStatic, -1, "级别", 212, 9, 24, 10, 0},
        {K::kComboBox, CDlgLayerCacheInfo::kIdZoom, "", 238, 7, 40, 200, 0},
        {K::kCheckBox, CDlgLayerCacheInfo::kId3D, "三维显示", 288, 8, 60, 12, 0},
        {K::kCustom, CDlgLayerCacheInfo::kIdPanel, "", 7, 26, 406, 203, 0},
        {K::kStatic, CDlgLayerCacheInfo::kIdCount, "", 7, 236, 200, 10, 0},
        {K::kButton, IDCANCEL, "关闭", 363, 241, 50, 14, 0},
    };
    RegisterDialogTemplate(t);
    return t.id;
  }();
  return id;
}

}  // namespace

CDlgLayerCacheInfo::CDlgLayerCacheInfo(CTileManager* tiles, CWnd* parent)
    : CDialog(RegisteredTemplate(), parent), tiles_(tiles) {
  BindControl(kIdPanel, panel_);
  MapControlNotify(kIdLayer, CBN_SELCHANGE, [this] { Refresh(); });
  MapControlNotify(kIdZoom, CBN_SELCHANGE, [this] { Refresh(); });
  MapControlNotify(kId3D, BN_CLICKED, [this] {
    // For the next opening: the panel keeps the mode it was made with.
    ProgramSettings().SetInt(kLayerStat3DKey, IsDlgButtonChecked(kId3D) == BST_CHECKED ? 1 : 0);
  });
}

bool CDlgLayerCacheInfo::OnInitDialog() {
  CComboBox* layers = GetDlgItemAs<CComboBox>(kIdLayer);
  CComboBox* zooms = GetDlgItemAs<CComboBox>(kIdZoom);
  if (layers) {
    const std::vector<MapSourceDef>& sources = LayerManager().Sources();
    for (size_t i = 0; i < sources.size(); ++i) {
      const int at = layers->AddString(GetSourceTitle(sources[i]));
      layers->SetItemData(at, static_cast<uintptr_t>(i));
    }
    if (layers->GetCount() > 0) layers->SetCurSel(0);
  }
  if (zooms) {
    for (int z = 0; z <= kMaxKeyZoom; ++z) zooms->AddString(std::to_string(z));
    zooms->SetCurSel(kDefaultZoom);
  }
  CheckDlgButton(kId3D, ProgramSettings().GetInt(kLayerStat3DKey, 0) != 0 ? BST_CHECKED : BST_UNCHECKED);
  Refresh();
  return true;
}

void CDlgLayerCacheInfo::Refresh() {
  keys_.clear();
  CComboBox* layers = GetDlgItemAs<CComboBox>(kIdLayer);
  CComboBox* zooms = GetDlgItemAs<CComboBox>(kIdZoom);
  const std::vector<MapSourceDef>& sources = LayerManager().Sources();
  const int layer = layers ? layers->GetCurSel() : -1;
  const int zoom = zooms ? zooms->GetCurSel() : -1;
  int kind = kKindMercator;
  if (layer >= 0 && zoom >= 0) {
    const size_t index = layers->GetItemData(layer);
    if (index < sources.size()) {
      const MapSourceDef& source = sources[index];
      kind = source.kind;
      CTileManager& tiles = tiles_ ? *tiles_ : TileManager();
      if (CTileStore* store = tiles.FindStore(source.id))
        for (TileKey key : store->GetKeys())
          if (TileKeyZoom(key) == zoom) keys_.push_back(key);
    }
  }
  SetDlgItemText(kIdCount, FormatC("已缓存瓦片: %zu", keys_.size()));
  panel_.DrawCoverage(keys_, kind);
}

void RegisterLayerCacheInfoCommand() {
  AppCommand c;
  c.id = ID_LAYER_CACHE_INFO;
  c.menu = "工具";
  c.text = kLayerCacheInfoCommandText;
  c.prompt = "显示图层在本机缓存的瓦片分布\n图层离线缓存信息";
  c.order = 60;
  c.handler = [] {
    CDlgLayerCacheInfo dialog;
    dialog.DoModal();
  };
  AppCommands().Register(std::move(c));
}

void UnregisterLayerCacheInfoCommand() { AppCommands().Unregister(ID_LAYER_CACHE_INFO); }

}  // namespace velmora
