// CDlgGEFeatures: the side-bar page "谷歌地球" of the earth application view (dialog 277): the
// globe's version, the terrain exaggeration choice "地形提升", the tree of the globe's layers
// (imagery, terrain, grid, temporary places) whose icons switch them on and off, a search of the
// local address database whose hits show as places on the globe, and the buttons "视角重置",
// capture and release. Every handler first makes the earth application view current; when it
// cannot, it tells the person so and does nothing else.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/tree_ctrl.h"
#include "platform/ui/window.h"
#include "shell/side_bar_panel.h"

namespace velmora {

class CGEAppView;

inline constexpr char kGEFeaturesPanelName[] = "谷歌地球";
// Shown when a handler of the panel cannot make the earth application view current.
inline constexpr char kGEFeaturesNeedView[] = "请先切换到谷歌地球视图。";
inline constexpr char kGESearchFile[] = "search_result.kml";

// The terrain choice's entry of an exaggeration, and the exaggeration of an entry.
int TerrainEntryOf(double exaggeration);
double TerrainOfEntry(int entry);

class CDlgGEFeatures : public CWnd, public ISideBarPanel {
 public:
  static constexpr int IDD = 277;
  static constexpr int kPanelId = 277;
  static constexpr int IDC_VERSION = 1234, IDC_TERRAIN = 1228, IDC_TREE = 1268, IDC_SEARCH_TEXT = 1276,
                       IDC_SEARCH = 1277, IDC_LOOK_RESET = 1278, IDC_CAPTURE = 1279, IDC_RELEASE = 1280;
  static constexpr int kTerrainEntries = 11;

  CDlgGEFeatures();
  ~CDlgGEFeatures() override;

  const char* GetPanelName() const override { return kGEFeaturesPanelName; }
  CWnd* GetPanelWnd() override { return this; }
  // Makes the panel and its controls under `parent`.
  bool CreatePanel(CWnd* parent);

  // Called by the view once the page is up: version, exaggeration, layer tree (the page answers
  // later; the panel fills as the answers come).
  void Fill(CGEAppView* view);

  // The controls (tests drive them as a person would).
  CComboBox& Terrain() { return terrain_; }
  CTreeCtrl& Tree() { return tree_; }
  CEdit& SearchText() { return search_text_; }
  // Number of layers the tree shows.
  size_t LayerCount() const { return layers_.size(); }
  // The visibility the page last reported for a layer.
  bool LayerVisible(size_t index) const { return index < layers_.size() && layers_[index].visible; }

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wparam, LPARAM lparam) override;

 private:
  struct Layer {
    std::string name;
    bool visible = false;
  };
  // The earth application view made current; null (the person told) when it cannot be.
  CGEAppView* EnsureView();
  void Layout(int cx, int cy);
  void LoadLayers(CGEAppView* view);
  void OnTerrain();
  LRESULT OnTreeClick(NMHDR* hdr);
  void OnSearch();

  CStatic version_;
  CStatic terrain_label_;
  CComboBox terrain_;
  CTreeCtrl tree_;
  CEdit search_text_;
  CButton search_;
  CButton look_reset_;
  CButton capture_;
  CButton release_;
  std::vector<Layer> layers_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace velmora
