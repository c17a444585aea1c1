// The place search box: typing, the timer and Enter, the three sources, the drop-down of hits,
// the web requests on their worker and the box's commands.
#include "places/ui/cmb_address.h"

#include "core/log.h"
#include "core/settings.h"
#include "places/place_record.h"
#include "places/ui/dlg_address_search.h"
#include "places/ui/place_name_tree.h"
#include "places/ui/view_jump.h"
#include "platform/text.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/wait_cursor.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "tiles/layer_manager.h"

namespace velmora {
namespace {

constexpr UINT kMsgWebAnswer = WM_USER + 0x70;  // the worker has an answer

bool IsKnownSource(int source) {
  return IsGeocoderId(source) || source == kSearchSourcePlaceNames || source == kSearchSourceSuggest;
}

}  // namespace

CmbAddress::CmbAddress() {
  SetCancelFlag(&cancel_);
  MapTimer(kSearchTimer, [this] { OnTimerSearch(); });
  MapMessage(kMsgWebAnswer, [this](WPARAM, LPARAM) {
    OnWebAnswer();
    return LRESULT{0};
  });
  MapCommand(ID_LOCAL_SEARCH, [this] { OnLocalSearch(); });
  MapCommand(ID_TOGGLE_AUTO_UPDATE, [this] { OnToggleAutoUpdate(); });
  MapCommand(ID_SOURCE_SUGGEST, [this] { SetSource(kSearchSourceSuggest); });
  MapCommand(ID_SOURCE_PLACE_NAMES, [this] { SetSource(kSearchSourcePlaceNames); });
  MapCommandRange(ID_LIBRARY_FIRST, ID_LIBRARY_LAST, [this](UINT id) { OnSelectLibrary(id); });
}

CmbAddress::~CmbAddress() {
  DestroyWindow();
  StopWorker();
}

bool CmbAddress::CreateBox(CWnd* parent) {
  if (IsWindow()) return true;
  return Create(parent, kWindowId, "", WS_CHILD | WS_VISIBLE, RECT{0, 0, 360, 24});
}

int CmbAddress::OnCreate() {
  if (CComboBoxEx::OnCreate() == -1) return -1;
  // The pictures of the hit kinds, by AddressTypeImage's index.
  images_.Create(16, 16);
  for (int i = 0; i <= 10; ++i) images_.Add("place_kind_" + std::to_string(i) + ".png");
  SetImageList(&images_);

  edit_.SubclassDlgItem(kEditId, this);
  edit_.cue_text = kCueText;
  edit_.cue_color = 0xB4B4B4;
  edit_.hollow_background = true;
  edit_.ShowCueText();
  if (edit_.MenuItems().empty()) {
    edit_.AddMenuItem(ID_LOCAL_SEARCH, "本地地址库...");
    edit_.AddMenuItem(ID_TOGGLE_AUTO_UPDATE, "优先网络查询");
    for (int n = 0; n < LayerManager().GeocoderCount() && ID_LIBRARY_FIRST + static_cast<UINT>(n) <= ID_LIBRARY_LAST; ++n)
      if (const MapSourceDef* source = LayerManager().GeocoderAt(n))
        edit_.AddMenuItem(ID_LIBRARY_FIRST + static_cast<UINT>(n), "地址库: " + source->name);
    edit_.AddMenuItem(ID_SOURCE_PLACE_NAMES, "行政地名");
    edit_.AddMenuItem(ID_SOURCE_SUGGEST, "网络提示");
  }

  web_first_ = GetProfileInt(kRecentSection, kWebFirstKey, 0) != 0;
  int source = ProgramSettings().GetInt(kSourceKey, kDefaultSource);
  if (source == kSearchSourcePlaceNames && !AppOptions().show_place_tree) source = kDefaultSource;
  if (!IsKnownSource(source)) {
    AppLog("place search: unknown search source %d; the first address library is used", source);
    source = kDefaultSource;
  }
  Open(source);

  {
    std::lock_guard lock(mutex_);
    post_to_ = GetSafeHwnd();
    stopping_ = false;
  }
  if (!worker_.IsRunning() && !worker_.Start("PlaceSearch", [this] { WorkerLoop(); }))
    AppLog("place search: the web search worker could not start");
  return 0;
}

void CmbAddress::OnDestroy() {
  KillTimer(kSearchTimer);
  StopWorker();
  EndWaiting();
  // The hits of the items go with them.
  hits_.clear();
  ResetContent();
}

bool CmbAddress::OnReflectedNotify(unsigned code) {
  switch (code) {
    case CBN_EDITCHANGE:
      OnEditChange();
      return true;
    case CBN_SELCHANGE:
      OnSelChange();
      return true;
    default:
      return false;
  }
}

void CmbAddress::OnEditChange() {
  SetTimer(kSearchTimer, kSearchDelayMs);
  last_keystroke_ = TickCount64();
  ShowDropDown(false);
  // Hits of the text before this change are not wanted any more.
  DropWebSearch(false);
}

void CmbAddress::OnTimerSearch() {
  KillTimer(kSearchTimer);
  Search(web_first_);
}

void CmbAddress::OnEnter() {
  KillTimer(kSearchTimer);
  Search(true);
}

void CmbAddress::Search(bool force_web) {
  const std::string text(TrimAscii(GetEditText()));
  if (text.empty() || text == kCueText) return;
  ++search_count_;
  // Whatever was asked before is superseded, also when the text is the same (Enter after the
  // timer's search asks again).
  DropWebSearch(false);
  CWaitCursor wait;
  AddressHitList hits;
  const int source = Source();
  if (source == kSearchSourceSuggest) {
    StartWebSearch(text, true);
    return;
  }
  if (source == kSearchSourcePlaceNames) {
    SearchPlaceNames(text, hits);
  } else if (IsGeocoderId(source)) {
    if (!force_web) CAddressAdo::Search(text, hits);
    if (force_web || hits.empty()) {
      StartWebSearch(text, false);
      return;
    }
  }
  FillDropDown(std::move(hits));
}

void CmbAddress::SearchPlaceNames(std::string_view text, AddressHitList& out) {
  CMainFrame* frame = GetMainFrame();
  auto* tree = dynamic_cast<CPlaceNameTree*>(frame ? frame->FindSideBarPanel(CPlaceNameTree::kPanelName) : nullptr);
  if (!tree) return;
  for (const PlaceRecord& place : tree->FindByName(text)) {
    AddressHit hit;
    hit.name = place.name;
    hit.type = static_cast<int16_t>(PlaceLevelAddressType(place.type));
    hit.lng = place.lng;
    hit.lat = place.lat;
    out.push_back(std::move(hit));
  }
}

void CmbAddress::FillDropDown(AddressHitList hits) {
  ResetContent();
  hits_ = std::move(hits);
  if (hits_.empty()) return;
  for (size_t i = 0; i < hits_.size(); ++i) {
    // One picture per kind of hit, in the list and in the box alike (AddressTypeImage).
    const int image = AddressTypeImage(hits_[i].type);
    InsertItem(static_cast<int>(i), hits_[i].name, image, image, i);
  }
  ShowDropDown(true);
  edit_.SetFocus();
}

void CmbAddress::OnSelChange() {
  KillTimer(kSearchTimer);
  const int sel = GetCurSel();
  if (sel < 0 || static_cast<size_t>(sel) >= hits_.size()) return;
  const AddressHit& hit = hits_[static_cast<size_t>(sel)];
  JumpCurrentView(hit.lng, hit.lat, hit.zoom);
}

// ---- web requests on the worker ----

void CmbAddress::StartWebSearch(std::string text, bool suggest) {
  {
    std::lock_guard lock(mutex_);
    pending_ = Request{std::move(text), suggest, generation_.load()};
    // A request under way is older: it ends now.
    if (working_) cancel_.store(true);
  }
  wake_.Set();
  if (!waiting_) {
    waiting_ = true;
    BeginWaitCursor();
  }
}

void CmbAddress::DropWebSearch(bool wait) {
  generation_.fetch_add(1);
  {
    std::unique_lock lock(mutex_);
    pending_.reset();
    if (working_) cancel_.store(true);
    if (wait) idle_changed_.wait(lock, [this] { return !working_; });
    answers_.clear();
  }
  EndWaiting();
}

void CmbAddress::EndWaiting() {
  if (!waiting_) return;
  waiting_ = false;
  EndWaitCursor();
}

void CmbAddress::WorkerLoop() {
  worker_.SignalReady();
  for (;;) {
    wake_.Wait(kInfinite);
    Request request;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      if (!pending_) continue;
      request = std::move(*pending_);
      pending_.reset();
      working_ = true;
      cancel_.store(false);
    }
    AddressHitList hits;
    if (request.suggest)
      RequestSuggest(request.text, hits);
    else
      RequestPlaceSearch(request.text, hits);
    HWND post_to = 0;
    {
      std::lock_guard lock(mutex_);
      working_ = false;
      if (request.generation == generation_.load()) {
        answers_.push_back(Answer{request.generation, std::move(hits)});
        post_to = post_to_;
      }
      // Another request may have come meanwhile: look again without waiting.
      if (pending_) wake_.Set();
    }
    idle_changed_.notify_all();
    if (post_to) UiDispatcher().PostMessage(post_to, kMsgWebAnswer, 0, 0);
  }
}

void CmbAddress::OnWebAnswer() {
  std::deque<Answer> answers;
  {
    std::lock_guard lock(mutex_);
    answers.swap(answers_);
  }
  for (Answer& answer : answers) {
    if (answer.generation != generation_.load()) continue;  // a newer search is under way
    EndWaiting();
    FillDropDown(std::move(answer.hits));
  }
}

void CmbAddress::StopWorker() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    post_to_ = 0;
    pending_.reset();
    cancel_.store(true);  // a request under way ends within a moment
  }
  wake_.Set();
  worker_.Stop(kInfinite);
  worker_.OnExit();
}

// ---- commands ----

void CmbAddress::OnLocalSearch() {
  CDlgAddressSearch dialog(*this, this);
  dialog.DoModal();
}

void CmbAddress::OnToggleAutoUpdate() {
  web_first_ = !web_first_;
  WriteProfileInt(kRecentSection, kWebFirstKey, web_first_ ? 1 : 0);
}

void CmbAddress::SetSource(int source) {
  if (!IsKnownSource(source)) return;
  if (source != Source()) {
    // The worker must not be inside a request of the old source while the database changes.
    DropWebSearch(true);
    Open(source);
  }
  ProgramSettings().SetInt(kSourceKey, source);
}

void CmbAddress::OnSelectLibrary(UINT command) {
  const int n = static_cast<int>(command - ID_LIBRARY_FIRST);
  if (n < 0 || n >= LayerManager().GeocoderCount()) return;
  const MapSourceDef* geocoder = LayerManager().GeocoderAt(n);
  if (!geocoder || geocoder->id == Source()) return;
  SetSource(geocoder->id);
}

}  // namespace velmora
