// The map services dialog's lists filled from the running server: the service list and, for one
// service, its connection and peer lists.
#pragma once

namespace velmora {

class CListCtrl;
class CWmtsServer;
class CWmtsService;

// Deletes the rows and inserts one per service (texts asked back through the list's display
// callback, image by state, the service as the row's data). The server must outlive the list's
// callback; a row whose service is no longer in the server's list shows no text.
void FillServiceList(CWmtsServer& server, CListCtrl& list);
// Empties both lists; then one row per client (address, port) and one per peer in address
// order (address, first and last time seen as local wall times; empty while still connected).
void FillPeerLists(const CWmtsService& service, CListCtrl& connections, CListCtrl& peers);

}  // namespace velmora
