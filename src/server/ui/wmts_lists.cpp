// The map services dialog's lists filled from the running server.
#include "server/ui/wmts_lists.h"

#include <map>
#include <string>
#include <vector>

#include "core/format.h"
#include "platform/ui/list_ctrl.h"
#include "server/wmts_server.h"
#include "server/wmts_service.h"

namespace velmora {

namespace {

// Local wall time of a tick ("" for none recorded).
std::string TickText(uint64_t tick) { return tick == 0 ? std::string() : FormatTickTime(tick); }

}  // namespace

void FillServiceList(CWmtsServer& server, CListCtrl& list) {
  list.DeleteAllItems();
  std::vector<CWmtsService*> services = server.Services();
  for (size_t i = 0; i < services.size(); ++i) {
    int row = list.InsertItem(static_cast<int>(i), LPSTR_TEXTCALLBACK, services[i]->DisplayImage());
    for (int column = 1; column < 5; ++column) list.SetItemText(row, column, LPSTR_TEXTCALLBACK);
    list.SetItemData(row, reinterpret_cast<uintptr_t>(services[i]));
  }
  // A row whose service has left the server (removed while the row was still shown) answers
  // nothing rather than reading a freed service.
  list.SetDisplayCallbacks([&server, &list](int item, int sub_item) {
    auto* service = reinterpret_cast<CWmtsService*>(list.GetItemData(item));
    if (!service) return std::string();
    for (CWmtsService* listed : server.Services())
      if (listed == service) return service->DisplayText(sub_item);
    return std::string();
  });
}

void FillPeerLists(const CWmtsService& service, CListCtrl& connections, CListCtrl& peers) {
  connections.DeleteAllItems();
  peers.DeleteAllItems();
  std::vector<PeerAddress> open = service.Connections();
  std::map<uint32_t, PeerRecord> known = service.Peers();
  for (const PeerAddress& c : open) {
    int row = connections.InsertItem(connections.GetItemCount(), FormatIPv4(c.address));
    connections.SetItemText(row, 1, std::to_string(c.port));
  }
  for (const auto& [address, record] : known) {
    int row = peers.InsertItem(peers.GetItemCount(), FormatIPv4(address));
    peers.SetItemText(row, 1, TickText(record.first_tick));
    peers.SetItemText(row, 2, TickText(record.last_tick));
  }
}

}  // namespace velmora
