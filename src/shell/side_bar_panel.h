// ISideBarPanel: a panel of the main frame's left bar, found by its name ("行政地名", "卫星库",
// "谷歌地球", ...).
#pragma once

namespace velmora {

class CWnd;

class ISideBarPanel {
 public:
  virtual ~ISideBarPanel() = default;
  virtual const char* GetPanelName() const = 0;
  // The panel's window, when it has one.
  virtual CWnd* GetPanelWnd() { return nullptr; }
};

}  // namespace velmora
