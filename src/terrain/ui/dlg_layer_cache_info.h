// CDlgLayerCacheInfo: "图层离线缓存信息", which tiles of a layer the local tile store holds: a
// layer choice (the catalogue's map sources), a zoom level choice and the coverage panel
// (CLayerStat3DPanel) showing the stored keys of that level. The check box "三维显示" sets the
// panel's mode ("layerstat_3d") for the next opening; the panel keeps the mode it was made with.
#pragma once
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "terrain/ui/layer_stat_3d_panel.h"
#include "tiles/tile_key.h"

namespace velmora {

class CTileManager;

inline constexpr UINT ID_LAYER_CACHE_INFO = 33101;
inline constexpr const char kLayerCacheInfoCommandText[] = "图层离线缓存信息...";

class CDlgLayerCacheInfo : public CDialog {
 public:
  static constexpr int kTemplateId = 0x7F40;
  enum : int { kIdLayer = 1001, kIdZoom = 1002, kIdPanel = 1003, kId3D = 1004, kIdCount = 1005 };
  static constexpr int kDefaultZoom = 2;

  // `tiles` null: the program's tile manager.
  explicit CDlgLayerCacheInfo(CTileManager* tiles = nullptr, CWnd* parent = nullptr);

  // The chosen layer's stored keys at the chosen level, drawn on the panel.
  void Refresh();
  const std::vector<TileKey>& Keys() const { return keys_; }
  CLayerStat3DPanel& Panel() { return panel_; }

 protected:
  bool OnInitDialog() override;

 private:
  CTileManager* tiles_;
  CLayerStat3DPanel panel_;
  std::vector<TileKey> keys_;
};

// Adds the command ("工具/图层离线缓存信息...") to the command table, and takes it away.
void RegisterLayerCacheInfoCommand();
void UnregisterLayerCacheInfoCommand();

}  // namespace velmora
