// CBusLinePanel: the bus-line tool window (template 202). A city (combo 1203) and a line (combo
// 1202) are looked up through the bus page of the panel's own hidden script window (bus-line
// mode: QuerBusLine, then GetQueryResult polled on a timer); the answer's lines are kept per city
// in "<n>.bl" with the city index "-1.bl", listed (stations in list 1413) and drawn on the 2D map
// through an overlay of the view: the course as a polyline, each station as a 12-pixel dot, the
// names beside them, all moved by the line's offsets (edits 1340, 1341).
//
// Buttons: "All" (1002) draws every line of the city, "Enum All" (1116) asks for every line of
// the city, "╳" (1015) deletes the chosen line (or, without one, the city with its file), "重置"
// (1125) sets the line's offsets back to 0, "⊙" (1010) stops drawing, "≌" (1018) draws the chosen
// line, "显设" (1016) opens CDlgBusLineDisplay, "↑"/"↓" (1017/1019) choose the previous/next line;
// the label "线路" (1506) opens CDlgStationSearch. While a query runs the buttons are disabled; a
// query that gets no answer within kMaxPolls polls ends with "公交线路查询失败" and the buttons
// back.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "earth/ui/html_wnd.h"
#include "places/bus_line.h"
#include "platform/ui/combo_box_ex.h"
#include "platform/ui/controls.h"
#include "platform/ui/list_ctrl.h"
#include "shell/dialog_ex.h"
#include "shell/link_static.h"

namespace velmora {

class CDlgStationSearch;
class CGraphics;
class CMapProjector;
class CPDView;

class CBusLinePanel : public CDialogEx {
 public:
  static constexpr int kTemplateId = 202;
  static constexpr int kIdCity = 1203, kIdLine = 1202, kIdStations = 1413, kIdLngOffset = 1340, kIdLatOffset = 1341;
  static constexpr int kIdAll = 1002, kIdEnumAll = 1116, kIdDelete = 1015, kIdReset = 1125, kIdHide = 1010;
  static constexpr int kIdShow = 1018, kIdDisplay = 1016, kIdPrev = 1017, kIdNext = 1019, kIdLineLabel = 1506;
  static constexpr UINT ID_STATION_SEARCH = 32894, ID_NEARBY_SEARCH = 32895;
  static constexpr UINT_PTR kPollTimer = 1;
  static constexpr unsigned kPollMs = 200;
  static constexpr int kMaxPolls = 150;  // 30 s
  static constexpr double kNearbyMetres = 500;
  static constexpr float kDotPixels = 12.0f;
  static constexpr const char* kOverlayKey = "buslines";
  static constexpr const char* kDeleteCity = "确定要删除所选城市及其所有线路?";
  static constexpr const char* kDeleteLine = "确定要删除所选线路?";
  static constexpr const char* kQueryFailed = "公交线路查询失败";

  // `view` null: the application's 2D map view; `folder` empty: the data folder.
  explicit CBusLinePanel(CWnd* parent = nullptr, CPDView* view = nullptr, std::string folder = {});
  ~CBusLinePanel() override;

  // ---- queries ----
  // Asks the bus page for a line of a city ("" for every line). False when a query runs or the
  // city is empty.
  bool Query(const std::string& city, const std::string& line);
  bool IsQuerying() const { return querying_; }
  // Takes an answer as the page would give it (the poll's end).
  void TakeAnswer(const std::string& city, const std::string& answer);

  // ---- cities and lines ----
  bool SelectCity(int index);
  bool SelectLine(int index);
  const std::vector<CBusCity>& Cities() const { return cities_; }
  const std::vector<CBusLine>& Lines() const { return lines_; }
  int CurrentCity() const { return city_; }
  int CurrentLineIndex() const;  // into Lines(), -1 for none
  bool DeleteChosen();
  void SetOffsets(float lng, float lat);
  // Every stored line: of every city, or of the current one.
  std::vector<CBusLine> StoredLines(bool all_cities);

  // ---- drawing ----
  // 0 nothing, 1 the chosen line, 2 every line of the city (registry "layout").
  int Layout() const { return layout_; }
  void SetLayout(int layout);
  BusLineDisplay& Display() { return display_; }
  void Redraw();
  // Draws the lines of the layout (the view's overlay).
  void Paint(CGraphics& g, const CMapProjector& p) const;

  CDlgStationSearch* OpenStationSearch();
  // Enter: asks for the typed line of the typed city (every line when no line is typed); a
  // stored line is shown without asking.
  void OnOK() override;
  // The city in the combo's edit field, else the chosen one.
  std::string TypedCity() const;
  CHtmlWnd& ScriptWindow() { return script_; }
  CListCtrl& StationList() { return stations_; }
  CBusLineStore& Store() { return store_; }

 protected:
  bool OnInitDialog() override;
  void OnDestroy() override;

 private:
  CPDView* View() const;
  void OnPoll();
  void EndQuery();
  void EnableButtons(bool enable);
  void FillCities();
  void FillLines();
  void ShowLine(int index);
  void SaveCity();
  void SaveIndex();
  void OnStationMenu(int row);
  void OnOffsetEdit();
  void OnDisplay();

  CPDView* view_;
  CBusLineStore store_;
  CHtmlWnd script_;
  CListCtrl stations_;
  CLinkStatic line_label_;
  CComboBoxEx city_combo_, line_combo_;
  std::unique_ptr<CDlgStationSearch> search_;

  std::vector<CBusCity> cities_;
  int city_ = -1;
  std::vector<CBusLine> lines_;  // of the current city
  int shown_line_ = -1;          // into lines_
  BusLineDisplay display_;
  int layout_ = 1;
  bool index_damaged_ = false;

  bool querying_ = false;
  bool asked_ = false;
  int polls_ = 0;
  std::string query_city_, query_line_;
  bool filling_ = false;  // the offset edits are being filled, not typed in
};

}  // namespace velmora
