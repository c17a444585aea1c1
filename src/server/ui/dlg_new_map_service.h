// CDlgNewMapService: the service editor "新建地图发布服务" (template 266), opened by the services
// dialog for a new or an existing service. The person picks sources of the catalogue into the
// ordered base-layer and overlay lists (right-click menus), and sets the port and the name; OK
// checks them against the running server before the dialog closes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "server/wmts_server.h"
#include "shell/dialog_ex.h"
#include "shell/list_ctrl_ex.h"

namespace velmora {

// The port a new service is offered first: the default service's own, which a normal user may
// listen on.
inline constexpr int kNewServiceDefaultPort = kDefaultServicePort;
// Longest service name, in GBK bytes: the one-byte length form of the services file's strings,
// which every reader of the format takes.
inline constexpr size_t kMaxServiceNameBytes = 254;
// Most sources in each of the two layer lists.
inline constexpr size_t kMaxServiceLayers = 64;

class CDlgNewMapService : public CDialogEx {
 public:
  static constexpr int kIdPort = 1213;
  static constexpr int kIdName = 1339;
  static constexpr int kIdSources = 1232;
  static constexpr int kIdBaseLayers = 1233;
  static constexpr int kIdOverlays = 1234;
  // Commands of the lists' pop-up menus.
  static constexpr UINT kCmdAddBaseLayer = 32898;
  static constexpr UINT kCmdAddOverlay = 32899;
  static constexpr UINT kCmdDelete = 57632;
  static constexpr UINT kCmdUp = 32900;
  static constexpr UINT kCmdDown = 32901;

  // `server` answers whether a port is free.
  explicit CDlgNewMapService(CWmtsServer& server, CWnd* parent = nullptr);

  // ---- the fields: set before DoModal, read after OK ----
  int Port() const { return port_; }
  void SetPort(int port) { port_ = port; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  const std::vector<int32_t>& BaseLayers() const { return base_layers_; }
  const std::vector<int32_t>& Overlays() const { return overlays_; }
  void SetLayers(std::vector<int32_t> base_layers, std::vector<int32_t> overlays) {
    base_layers_ = std::move(base_layers);
    overlays_ = std::move(overlays);
  }
  // Editing an existing service: its own port is not asked about again when OK keeps it. A new
  // service (the default) has no port of its own, so even the offered one is checked.
  void SetOwnPort(int port) { own_port_ = port; }

  CListCtrlEx& SourceList() { return sources_; }
  CListCtrlEx& BaseLayerList() { return base_list_; }
  CListCtrlEx& OverlayList() { return overlay_list_; }

 protected:
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  void SetUpList(CListCtrlEx& list);
  void FillLayerList(CListCtrlEx& list, const std::vector<int32_t>& ids);
  static std::string RowText(const CListCtrl& list, int item, int sub_item);
  void OnSourceRightClick(NMHDR* hdr);
  void OnLayerListRightClick(CListCtrlEx& list, NMHDR* hdr);
  void AddSelectedSource(CListCtrlEx& target);
  // The base-layer or overlay list that has the focus (or was clicked last); null for neither.
  CListCtrlEx* FocusedLayerList() const;
  void DeleteSelectedRow();
  void MoveSelectedRow(int step);
  static std::vector<int32_t> RowIds(const CListCtrl& list);

  CWmtsServer& server_;
  CListCtrlEx overlay_list_;
  CListCtrlEx base_list_;
  CListCtrlEx sources_;
  int port_ = kNewServiceDefaultPort;
  std::string name_ = "谷歌";
  std::vector<int32_t> base_layers_;
  std::vector<int32_t> overlays_;
  int own_port_ = 0;  // 0: a new service
  CListCtrlEx* last_layer_list_ = nullptr;
};

}  // namespace velmora
