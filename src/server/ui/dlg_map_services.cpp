// The services dialog.
#include "server/ui/dlg_map_services.h"

#include <algorithm>

#include "core/format.h"
#include "core/log.h"
#include "core/settings.h"
#include "platform/ui/menu.h"
#include "server/ui/dlg_new_map_service.h"
#include "server/ui/map_service_templates.h"
#include "server/ui/wmts_lists.h"
#include "server/wmts_server.h"
#include "server/wmts_service.h"
#include "shell/kovra_home_ex_app.h"

namespace velmora {
namespace {

constexpr int kAppIconResource = 126;

// Rows of a list as texts, for telling whether a refresh changes anything.
std::vector<std::vector<std::string>> ListTexts(const CListCtrl& list) {
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < list.GetItemCount(); ++i) {
    std::vector<std::string> row;
    for (int c = 0; c < std::max(1, list.GetColumnCount()); ++c) row.push_back(list.GetItemText(i, c));
    rows.push_back(std::move(row));
  }
  return rows;
}

void CopyRows(const CListCtrl& from, CListCtrl& to) {
  std::vector<std::vector<std::string>> rows = ListTexts(from);
  if (rows == ListTexts(to)) return;
  to.DeleteAllItems();
  for (const auto& row : rows) {
    int i = to.InsertItem(to.GetItemCount(), row.empty() ? std::string() : row[0]);
    for (size_t c = 1; c < row.size(); ++c) to.SetItemText(i, static_cast<int>(c), row[c]);
  }
}

}  // namespace

CDlgMapServices::CDlgMapServices(CWnd* parent, CWmtsServer* server)
    : CDialogEx(RegisterMapServiceTemplates(kMapServicesTemplateId), parent),
      server_(server ? *server : WmtsServer()) {
  BindControl(kIdPeers, peers_);
  BindControl(kIdConnections, connections_);
  BindControl(kIdServices, services_);
  MapTimer(kRefreshTimer, [this] { OnRefresh(); });
  MapNotify(kIdServices, NM_RCLICK, [this](NMHDR* hdr) {
    OnServiceRightClick(hdr);
    return LRESULT{0};
  });
  MapNotify(kIdServices, NM_DBLCLK, [this](NMHDR*) {
    OnServiceDoubleClick();
    return LRESULT{0};
  });
  MapCommand(kCmdNew, [this] { OnNew(); });
  MapCommand(kCmdModify, [this] { OnModify(); });
  MapCommand(kCmdDelete, [this] { OnDelete(); });
  MapCommand(kCmdStartStop, [this] { OnStartStop(); });
  MapCommand(kCmdBrowseLocal, [this] { OnBrowse(true); });
  MapCommand(kCmdBrowseRemote, [this] { OnBrowse(false); });
  MapCommand(kCmdRequestLog, [this] { OnRequestLog(); });
}

CDlgMapServices::~CDlgMapServices() { DestroyWindow(); }

bool CDlgMapServices::OnInitDialog() {
  SetWindowIconFromResource(this, kAppIconResource);
  CImageList* images = nullptr;
  if (CKovraHomeExApp* app = GetApp()) images = &app->SmallImageList();
  if (!images || images->GetImageCount() < 2) {
    own_images_.Create(16, 16);
    own_images_.Add("service_running.png");
    own_images_.Add("service_stopped.png");
    images = &own_images_;
  }
  services_.SetImageList(images);
  auto columns = [](CListCtrl& list, std::initializer_list<std::pair<const char*, int>> headings) {
    list.DeleteAllItems();
    while (list.GetColumnCount() > 0) list.DeleteColumn(0);
    int i = 0;
    for (const auto& [text, width] : headings) list.InsertColumn(i++, text, LVCFMT_LEFT, width);
    list.SetExtendedStyle(list.GetExtendedStyle() | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_SUBITEMIMAGES);
  };
  columns(services_, {{"名称", 100}, {"端口号", 100}, {"活动连接数", 100}, {"收数", 100}, {"发数", 100}});
  columns(connections_, {{"addr", 100}, {"port", 80}});
  columns(peers_, {{"addr", 100}, {"enter", 100}, {"leave", 100}});
  shown_ = nullptr;
  RefillServices();
  SetTimer(kRefreshTimer, kRefreshMs);
  return true;
}

void CDlgMapServices::OnDestroy() {
  KillTimer(kRefreshTimer);
  shown_ = nullptr;
  CDialogEx::OnDestroy();
}

bool CDlgMapServices::IsListed(const CWmtsService* service) const {
  if (!service) return false;
  for (CWmtsService* s : server_.Services())
    if (s == service) return true;
  return false;
}

CWmtsService* CDlgMapServices::SelectedService() const {
  int row = services_.GetNextItem(-1, LVNI_SELECTED);
  if (row < 0) return nullptr;
  auto* service = reinterpret_cast<CWmtsService*>(services_.GetItemData(row));
  return IsListed(service) ? service : nullptr;
}

void CDlgMapServices::RefillServices() {
  // The selection stays on the same service when it is still there.
  CWmtsService* selected = SelectedService();
  FillServiceList(server_, services_);
  if (selected) {
    int row = services_.FindItemByData(reinterpret_cast<uintptr_t>(selected));
    if (row >= 0) services_.SetItemState(row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  }
}

void CDlgMapServices::OnRefresh() {
  // The texts (port, active connections, byte totals) are asked again; the state picture with
  // them.
  for (int row = 0; row < services_.GetItemCount(); ++row) {
    auto* service = reinterpret_cast<CWmtsService*>(services_.GetItemData(row));
    if (IsListed(service) && services_.GetItemImage(row) != service->DisplayImage())
      services_.SetItemImage(row, service->DisplayImage());
  }
  services_.Invalidate();
  if (shown_) ShowPeers();
}

void CDlgMapServices::ShowPeers() {
  if (!IsListed(shown_)) shown_ = nullptr;
  if (!shown_) {
    connections_.DeleteAllItems();
    peers_.DeleteAllItems();
    return;
  }
  // Finished connections go first, so that the list shows the open ones (the service keeps a
  // finished one until its next reap).
  shown_->ReapClients();
  CListCtrl fresh_connections, fresh_peers;
  for (int c = 0; c < connections_.GetColumnCount(); ++c) fresh_connections.InsertColumn(c, "");
  for (int c = 0; c < peers_.GetColumnCount(); ++c) fresh_peers.InsertColumn(c, "");
  FillPeerLists(*shown_, fresh_connections, fresh_peers);
  CopyRows(fresh_connections, connections_);
  CopyRows(fresh_peers, peers_);
}

void CDlgMapServices::OnServiceDoubleClick() {
  CWmtsService* service = SelectedService();
  if (!service) return;
  shown_ = service;
  ShowPeers();
}

CMenu CDlgMapServices::ServiceMenu(bool on_row) const {
  const UINT row_item = on_row ? MF_STRING : MF_STRING | MF_GRAYED;
  CMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING, kCmdNew, "新建服务");
  menu.AppendMenu(row_item, kCmdModify, "修改服务");
  menu.AppendMenu(row_item, kCmdDelete, "删除服务");
  menu.AppendMenu(row_item, kCmdStartStop, "开始/停止");
  menu.AppendSeparator();
  menu.AppendMenu(row_item, kCmdBrowseLocal, "本地浏览");
  menu.AppendMenu(row_item, kCmdBrowseRemote, "远程浏览");
  // The request log switch lives here, below the other commands, with its state as a check mark.
  menu.AppendSeparator();
  menu.AppendMenu(MF_STRING, kCmdRequestLog, "记录请求日志");
  menu.CheckMenuItem(kCmdRequestLog,
                     GetProfileInt(kRequestLogSection, kRequestLogKey, 0) != 0 ? MF_CHECKED : MF_UNCHECKED);
  return menu;
}

void CDlgMapServices::OnServiceRightClick(NMHDR* hdr) {
  auto* hit = reinterpret_cast<NMITEMACTIVATE*>(hdr);
  CMenu menu = ServiceMenu(hit->iItem >= 0);
  UINT command = static_cast<UINT>(
      menu.TrackPopupMenu(TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, hit->ptAction.x, hit->ptAction.y, this));
  if (command != 0) SendMessage(WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

int CDlgMapServices::OfferedPort() const {
  for (int port = kNewServiceDefaultPort; port < kNewServiceDefaultPort + 100 && port <= 65535; ++port)
    if (server_.IsPortFree(static_cast<uint16_t>(port))) return port;
  return kNewServiceDefaultPort;
}

void CDlgMapServices::Save() {
  if (server_.SaveServices()) return;
  MessageBox(FormatC("地图发布服务无法保存到%s,原来的文件保持不变;本次的修改在软件重启后会丢失。",
                     server_.ServicesPath().c_str()),
             kAppTitle, MB_OK | MB_ICONWARNING);
}

void CDlgMapServices::StartService(CWmtsService& service) {
  if (!service.StartAccept()) ReportNotListening(service);
}

void CDlgMapServices::ReportNotListening(const CWmtsService& service) {
  // The editor checked the port; another program may still have taken it since. The server tells
  // the person itself when the program gave it a sink for that.
  if (server_.Options().listen_failure_sink) return;
  MessageBox(FormatC("地图发布服务\"%s\"无法在端口%u上接受连接,服务已停止。", service.Name().c_str(),
                     static_cast<unsigned>(service.Port())),
             kAppTitle, MB_OK | MB_ICONWARNING);
}

void CDlgMapServices::OnNew() {
  CDlgNewMapService editor(server_, this);
  editor.SetPort(OfferedPort());
  if (editor.DoModal() != IDOK) return;
  CWmtsService* service = server_.AddService(editor.Name(), static_cast<uint16_t>(editor.Port()));
  if (!service) return;  // the list is full; the server said so
  service->SetLayers(editor.BaseLayers(), editor.Overlays());
  StartService(*service);
  RefillServices();
  Save();
}

void CDlgMapServices::OnModify() {
  CWmtsService* service = SelectedService();
  if (!service) return;
  CDlgNewMapService editor(server_, this);
  editor.SetName(service->Name());
  editor.SetPort(service->Port());
  editor.SetOwnPort(service->Port());
  editor.SetLayers(service->BaseLayers(), service->Overlays());
  if (editor.DoModal() != IDOK || !IsListed(service)) return;
  // Accepting stops while the port changes; the open connections stay.
  service->Stop();
  service->SetName(editor.Name());
  service->SetPort(static_cast<uint16_t>(editor.Port()));
  service->SetLayers(editor.BaseLayers(), editor.Overlays());
  StartService(*service);
  services_.Invalidate();
  OnRefresh();
  Save();
}

void CDlgMapServices::OnDelete() {
  CWmtsService* service = SelectedService();
  if (!service) return;
  int row = services_.FindItemByData(reinterpret_cast<uintptr_t>(service));
  if (row >= 0) services_.DeleteItem(row);
  if (shown_ == service) shown_ = nullptr;
  service->Stop();
  // The server removes the first service of a port. Should an earlier service share the port (a
  // services file written elsewhere), this one gets a port no other service has first, so that
  // exactly the chosen service goes.
  uint16_t port = service->Port();
  for (CWmtsService* other : server_.Services()) {
    if (other == service) break;
    if (other->Port() != port) continue;
    for (uint32_t candidate = 65535; candidate > 0; --candidate) {
      bool used = false;
      for (CWmtsService* s : server_.Services()) used = used || s->Port() == candidate;
      if (!used) {
        port = static_cast<uint16_t>(candidate);
        service->SetPort(port);
        break;
      }
    }
    break;
  }
  server_.RemoveServices(port);  // closes its connections too
  RefillServices();
  ShowPeers();
  Save();
}

void CDlgMapServices::OnStartStop() {
  CWmtsService* service = SelectedService();
  if (!service) return;
  const bool was_running = service->IsRunning();
  service->ToggleRunning();
  if (!was_running && !service->IsRunning()) ReportNotListening(*service);
  OnRefresh();
}

void CDlgMapServices::OnBrowse(bool local) {
  CWmtsService* service = SelectedService();
  if (!service) return;
  if (!server_.OpenServiceInBrowser(*service, local)) {
    std::string url = server_.ServiceUrl(*service, local);
    AppLog("map services: no browser could be started for %s", url.c_str());
    MessageBox("无法启动浏览器,请手动打开 " + url, kAppTitle, MB_OK | MB_ICONWARNING);
  }
}

void CDlgMapServices::OnRequestLog() {
  const bool on = GetProfileInt(kRequestLogSection, kRequestLogKey, 0) != 0;
  WriteProfileInt(kRequestLogSection, kRequestLogKey, on ? 0 : 1);
  MessageBox("设置在软件重启后生效", kAppTitle, MB_OK);
}

}  // namespace velmora
