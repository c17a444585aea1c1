// CDlgStationSearch: "站名搜索" (template 203), a modeless tool window of the bus-line panel. The
// text of the edit (1354, remembered as "bus_station_name" in the registry section "recent") is
// "(x1,y1)-(x2,y2)" (every stored station inside the rectangle), "(x,y:r)" (every stored station
// within r metres) or a name (the stations of the panel's current city whose name holds it); the
// list (1400: "线路", "站名") shows the hits and a double click moves the map there. "区域搜索"
// (1003) brings the main window forward and lets the person drag the rectangle with the 2D
// view's box tool; the box ends the tool and searches.
#pragma once
#include <functional>
#include <vector>

#include "places/bus_line.h"
#include "platform/ui/list_ctrl.h"
#include "shell/dialog_ex.h"

namespace velmora {

class CPDView;

class CDlgStationSearch : public CDialogEx {
 public:
  static constexpr int kTemplateId = 203;
  static constexpr int kIdText = 1354, kIdList = 1400, kIdArea = 1003;
  static constexpr const char* kRecentSection = "recent";
  static constexpr const char* kRecentKey = "bus_station_name";

  // The lines searched: every stored line (`all_cities`) or the current city's.
  using LineSource = std::function<std::vector<CBusLine>(bool all_cities)>;
  CDlgStationSearch(LineSource lines, CPDView* view, CWnd* parent = nullptr);
  ~CDlgStationSearch() override;

  // "搜索": runs the edit's text; an empty text does nothing. Returns the hit count.
  int Search();
  // Puts a text into the edit and searches.
  int SearchFor(const std::string& text);
  // "区域搜索": the view's box tool, whose band fills in a rectangle and searches.
  bool StartAreaSearch();
  const std::vector<StationHit>& Hits() const { return hits_; }
  CListCtrl& List() { return list_; }

  void OnOK() override { Search(); }

 protected:
  bool OnInitDialog() override;
  void OnDestroy() override;

 private:
  void EndAreaSearch();
  CPDView* View() const;

  LineSource lines_;
  CPDView* view_;
  CListCtrl list_;
  std::vector<StationHit> hits_;
  bool area_ = false;
};

}  // namespace velmora
