// The bus-line panel: queries, the city and line lists, the files and the drawing.
#include "places/ui/bus_line_panel.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/format.h"
#include "core/log.h"
#include "core/settings.h"
#include "places/ui/dlg_bus_line_display.h"
#include "places/ui/dlg_station_search.h"
#include "places/ui/map_tool_views.h"
#include "platform/gfx/graphics.h"
#include "platform/text.h"
#include "platform/ui/menu.h"
#include "shapes/map_shape.h"
#include "shell/dlg_worker_base.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

using K = ControlKind;

DialogTemplate BusLineTemplate() {
  using P = CBusLinePanel;
  DialogTemplate t;
  t.id = P::kTemplateId;
  t.caption = "公交线路";
  t.cx = 170;
  t.cy = 300;
  t.controls = {
      {K::kStatic, -1, "城市", 2, 4, 18, 8, 0},
      {K::kComboBox, P::kIdCity, "", 22, 2, 62, 80, 0},
      {K::kButton, P::kIdEnumAll, "Enum All", 86, 2, 38, 12, 0},
      {K::kButton, P::kIdDelete, "╳", 126, 2, 12, 12, 0},
      {K::kButton, P::kIdReset, "重置", 140, 2, 28, 12, 0},
      {K::kStatic, P::kIdLineLabel, "线路", 2, 19, 18, 8, 0},
      {K::kComboBox, P::kIdLine, "", 22, 17, 70, 120, 0},
      {K::kButton, P::kIdAll, "All", 94, 17, 18, 12, 0},
      {K::kButton, P::kIdHide, "⊙", 114, 17, 12, 12, 0},
      {K::kButton, P::kIdShow, "≌", 128, 17, 12, 12, 0},
      {K::kButton, P::kIdPrev, "↑", 142, 17, 12, 12, 0},
      {K::kButton, P::kIdNext, "↓", 156, 17, 12, 12, 0},
      {K::kStatic, -1, "偏移量", 2, 34, 26, 8, 0},
      {K::kEdit, P::kIdLngOffset, "", 30, 32, 50, 12, 0},
      {K::kEdit, P::kIdLatOffset, "", 82, 32, 50, 12, 0},
      {K::kButton, P::kIdDisplay, "显设", 134, 32, 34, 12, 0},
      {K::kListView, P::kIdStations, "", 2, 48, 166, 250, 0},
  };
  return t;
}

constexpr int kButtons[] = {CBusLinePanel::kIdAll,   CBusLinePanel::kIdEnumAll, CBusLinePanel::kIdDelete,
                            CBusLinePanel::kIdReset, CBusLinePanel::kIdHide,    CBusLinePanel::kIdShow,
                            CBusLinePanel::kIdDisplay, CBusLinePanel::kIdPrev,  CBusLinePanel::kIdNext,
                            CBusLinePanel::kIdCity,  CBusLinePanel::kIdLine};

// Chooses an item (-1: none) and shows its text in the edit field, as a person's choice would.
void ChooseItem(CComboBoxEx& combo, int index) {
  combo.SetCurSel(index);
  combo.SetEditText(index >= 0 && index < combo.GetCount() ? combo.GetLBText(index) : std::string());
}

bool ReadFloat(std::string_view text, float* v) {
  text = TrimAscii(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) {
    *v = 0;
    return true;
  }
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), *v);
  return ec == std::errc() && p == text.data() + text.size() && std::isfinite(*v) && std::fabs(*v) <= 10;
}

std::string FloatText(float v) {
  return FormatC("%g", static_cast<double>(v));
}

// The lines with their stations as the view draws them.
void PaintBusLines(CGraphics& g, const CMapProjector& p, const std::vector<CBusLine>& lines, const BusLineDisplay& d) {
  for (const CBusLine& line : lines) {
    if (line.points.size() >= 2 && d.line_width != 0) {
      std::vector<GfxPoint> pts;
      pts.reserve(line.points.size());
      for (const PointF& q : line.points) {
        PixelPoint s = p.ToScreen(double(q.x) + line.lng_offset, double(q.y) + line.lat_offset);
        pts.push_back(GfxPoint{float(s.x), float(s.y)});
      }
      g.DrawLines(Pen{d.line_color, float(d.line_width)}, pts.data(), pts.size());
    }
    const float r = CBusLinePanel::kDotPixels / 2;
    const CFont font = FontOfStyle(d.name_style);
    for (const BusStation& s : line.stations) {
      PixelPoint c = p.ToScreen(double(s.lng) + line.lng_offset, double(s.lat) + line.lat_offset);
      if (d.dot_width != 0) g.FillEllipse(d.dot_color, GfxRect{float(c.x) - r, float(c.y) - r, 2 * r, 2 * r});
      if (d.show_names) g.DrawString(s.name, font, d.name_style.color, float(c.x) + r + 2, float(c.y) - r);
    }
  }
}

}  // namespace

CBusLinePanel::CBusLinePanel(CWnd* parent, CPDView* view, std::string folder)
    : CDialogEx(BusLineTemplate(), parent), view_(view), store_(std::move(folder)) {
  BindControl(kIdStations, stations_);
  BindControl(kIdLineLabel, line_label_);
  BindControl(kIdCity, city_combo_);
  BindControl(kIdLine, line_combo_);
  MapControlNotify(kIdCity, CBN_SELCHANGE, [this] { SelectCity((&city_combo_)->GetCurSel()); });
  MapControlNotify(kIdLine, CBN_SELCHANGE, [this] { SelectLine((&line_combo_)->GetCurSel()); });
  MapCommand(kIdEnumAll, [this] { Query(TypedCity(), ""); });
  MapCommand(kIdAll, [this] { SetLayout(2); });
  MapCommand(kIdHide, [this] { SetLayout(0); });
  MapCommand(kIdShow, [this] { SetLayout(1); });
  MapCommand(kIdDelete, [this] { DeleteChosen(); });
  MapCommand(kIdReset, [this] { SetOffsets(0, 0); });
  MapCommand(kIdDisplay, [this] { OnDisplay(); });
  MapCommand(kIdPrev, [this] { SelectLine((&line_combo_)->GetCurSel() - 1); });
  MapCommand(kIdNext, [this] { SelectLine((&line_combo_)->GetCurSel() + 1); });
  MapControlNotify(kIdLineLabel, BN_CLICKED, [this] { OpenStationSearch(); });
  MapControlNotify(kIdLngOffset, EN_CHANGE, [this] { OnOffsetEdit(); });
  MapControlNotify(kIdLatOffset, EN_CHANGE, [this] { OnOffsetEdit(); });
  MapTimer(kPollTimer, [this] { OnPoll(); });
  MapNotify(kIdStations, NM_DBLCLK, [this](NMHDR*) {
    const int row = stations_.GetNextItem(-1, LVNI_SELECTED);
    const int line = CurrentLineIndex();
    if (line < 0 || row < 0 || row >= static_cast<int>(lines_[size_t(line)].stations.size())) return LRESULT{0};
    const CBusLine& l = lines_[size_t(line)];
    const BusStation& s = l.stations[size_t(row)];
    if (CPDView* v = View()) v->SetCamera(double(s.lng) + l.lng_offset, double(s.lat) + l.lat_offset, v->GetZoom(), true);
    return LRESULT{0};
  });
  MapNotify(kIdStations, NM_RCLICK, [this](NMHDR* hdr) {
    OnStationMenu(reinterpret_cast<NMITEMACTIVATE*>(hdr)->iItem);
    return LRESULT{0};
  });
}

CBusLinePanel::~CBusLinePanel() {
  if (CPDView* v = View()) v->Engine().SetOverlayPainter(kOverlayKey, {});
  search_.reset();
  script_.DestroyHidden();
}

CPDView* CBusLinePanel::View() const { return view_ ? view_ : MapToolView(); }

bool CBusLinePanel::OnInitDialog() {
  stations_.InsertColumn(0, "站名", LVCFMT_LEFT, 110);
  stations_.InsertColumn(1, "时间", LVCFMT_LEFT, 60);
  stations_.SetDisplayCallbacks([this](int item, int sub) -> std::string {
    const int line = CurrentLineIndex();
    if (line < 0 || item < 0 || item >= static_cast<int>(lines_[size_t(line)].stations.size())) return {};
    return sub == 0 ? lines_[size_t(line)].stations[size_t(item)].name : std::string();
  });
  if (store_.LoadDisplay(&display_) == CBusLineStore::Load::kDamaged) display_ = BusLineDisplay{};
  uint32_t current = 0;
  index_damaged_ = store_.LoadIndex(&cities_, &current) == CBusLineStore::Load::kDamaged;
  layout_ = std::clamp(GetProfileInt(kBusLineSection, "layout", 1), 0, 2);
  FillCities();
  // The city chosen last time, else the index's current one.
  const std::string last = GetProfileString(kBusLineSection, "city", "");
  int chosen = cities_.empty() ? -1 : static_cast<int>(current);
  for (size_t i = 0; i < cities_.size(); ++i)
    if (cities_[i].name == last) chosen = static_cast<int>(i);
  if (chosen >= 0) SelectCity(chosen);
  script_.CreateHidden(1);
  return true;
}

void CBusLinePanel::OnDestroy() {
  KillTimer(kPollTimer);
  querying_ = false;
  if (city_ >= 0 && city_ < static_cast<int>(cities_.size()))
    WriteProfileString(kBusLineSection, "city", cities_[size_t(city_)].name);
  if (search_ && search_->IsWindow()) search_->DestroyWindow();
  if (CPDView* v = View()) {
    v->Engine().SetOverlayPainter(kOverlayKey, {});
    v->Invalidate();
  }
  script_.DestroyHidden();
  CDialogEx::OnDestroy();
}

// ---- queries ----

std::string CBusLinePanel::TypedCity() const {
  const std::string typed(TrimAscii(city_combo_.GetEditText()));
  if (!typed.empty()) return typed;
  return city_ >= 0 ? cities_[size_t(city_)].name : std::string();
}

void CBusLinePanel::OnOK() {
  // Enter: the line typed (or, with none, every line) of the city typed.
  const std::string line(TrimAscii(line_combo_.GetEditText()));
  for (size_t i = 0; i < lines_.size() && TypedCity() == (city_ >= 0 ? cities_[size_t(city_)].name : ""); ++i) {
    if (lines_[i].name == line) {
      ShowLine(static_cast<int>(i));
      return;
    }
  }
  Query(TypedCity(), line);
}

bool CBusLinePanel::Query(const std::string& city, const std::string& line) {
  if (querying_ || TrimAscii(city).empty()) return false;
  if (!script_.IsWindow()) script_.CreateHidden(1);
  query_city_ = std::string(TrimAscii(city));
  query_line_ = std::string(TrimAscii(line));
  querying_ = true;
  polls_ = 0;
  asked_ = script_.FunctionId(CHtmlWnd::kQuerBusLine) != 0 && script_.QuerBusLine(query_city_, query_line_);
  EnableButtons(false);
  SetTimer(kPollTimer, kPollMs);
  return true;
}

void CBusLinePanel::EnableButtons(bool enable) {
  for (int id : kButtons)
    if (CWnd* w = GetDlgItem(id)) w->EnableWindow(enable);
}

void CBusLinePanel::EndQuery() {
  KillTimer(kPollTimer);
  querying_ = false;
  EnableButtons(true);
}

void CBusLinePanel::OnPoll() {
  if (!querying_) {
    KillTimer(kPollTimer);
    return;
  }
  if (++polls_ > kMaxPolls) {
    // An answer that never comes must not leave the panel disabled.
    EndQuery();
    AppLog("bus lines: no answer for %s %s", query_city_.c_str(), query_line_.c_str());
    MessageBox(kQueryFailed, kAppTitle, MB_OK | MB_ICONWARNING);
    return;
  }
  if (!asked_) {
    // The page may still be loading: ask once its functions are there.
    if (script_.FunctionId(CHtmlWnd::kQuerBusLine) == 0) return;
    asked_ = script_.QuerBusLine(query_city_, query_line_);
    return;
  }
  std::string text;
  if (!script_.GetQueryResult(text)) return;
  EndQuery();
  if (text.empty()) {
    MessageBox(kQueryFailed, kAppTitle, MB_OK | MB_ICONWARNING);
    return;
  }
  TakeAnswer(query_city_, text);
}

void CBusLinePanel::TakeAnswer(const std::string& city, const std::string& answer) {
  std::vector<CBusLine> answered = ParseBusAnswer(answer);
  if (answered.empty()) return;
  int index = -1;
  for (size_t i = 0; i < cities_.size(); ++i)
    if (cities_[i].name == city) index = static_cast<int>(i);
  if (index < 0) {
    CBusCity c;
    c.name = city;
    c.file_number = CBusLineStore::NewFileNumber(cities_);
    cities_.push_back(std::move(c));
    index = static_cast<int>(cities_.size()) - 1;
    FillCities();
  }
  if (index != city_) SelectCity(index);
  const std::string first = answered.front().name;
  for (CBusLine& line : answered) {
    auto same = std::find_if(lines_.begin(), lines_.end(), [&](const CBusLine& l) { return l.name == line.name; });
    if (same != lines_.end()) {
      // The person's offsets stay with the line.
      line.lng_offset = same->lng_offset, line.lat_offset = same->lat_offset;
      *same = std::move(line);
    } else {
      lines_.push_back(std::move(line));
    }
  }
  CBusCity& c = cities_[size_t(city_)];
  c.line_names.clear();
  for (const CBusLine& l : lines_) c.line_names.push_back(l.name);
  SaveCity();
  SaveIndex();
  FillLines();
  for (size_t i = 0; i < lines_.size(); ++i)
    if (lines_[i].name == first) ShowLine(static_cast<int>(i));
}

// ---- cities and lines ----

void CBusLinePanel::FillCities() {
  CComboBox* combo = (&city_combo_);
  if (!combo) return;
  city_combo_.ResetContent();
  for (const CBusCity& c : cities_) city_combo_.InsertItem(-1, c.name, -1, -1);
  if (city_ >= 0) ChooseItem(city_combo_, city_);
}

void CBusLinePanel::FillLines() {
  CComboBox* combo = (&line_combo_);
  if (!combo) return;
  line_combo_.ResetContent();
  for (const CBusLine& l : lines_) line_combo_.InsertItem(-1, l.name, -1, -1);
  if (shown_line_ >= 0) ChooseItem(line_combo_, shown_line_);
}

bool CBusLinePanel::SelectCity(int index) {
  if (index < 0 || index >= static_cast<int>(cities_.size())) return false;
  city_ = index;
  shown_line_ = -1;
  if (store_.LoadCity(cities_[size_t(index)].file_number, &lines_) == CBusLineStore::Load::kDamaged)
    AppLog("bus lines: the lines of %s were damaged and are set aside", cities_[size_t(index)].name.c_str());
  ChooseItem(city_combo_, index);
  FillLines();
  SaveIndex();
  ShowLine(lines_.empty() ? -1 : 0);
  return true;
}

bool CBusLinePanel::SelectLine(int index) {
  CComboBox* combo = (&line_combo_);
  if (index < 0 || index >= combo->GetCount()) return false;
  const std::string name = combo->GetLBText(index);
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].name == name) {
      ShowLine(static_cast<int>(i));
      return true;
    }
  }
  // A line the city's file does not hold yet: the page is asked.
  if (city_ >= 0) Query(cities_[size_t(city_)].name, name);
  return true;
}

int CBusLinePanel::CurrentLineIndex() const {
  return shown_line_ >= 0 && shown_line_ < static_cast<int>(lines_.size()) ? shown_line_ : -1;
}

void CBusLinePanel::ShowLine(int index) {
  shown_line_ = index >= 0 && index < static_cast<int>(lines_.size()) ? index : -1;
  ChooseItem(line_combo_, shown_line_);
  const int line = CurrentLineIndex();
  stations_.SetItemCountEx(line < 0 ? 0 : static_cast<int>(lines_[size_t(line)].stations.size()));
  filling_ = true;
  SetDlgItemText(kIdLngOffset, line < 0 ? "" : FloatText(lines_[size_t(line)].lng_offset));
  SetDlgItemText(kIdLatOffset, line < 0 ? "" : FloatText(lines_[size_t(line)].lat_offset));
  filling_ = false;
  Redraw();
}

bool CBusLinePanel::DeleteChosen() {
  if (city_ < 0) return false;
  const int line = CurrentLineIndex();
  if (line >= 0) {
    if (MessageBox(kDeleteLine, kAppTitle, MB_OKCANCEL | MB_ICONQUESTION) != IDOK) return false;
    lines_.erase(lines_.begin() + line);
    CBusCity& c = cities_[size_t(city_)];
    c.line_names.clear();
    for (const CBusLine& l : lines_) c.line_names.push_back(l.name);
    SaveCity();
    SaveIndex();
    shown_line_ = -1;
    FillLines();
    ShowLine(lines_.empty() ? -1 : std::min(line, static_cast<int>(lines_.size()) - 1));
    return true;
  }
  if (MessageBox(kDeleteCity, kAppTitle, MB_OKCANCEL | MB_ICONQUESTION) != IDOK) return false;
  store_.DeleteCity(cities_[size_t(city_)].file_number);
  cities_.erase(cities_.begin() + city_);
  city_ = -1;
  lines_.clear();
  shown_line_ = -1;
  SaveIndex();
  FillCities();
  FillLines();
  if (!cities_.empty()) SelectCity(0);
  else ShowLine(-1);
  return true;
}

void CBusLinePanel::SetOffsets(float lng, float lat) {
  const int line = CurrentLineIndex();
  if (line < 0) return;
  lines_[size_t(line)].lng_offset = lng;
  lines_[size_t(line)].lat_offset = lat;
  SaveCity();
  ShowLine(line);
}

void CBusLinePanel::OnOffsetEdit() {
  if (filling_) return;
  const int line = CurrentLineIndex();
  float lng, lat;
  if (line < 0 || !ReadFloat(GetDlgItemText(kIdLngOffset), &lng) || !ReadFloat(GetDlgItemText(kIdLatOffset), &lat)) return;
  lines_[size_t(line)].lng_offset = lng;
  lines_[size_t(line)].lat_offset = lat;
  SaveCity();
  Redraw();
}

std::vector<CBusLine> CBusLinePanel::StoredLines(bool all_cities) {
  if (!all_cities) return lines_;
  std::vector<CBusLine> all;
  for (size_t i = 0; i < cities_.size(); ++i) {
    if (static_cast<int>(i) == city_) {
      all.insert(all.end(), lines_.begin(), lines_.end());
      continue;
    }
    std::vector<CBusLine> lines;
    if (store_.LoadCity(cities_[i].file_number, &lines) == CBusLineStore::Load::kOk)
      all.insert(all.end(), lines.begin(), lines.end());
  }
  return all;
}

void CBusLinePanel::SaveCity() {
  if (city_ < 0) return;
  store_.SaveCity(cities_[size_t(city_)].file_number, lines_);
}

void CBusLinePanel::SaveIndex() {
  store_.SaveIndex(cities_, city_ < 0 ? 0 : static_cast<uint32_t>(city_));
}

// ---- drawing ----

void CBusLinePanel::SetLayout(int layout) {
  layout = std::clamp(layout, 0, 2);
  if (layout != layout_) WriteProfileInt(kBusLineSection, "layout", layout);
  layout_ = layout;
  Redraw();
}

void CBusLinePanel::Redraw() {
  CPDView* view = View();
  if (!view) return;
  auto lines = std::make_shared<std::vector<CBusLine>>();
  if (layout_ == 2) *lines = lines_;
  else if (layout_ == 1 && CurrentLineIndex() >= 0) lines->push_back(lines_[size_t(CurrentLineIndex())]);
  if (lines->empty()) {
    view->Engine().SetOverlayPainter(kOverlayKey, {});
  } else {
    // The painter draws a copy: the panel may change its lines while the view paints later.
    view->Engine().SetOverlayPainter(kOverlayKey, [lines, display = display_](CGraphics& g, const CMapProjector& p) {
      PaintBusLines(g, p, *lines, display);
    });
  }
  view->Invalidate();
}

void CBusLinePanel::Paint(CGraphics& g, const CMapProjector& p) const {
  std::vector<CBusLine> lines;
  if (layout_ == 2) lines = lines_;
  else if (layout_ == 1 && CurrentLineIndex() >= 0) lines.push_back(lines_[size_t(CurrentLineIndex())]);
  PaintBusLines(g, p, lines, display_);
}

void CBusLinePanel::OnDisplay() {
  BusLineDisplay before = display_;
  CDlgBusLineDisplay dialog(display_, [this] { Redraw(); }, this);
  if (dialog.DoModal() == IDOK) {
    store_.SaveDisplay(display_);
  } else {
    display_ = before;  // live changes are taken back with the dialog
  }
  Redraw();
}

CDlgStationSearch* CBusLinePanel::OpenStationSearch() {
  if (!search_) search_ = std::make_unique<CDlgStationSearch>([this](bool all) { return StoredLines(all); }, view_, this);
  ShowModelessDialog(search_.get());
  return search_->IsWindow() ? search_.get() : nullptr;
}

void CBusLinePanel::OnStationMenu(int row) {
  const int line = CurrentLineIndex();
  if (line < 0 || row < 0 || row >= static_cast<int>(lines_[size_t(line)].stations.size())) return;
  const CBusLine& l = lines_[size_t(line)];
  const BusStation s = l.stations[size_t(row)];
  CMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING, ID_STATION_SEARCH, "站名搜索");
  menu.AppendMenu(MF_STRING, ID_NEARBY_SEARCH, "附近搜索");
  const UINT chosen = static_cast<UINT>(menu.TrackPopupMenu(TPM_RETURNCMD | TPM_RIGHTBUTTON, 0, 0, this));
  if (chosen != ID_STATION_SEARCH && chosen != ID_NEARBY_SEARCH) return;
  const double x = double(s.lng) + l.lng_offset, y = double(s.lat) + l.lat_offset;
  if (CDlgStationSearch* search = OpenStationSearch())
    search->SearchFor(chosen == ID_STATION_SEARCH ? s.name : FormatRadiusQuery(x, y, kNearbyMetres));
}

}  // namespace velmora
