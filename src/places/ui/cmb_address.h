// CmbAddress: the place search box of the main frame's address bar. The user types a place name;
// half a second without typing (timer 1), or Enter, starts a search; the hits drop down below the
// box with a picture of their kind, and choosing one moves the current view there.
//
// The search goes to the source the user chose, kept in the program setting "addr_search" and
// held in the id field of the box's address database (CPlaceSearchClient):
//   a geocoder id (8, 111, 112)  its address library: the stored places first, the web when
//                                they know nothing (Enter always asks the web; so does the timer
//                                while the web-first flag, registry "recent"/"addr_update", is on);
//   32952                        the place-name table of the side-bar panel "行政地名";
//   32922                        the web suggestion service.
// Web requests run on the worker "PlaceSearch" while the window stays usable and the wait pointer
// shows; a newer search, typing, a source change or closing the box cancels the request under
// way, and a reply that arrives for an older search is dropped.
//
// Commands (from the edit's own menu and the main menu): 32917 the local address search dialog,
// 32918 the web-first flag, 32922 and 32952 the sources, 40000 + n the n-th geocoder of the
// layer manager's list.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/work_thread.h"
#include "places/place_search_client.h"
#include "platform/sync.h"
#include "platform/ui/combo_box_ex.h"
#include "platform/ui/image_list.h"
#include "shell/menu_edit.h"

namespace velmora {

class CmbAddress : public CComboBoxEx, public CPlaceSearchClient {
 public:
  static constexpr int kWindowId = 0x7F30;
  static constexpr UINT_PTR kSearchTimer = 1;
  static constexpr unsigned kSearchDelayMs = 500;
  static constexpr const char* kCueText = "地名查询,定位更迅速...";
  static constexpr UINT ID_LOCAL_SEARCH = 32917;
  static constexpr UINT ID_TOGGLE_AUTO_UPDATE = 32918;
  static constexpr UINT ID_SOURCE_SUGGEST = 32922;
  static constexpr UINT ID_SOURCE_PLACE_NAMES = 32952;
  static constexpr UINT ID_LIBRARY_FIRST = 40000;
  static constexpr UINT ID_LIBRARY_LAST = 40003;
  static constexpr const char* kSourceKey = "addr_search";  // program setting
  static constexpr const char* kRecentSection = "recent";   // registry profile
  static constexpr const char* kWebFirstKey = "addr_update";
  static constexpr int kDefaultSource = 8;

  CmbAddress();
  ~CmbAddress() override;

  // Makes the box as a child of `parent` (the main frame).
  bool CreateBox(CWnd* parent);

  // The search of the edit's text (trimmed; nothing for an empty text or the cue text).
  void Search(bool force_web);
  // The frame's Enter: the pending timer is dropped and the web is asked (for a library).
  void OnEnter();
  void SearchPlaceNames(std::string_view text, AddressHitList& out);
  // Shows the hits (the box keeps them): the list is refilled and opened, or emptied and closed.
  void FillDropDown(AddressHitList hits);
  const AddressHitList& Hits() const { return hits_; }

  int Source() const { return Id(); }
  bool IsWebFirst() const { return web_first_; }
  // True while a web request of the current search is under way.
  bool IsSearchingWeb() const { return waiting_; }
  // Searches started (timer, Enter) since the box was made.
  int SearchCount() const { return search_count_; }
  CMenuEdit& Edit() { return edit_; }

  void OnLocalSearch();
  void OnToggleAutoUpdate();
  // The source commands: 32922 and 32952, and 40000 + n for the n-th geocoder.
  void SetSource(int source);
  void OnSelectLibrary(UINT command);

 protected:
  int OnCreate() override;
  void OnDestroy() override;
  bool OnReflectedNotify(unsigned code) override;

 private:
  struct Request {
    std::string text;
    bool suggest = false;
    uint64_t generation = 0;
  };
  struct Answer {
    uint64_t generation = 0;
    AddressHitList hits;
  };
  void OnEditChange();
  void OnSelChange();
  void OnTimerSearch();
  void StartWebSearch(std::string text, bool suggest);
  // Drops the current search's web request (cancelled, its answer ignored); with `wait`, also
  // waits until the worker is idle (before the database changes).
  void DropWebSearch(bool wait);
  void OnWebAnswer();
  void WorkerLoop();
  void StopWorker();
  void EndWaiting();

  CImageList images_;
  CMenuEdit edit_;
  uint64_t last_keystroke_ = 0;  // TickCount64 of the last change of the text
  bool web_first_ = false;
  AddressHitList hits_;          // the items' hits, item data = index
  int search_count_ = 0;
  bool waiting_ = false;         // the wait pointer is on for a web request (UI thread)

  // The worker and what it shares with the user-interface thread.
  CWorkThread worker_;
  std::mutex mutex_;
  std::condition_variable idle_changed_;
  std::optional<Request> pending_;  // the newest request not taken yet
  std::deque<Answer> answers_;      // answers not yet shown
  bool working_ = false;            // the worker runs a request
  bool stopping_ = false;
  HWND post_to_ = 0;                // this window, for the worker's posts
  Event wake_{false};
  std::atomic<bool> cancel_{false};
  std::atomic<uint64_t> generation_{0};  // the current search; older answers are dropped
};

}  // namespace velmora
