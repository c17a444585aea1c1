// CDlgMapServices: the services dialog "地图发布服务" (template 265). It lists the published
// services with their state, port, active connections and byte totals (asked again every second),
// and, for the service double-clicked, its connections and every peer that ever connected. The
// service list's right-click menu adds, edits, deletes, starts and stops services and opens them
// in the browser; every change reaches the running server at once and is saved to "wmts.dat".
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/image_list.h"
#include "platform/ui/menu.h"
#include "shell/dialog_ex.h"
#include "shell/list_ctrl_ex.h"

namespace velmora {

class CWmtsServer;
class CWmtsService;

class CDlgMapServices : public CDialogEx {
 public:
  static constexpr int kIdServices = 1212;
  static constexpr int kIdConnections = 1213;
  static constexpr int kIdPeers = 1214;
  // Commands of the service list's pop-up menu.
  static constexpr UINT kCmdNew = 32887;
  static constexpr UINT kCmdModify = 32750;
  static constexpr UINT kCmdDelete = 32888;
  static constexpr UINT kCmdStartStop = 32884;
  static constexpr UINT kCmdBrowseLocal = 32882;
  static constexpr UINT kCmdBrowseRemote = 32883;
  static constexpr UINT kCmdRequestLog = 32886;
  static constexpr UINT_PTR kRefreshTimer = 1;
  static constexpr unsigned kRefreshMs = 1000;

  // The dialog of `server` (the program's own by default).
  explicit CDlgMapServices(CWnd* parent = nullptr, CWmtsServer* server = nullptr);
  ~CDlgMapServices() override;

  CListCtrlEx& ServiceList() { return services_; }
  CListCtrlEx& ConnectionList() { return connections_; }
  CListCtrlEx& PeerList() { return peers_; }
  // The service list's pop-up menu: every item but "新建服务" greyed when the click was on no
  // row; the request log item checked while the log is switched on.
  CMenu ServiceMenu(bool on_row) const;

 protected:
  bool OnInitDialog() override;
  void OnDestroy() override;

 private:
  // The service of the selected row, or null (also when the row's service is gone).
  CWmtsService* SelectedService() const;
  bool IsListed(const CWmtsService* service) const;
  void OnRefresh();
  void OnServiceRightClick(NMHDR* hdr);
  void OnServiceDoubleClick();
  void OnNew();
  void OnModify();
  void OnDelete();
  void OnStartStop();
  void OnBrowse(bool local);
  void OnRequestLog();
  void RefillServices();
  // Fills the connection and peer lists of `shown_` (emptied when it is null); rows are
  // rewritten only when their texts changed, so that a selection survives the refresh.
  void ShowPeers();
  // Starts accepting; a service that cannot listen is told to the person (it shows as stopped):
  // by the server's listen-failure sink when it has one, else here.
  void StartService(CWmtsService& service);
  void ReportNotListening(const CWmtsService& service);
  // Saves "wmts.dat"; a failure is told to the person (the old file stays as it was).
  void Save();
  // The port offered for a new service: the default port, else the next one that is free.
  int OfferedPort() const;

  CWmtsServer& server_;
  CListCtrlEx peers_;
  CListCtrlEx connections_;
  CListCtrlEx services_;
  CImageList own_images_;            // the state pictures when there is no application object
  CWmtsService* shown_ = nullptr;    // whose connections and peers are listed
};

}  // namespace velmora
