// CKovraHomeExApp: the application object. It runs the start-up and shut-down sequences, owns the
// main frame, the child views and the shared image lists, keeps the current view and the view
// history, and runs the user-interface thread's message loop.
//
// Long-lived services of other modules (the layer state, the tile manager, the map publishing
// server, parts of the frame) plug in as steps registered before InitInstance; the shell knows
// only the phase each step belongs to:
//   start-up:  single instance, profile stores, options, splash, kCatalogue steps, fonts and image
//              lists, free-space check, main frame with kFrame steps, kTileManager steps,
//              kPublishing steps (only when enabled), frame shown, splash hidden;
//   shut-down: "保存页面..." and the kCatalogue steps' stop (they save their state), the
//              kPublishing steps' stop, "开始退出..." and the kTileManager steps' stop,
//              "关闭页面..." with the views, the kFrame steps' stop and the frame, then the
//              profile stores are saved.
// Within a phase steps start in registration order and stop in the reverse order; only steps
// that started are stopped.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/image_list.h"
#include "platform/ui/ui_types.h"
#include "shell/instance_lock.h"
#include "shell/view_history.h"
#include "view/view_registry.h"

namespace velmora {

class CKovraHomeExApp;
class CMainFrame;

enum class AppPhase { kCatalogue, kFrame, kTileManager, kPublishing };

struct AppStep {
  std::string name;
  AppPhase phase = AppPhase::kTileManager;
  std::string start_text;             // splash line shown before the start ("" none)
  std::string stop_text;              // status line shown before the stop ("" none)
  std::function<bool()> enabled;      // asked at start-up; empty means always
  std::function<bool(CKovraHomeExApp&)> start;  // false refuses the start-up
  std::function<void(CKovraHomeExApp&)> stop;
};

// The application font.
struct AppFontDesc {
  std::string face = "Microsoft Sans Serif";
  int height = -11;
  int weight = 400;
  int charset = 134;
};

class CKovraHomeExApp {
 public:
  static constexpr uint64_t kMinFreeSpace = 104857600;  // 100 MiB in the data folder
  using FreeSpaceProbe = std::function<std::optional<uint64_t>(const std::string& folder)>;

  CKovraHomeExApp();
  ~CKovraHomeExApp();
  CKovraHomeExApp(const CKovraHomeExApp&) = delete;
  CKovraHomeExApp& operator=(const CKovraHomeExApp&) = delete;

  // ---- set up before InitInstance ----
  void RegisterStep(AppStep step);
  // Factories of the child views (the 2D view, kind 0, is shown when the frame is created).
  CViewRegistry& Views() { return views_; }
  // Replaces FreeDiskSpace (tests fake a full disk).
  void SetFreeSpaceProbe(FreeSpaceProbe probe) { free_space_probe_ = std::move(probe); }
  // The lock file of the single-instance check ("<data folder>velmora.lock" by default).
  void SetInstanceLockPath(const std::string& path) { lock_path_ = path; }
  // Opens the options after the free-space refusal, so that the user can choose another folder.
  void SetOptionsOpener(std::function<void()> opener) { options_opener_ = std::move(opener); }
  // Replaces the UI dispatcher's own loop in Run (a desktop front end runs its toolkit's loop,
  // which serves the dispatcher's queue and returns the exit code of RequestQuit); `description`
  // is logged when RunProgram starts it. An empty loop restores the dispatcher's.
  void SetMessageLoop(std::function<int()> loop, std::string description = "") {
    message_loop_ = std::move(loop);
    loop_description_ = std::move(description);
  }

  // ---- life ----
  // The start-up sequence on the calling thread, which becomes the user-interface thread. False
  // when the program must not run (second instance, too little space, a step refused); what had
  // started is stopped again.
  bool InitInstance();
  // The message loop until RequestQuit; returns its exit code.
  int Run();
  // The shut-down sequence; safe to call more than once. Returns the exit code (0).
  int ExitInstance();
  // The whole program: blocks SIGINT and SIGTERM (call before any other thread starts),
  // InitInstance, Run until one of them arrives or RequestQuit, ExitInstance. 0 after a clean
  // run, 1 when the start-up was refused.
  int RunProgram();
  // Any thread: ends Run.
  void RequestQuit(int exit_code = 0);
  bool IsStarted() const { return started_; }
  // Names of the steps that are running, in start order.
  std::vector<std::string> RunningSteps() const;

  // ---- services ----
  // Local wall time of a tick ("%H:%M:%S.mmm"), from the start time and start tick.
  std::string FormatTickTime(uint64_t tick) const;
  IChildView* GetCurrentView() const { return current_view_; }
  IChildView* FindView(int kind) const { return views_.Find(kind); }
  // Makes the view of that kind on first use, shows it and hides the one shown before; null when
  // that kind cannot be made (the current view stays).
  IChildView* SwitchView(int kind);
  void PushViewHistory(double lng, double lat, double level);
  CViewHistory& ViewHistory() { return history_; }
  double GetProfileDouble(const std::string& section, const std::string& key, double def) const;
  bool WriteProfileDouble(const std::string& section, const std::string& key, double value);
  // The user-interface thread.
  std::thread::id ThreadId() const { return ui_thread_; }
  CMainFrame* MainFrame() const { return frame_.get(); }

  // Image lists by index: the small list (services: 0 running, 1 stopped), the point-list row
  // states, the check states of trees (0 unticked, 1 ticked, 3 partly ticked) and the icons of
  // map marks (a mark stores its index). The pictures are files of the program's images folder.
  CImageList& SmallImageList() { return small_images_; }
  CImageList& PointStateImages() { return point_images_; }
  CImageList& CheckStateImages() { return check_images_; }
  CImageList& MarkIconImages() { return mark_images_; }
  static constexpr int kMarkIconCount = 10;
  const AppFontDesc& AppFont() const { return font_; }
  // The application's cursors: the free-region cursor (drawing a region on a view) and the
  // selection cursor (dragging a selection box). Windows show them with SetWindowCursor; the
  // front end draws them.
  CursorKind FreeRegionCursor() const { return CursorKind::kFreeRegion; }
  CursorKind SelectionCursor() const { return CursorKind::kSelection; }

 private:
  struct Running {
    const AppStep* step;
  };
  bool StartPhase(AppPhase phase);
  void StopPhase(AppPhase phase);
  bool CheckFreeSpace();
  void LoadProfileStores();
  void SaveProfileStores();
  void CreateImageLists();
  void Abort();  // undo a start-up that stopped half-way

  std::vector<std::unique_ptr<AppStep>> steps_;
  std::vector<Running> running_;
  CViewRegistry views_;
  IChildView* current_view_ = nullptr;
  CViewHistory history_;
  std::unique_ptr<CMainFrame> frame_;
  CInstanceLock instance_lock_;
  std::string lock_path_;
  FreeSpaceProbe free_space_probe_;
  std::function<void()> options_opener_;
  std::function<int()> message_loop_;
  std::string loop_description_;
  CImageList small_images_, point_images_, check_images_, mark_images_;
  AppFontDesc font_;
  std::thread::id ui_thread_;
  int64_t start_time_ms_ = 0;  // wall clock, milliseconds since the epoch
  uint64_t start_tick_ = 0;
  std::atomic<bool> started_{false};
  bool profiles_loaded_ = false;
  bool exited_ = false;
};

// The application object of this process (the last one constructed), or null.
CKovraHomeExApp* GetApp();
// The main frame of the application, or null.
CMainFrame* GetMainFrame();

}  // namespace velmora
