// The service editor.
#include "server/ui/dlg_new_map_service.h"

#include <optional>
#include <utility>

#include "core/format.h"
#include "platform/text.h"
#include "platform/ui/menu.h"
#include "server/ui/map_service_templates.h"
#include "server/wmts_server.h"
#include "tiles/layer_manager.h"

namespace velmora {
namespace {

uintptr_t IdData(int32_t id) { return static_cast<uintptr_t>(static_cast<uint32_t>(id)); }
int32_t DataId(uintptr_t data) { return static_cast<int32_t>(static_cast<uint32_t>(data)); }

}  // namespace

CDlgNewMapService::CDlgNewMapService(CWmtsServer& server, CWnd* parent)
    : CDialogEx(RegisterMapServiceTemplates(kNewMapServiceTemplateId), parent), server_(server) {
  BindControl(kIdOverlays, overlay_list_);
  BindControl(kIdBaseLayers, base_list_);
  BindControl(kIdSources, sources_);
  MapNotify(kIdSources, NM_RCLICK, [this](NMHDR* hdr) {
    OnSourceRightClick(hdr);
    return LRESULT{0};
  });
  const std::pair<UINT, CListCtrlEx*> layer_lists[] = {{kIdBaseLayers, &base_list_}, {kIdOverlays, &overlay_list_}};
  for (const auto& [id, list] : layer_lists) {
    // A click of any kind puts the focus on the list, as the platform's list control does; the
    // menus' commands act on the focused list.
    for (int code : {NM_CLICK, NM_DBLCLK}) {
      MapNotify(id, code, [this, list = list](NMHDR*) {
        last_layer_list_ = list;
        return LRESULT{0};
      });
    }
    MapNotify(id, NM_RCLICK, [this, list = list](NMHDR* hdr) {
      OnLayerListRightClick(*list, hdr);
      return LRESULT{0};
    });
  }
  MapCommand(kCmdAddBaseLayer, [this] { AddSelectedSource(base_list_); });
  MapCommand(kCmdAddOverlay, [this] { AddSelectedSource(overlay_list_); });
  MapCommand(kCmdDelete, [this] { DeleteSelectedRow(); });
  MapCommand(kCmdUp, [this] { MoveSelectedRow(-1); });
  MapCommand(kCmdDown, [this] { MoveSelectedRow(1); });
}

void CDlgNewMapService::SetUpList(CListCtrlEx& list) {
  list.DeleteAllItems();
  while (list.GetColumnCount() > 0) list.DeleteColumn(0);
  list.InsertColumn(0, "名称", LVCFMT_LEFT, 100);
  list.InsertColumn(1, "来源", LVCFMT_LEFT, 50);
  list.SetExtendedStyle(list.GetExtendedStyle() | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_SUBITEMIMAGES);
  list.SetDisplayCallbacks([&list](int item, int sub_item) { return RowText(list, item, sub_item); });
}

std::string CDlgNewMapService::RowText(const CListCtrl& list, int item, int sub_item) {
  int32_t id = DataId(list.GetItemData(item));
  // Strict: an id that the catalogue does not know stays itself (shown by its number), so that
  // editing a service never turns it into another source.
  const MapSourceDef* source = LayerManager().FindSourceStrict(id);
  if (sub_item == 0) return source ? source->name : std::to_string(id);
  if (sub_item == 1) return source ? source->group_name : std::string();
  return {};
}

void CDlgNewMapService::FillLayerList(CListCtrlEx& list, const std::vector<int32_t>& ids) {
  for (int32_t id : ids) {
    int row = list.InsertItem(list.GetItemCount(), LPSTR_TEXTCALLBACK);
    list.SetItemText(row, 1, LPSTR_TEXTCALLBACK);
    list.SetItemData(row, IdData(id));
  }
}

bool CDlgNewMapService::OnInitDialog() {
  for (CListCtrlEx* list : {&sources_, &base_list_, &overlay_list_}) SetUpList(*list);
  for (const MapSourceDef& source : LayerManager().Sources()) {
    int row = sources_.InsertItem(sources_.GetItemCount(), LPSTR_TEXTCALLBACK);
    sources_.SetItemText(row, 1, LPSTR_TEXTCALLBACK);
    sources_.SetItemData(row, IdData(source.id));
  }
  FillLayerList(base_list_, base_layers_);
  FillLayerList(overlay_list_, overlays_);
  SetDlgItemInt(kIdPort, port_);
  SetDlgItemText(kIdName, name_);
  last_layer_list_ = nullptr;
  return true;
}

void CDlgNewMapService::OnSourceRightClick(NMHDR* hdr) {
  auto* hit = reinterpret_cast<NMITEMACTIVATE*>(hdr);
  CMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING, kCmdAddBaseLayer, "加入到基本图层");
  menu.AppendMenu(MF_STRING, kCmdAddOverlay, "加入到覆盖图层");
  UINT command = static_cast<UINT>(
      menu.TrackPopupMenu(TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, hit->ptAction.x, hit->ptAction.y, this));
  if (command != 0) SendMessage(WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

void CDlgNewMapService::OnLayerListRightClick(CListCtrlEx& list, NMHDR* hdr) {
  last_layer_list_ = &list;
  list.SetFocus();
  if (list.GetNextItem(-1, LVNI_SELECTED) < 0) return;
  auto* hit = reinterpret_cast<NMITEMACTIVATE*>(hdr);
  CMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING, kCmdDelete, "删除");
  menu.AppendMenu(MF_STRING, kCmdUp, "向上");
  menu.AppendMenu(MF_STRING, kCmdDown, "向下");
  UINT command = static_cast<UINT>(
      menu.TrackPopupMenu(TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, hit->ptAction.x, hit->ptAction.y, this));
  if (command != 0) SendMessage(WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

void CDlgNewMapService::AddSelectedSource(CListCtrlEx& target) {
  int row = sources_.GetNextItem(-1, LVNI_SELECTED);
  if (row < 0) return;
  uintptr_t data = sources_.GetItemData(row);
  if (target.FindItemByData(data) >= 0) {
    MessageBox("已经存在了!", kAppTitle, MB_OK);
    return;
  }
  if (static_cast<size_t>(target.GetItemCount()) >= kMaxServiceLayers) {
    // The example page of a service lists every layer; the services file keeps the lists small.
    MessageBox(FormatC("每个图层列表最多%zu个图层!", kMaxServiceLayers), kAppTitle, MB_OK | MB_ICONWARNING);
    return;
  }
  int added = target.InsertItem(target.GetItemCount(), LPSTR_TEXTCALLBACK);
  target.SetItemText(added, 1, LPSTR_TEXTCALLBACK);
  target.SetItemData(added, data);
}

CListCtrlEx* CDlgNewMapService::FocusedLayerList() const {
  if (base_list_.HasFocus()) return const_cast<CListCtrlEx*>(&base_list_);
  if (overlay_list_.HasFocus()) return const_cast<CListCtrlEx*>(&overlay_list_);
  return last_layer_list_;
}

void CDlgNewMapService::DeleteSelectedRow() {
  CListCtrlEx* list = FocusedLayerList();
  if (!list) return;
  int row = list->GetNextItem(-1, LVNI_SELECTED);
  if (row >= 0) list->DeleteItem(row);
}

void CDlgNewMapService::MoveSelectedRow(int step) {
  CListCtrlEx* list = FocusedLayerList();
  if (!list) return;
  int row = list->GetNextItem(-1, LVNI_SELECTED);
  int other = row + step;
  if (row < 0 || other < 0 || other >= list->GetItemCount()) return;  // the top row up, the bottom row down
  // The rows' sources change places; the selection stays on the same position.
  uintptr_t a = list->GetItemData(row);
  list->SetItemData(row, list->GetItemData(other));
  list->SetItemData(other, a);
  list->Invalidate();
}

std::vector<int32_t> CDlgNewMapService::RowIds(const CListCtrl& list) {
  std::vector<int32_t> ids;
  for (int i = 0; i < list.GetItemCount(); ++i) ids.push_back(DataId(list.GetItemData(i)));
  return ids;
}

void CDlgNewMapService::OnOK() {
  std::optional<long long> port = GetDlgItemInt(kIdPort);
  if (!port || *port < 1 || *port > 65535) {
    MessageBox("请输入一个介于 1 和 65535 之间的整数。", kAppTitle, MB_OK | MB_ICONWARNING);
    if (CWnd* edit = GetDlgItem(kIdPort)) edit->SetFocus();
    return;
  }
  std::string name = GetDlgItemText(kIdName);
  size_t lost = 0;
  std::string gbk = Utf8ToAnsi(name, &lost);
  if (lost > 0) {
    // The services file stores names in GBK: such a name would come back with '?' in it.
    MessageBox("名称中有无法保存的字符,请修改!", kAppTitle, MB_OK | MB_ICONWARNING);
    if (CWnd* edit = GetDlgItem(kIdName)) edit->SetFocus();
    return;
  }
  if (gbk.size() > kMaxServiceNameBytes) {
    MessageBox(FormatC("名称太长,最多%zu个字节(%zu个汉字)!", kMaxServiceNameBytes, kMaxServiceNameBytes / 2),
               kAppTitle, MB_OK | MB_ICONWARNING);
    if (CWnd* edit = GetDlgItem(kIdName)) edit->SetFocus();
    return;
  }
  const int new_port = static_cast<int>(*port);
  if (new_port != own_port_ && !server_.IsPortFree(static_cast<uint16_t>(new_port))) {
    MessageBox("端口不可用,请尝试其他!", kAppTitle, MB_OK);
    if (CWnd* edit = GetDlgItem(kIdPort)) edit->SetFocus();
    return;
  }
  std::vector<int32_t> base = RowIds(base_list_);
  std::vector<int32_t> overlays = RowIds(overlay_list_);
  if (base.empty()) {
    MessageBox("请至少选择一个基本图层!", kAppTitle, MB_OK);
    return;
  }
  port_ = new_port;
  name_ = std::move(name);
  base_layers_ = std::move(base);
  overlays_ = std::move(overlays);
  EndDialog(IDOK);
}

}  // namespace velmora
