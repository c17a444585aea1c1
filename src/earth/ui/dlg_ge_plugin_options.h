// CDlgGEPluginOptions: the side-bar page "地球插件", the plug-in view's options panel (the
// controls of dialog 274; 270 is the same without the choices): the page's versions, check
// boxes for the display options and built-in layers, choices of map mode, navigation control,
// fly-to speed and terrain exaggeration, the tree of the plug-in's features, view reset and page
// reload. Every handler first makes the plug-in view current (switching to it); when that cannot
// be, it shows kNeedPluginView and does nothing else. The plug-in view's controller fills the
// controls (CGEPluginCtrl::Refresh and FillPanelOnHandOver).
#pragma once
#include "platform/ui/window.h"
#include "shell/side_bar_panel.h"

namespace velmora {

class CGEPluginView;

class CDlgGEPluginOptions : public CWnd, public ISideBarPanel {
 public:
  static constexpr int IDD = 274;
  static constexpr int IDD_SHORT = 270;
  static constexpr int kPanelId = 0x7F24;
  static constexpr int IDC_VERSION = 1234;
  static constexpr int IDC_FIRST_BOX = 1235;
  static constexpr int IDC_LAST_BOX = 1248;
  static constexpr int IDC_MAP_MODE = 1225;
  static constexpr int IDC_NAVIGATION = 1226;
  static constexpr int IDC_FLY_SPEED = 1227;
  static constexpr int IDC_EXAGGERATION = 1228;
  static constexpr int IDC_TREE = 1268;
  static constexpr int IDC_LOOK_RESET = 1278;
  static constexpr int IDC_RELOAD = 1279;
  // String 32711: the message when the plug-in view cannot be made current.
  static constexpr const char* kNeedPluginView = "无法切换到谷歌地球插件视图,此操作需要在该视图中进行。";

  CDlgGEPluginOptions();
  // Makes the panel's window under `parent` (the main frame) with its controls.
  bool CreatePanel(CWnd* parent);
  const char* GetPanelName() const override { return "地球插件"; }
  CWnd* GetPanelWnd() override { return this; }

  // The plug-in view, made current when it is not; null (after the message) when it cannot be.
  CGEPluginView* EnsurePluginView();

 private:
  void Layout();
};

// Registers the templates of dialogs 274 and 270 (the controls, their ids and texts).
void RegisterGEPluginOptionsTemplates();

}  // namespace velmora
