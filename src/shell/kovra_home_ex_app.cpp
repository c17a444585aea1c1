// The application object: start-up, message loop, shut-down and the services other modules call.
#include "shell/kovra_home_ex_app.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>

#include "core/format.h"
#include "core/log.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/ui_host.h"
#include "shell/main_frame.h"
#include "shell/map_status_bar.h"
#include "shell/splash_wnd.h"
#include "shell/stop_signal.h"

namespace velmora {
namespace {

std::atomic<CKovraHomeExApp*> g_app{nullptr};

constexpr const char* kSecondInstance = "\tVelmora\n已经存在一个运行实例!";
constexpr const char* kDiskFull = "硬盘空间不足,请重新设置数据目录!";
constexpr const char* kSavingPages = "保存页面...";
constexpr const char* kStartingExit = "开始退出...";
constexpr const char* kClosingPages = "关闭页面...";

// Shut-down order of the phases (start-up runs them in declaration order).
constexpr AppPhase kStopOrder[] = {AppPhase::kCatalogue, AppPhase::kPublishing, AppPhase::kTileManager,
                                   AppPhase::kFrame};

int64_t WallClockMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

struct StoreFile {
  CProfileStore& (*store)();
  const char* pattern;
};
constexpr StoreFile kStores[] = {{&ProgramSettings, "Kovra%d.reg"}, {&DrawingDefaults, "dis%d.reg"}};

}  // namespace

CKovraHomeExApp* GetApp() { return g_app.load(); }

CMainFrame* GetMainFrame() {
  CKovraHomeExApp* app = GetApp();
  return app ? app->MainFrame() : nullptr;
}

CKovraHomeExApp::CKovraHomeExApp() {
  start_time_ms_ = WallClockMs();
  start_tick_ = TickCount64();
  g_app.store(this);
}

CKovraHomeExApp::~CKovraHomeExApp() {
  // An application that started and was never shut down still stops its services in order.
  if (started_ || !running_.empty()) ExitInstance();
  CKovraHomeExApp* self = this;
  g_app.compare_exchange_strong(self, nullptr);
}

void CKovraHomeExApp::RegisterStep(AppStep step) { steps_.push_back(std::make_unique<AppStep>(std::move(step))); }

std::vector<std::string> CKovraHomeExApp::RunningSteps() const {
  std::vector<std::string> names;
  for (const Running& r : running_) names.push_back(r.step->name);
  return names;
}

bool CKovraHomeExApp::StartPhase(AppPhase phase) {
  for (const auto& step : steps_) {
    if (step->phase != phase) continue;
    if (step->enabled && !step->enabled()) continue;
    if (!step->start_text.empty()) SetSplashText(step->start_text);
    bool ok = true;
    try {
      if (step->start) ok = step->start(*this);
    } catch (const std::exception& e) {
      AppLog("start-up step %s: %s", step->name.c_str(), e.what());
      ok = false;
    }
    if (!ok) {
      AppLog("start-up step %s failed; the program stops", step->name.c_str());
      return false;
    }
    running_.push_back(Running{step.get()});
  }
  return true;
}

void CKovraHomeExApp::StopPhase(AppPhase phase) {
  for (size_t i = running_.size(); i-- > 0;) {
    const AppStep* step = running_[i].step;
    if (step->phase != phase) continue;
    running_.erase(running_.begin() + static_cast<long>(i));
    if (!step->stop_text.empty()) MapStatusBar().SetMessageText(step->stop_text);
    try {
      if (step->stop) step->stop(*this);
    } catch (const std::exception& e) {
      AppLog("shut-down step %s: %s", step->name.c_str(), e.what());
    }
  }
}

void CKovraHomeExApp::LoadProfileStores() {
  const CAppOptions& options = AppOptions();
  std::error_code ec;
  for (const StoreFile& f : kStores) {
    std::string name = ProfileStoreFileName(f.pattern, 0);
    std::string own = options.data_dir + name;
    std::string seed = options.program_dir + name;
    // The shipped copy seeds the store until the user's own copy exists.
    const std::string& path = !std::filesystem::exists(own, ec) && std::filesystem::exists(seed, ec) ? seed : own;
    f.store().Load(path);
  }
  profiles_loaded_ = true;
}

void CKovraHomeExApp::SaveProfileStores() {
  if (!profiles_loaded_) return;
  const CAppOptions& options = AppOptions();
  for (const StoreFile& f : kStores) {
    std::string path = options.data_dir + ProfileStoreFileName(f.pattern, 0);
    if (!f.store().Save(path)) AppLog("cannot save %s", path.c_str());
  }
}

void CKovraHomeExApp::CreateImageLists() {
  small_images_.Create(16, 16);
  small_images_.Add("service_running.png");
  small_images_.Add("service_stopped.png");
  point_images_.Create(16, 16);
  for (const char* name : {"point_new.png", "point_web.png", "point_failed.png", "point_quota.png",
                           "point_cache.png"})
    point_images_.Add(name);
  check_images_.Create(16, 16);
  for (const char* name : {"check_off.png", "check_on.png", "check_none.png", "check_part.png"})
    check_images_.Add(name);
  mark_images_.Create(16, 16);
  for (int i = 0; i < kMarkIconCount; ++i) mark_images_.Add("mark_" + std::to_string(i) + ".png");
}

bool CKovraHomeExApp::CheckFreeSpace() {
  std::string folder = AppOptions().data_dir;
  EnsureFolder(folder);
  std::optional<uint64_t> free = free_space_probe_ ? free_space_probe_(folder) : FreeDiskSpace(folder);
  if (free && *free >= kMinFreeSpace) return true;
  if (free)
    AppLog("data folder %s: %llu bytes free", folder.c_str(), static_cast<unsigned long long>(*free));
  else
    AppLog("data folder %s cannot be examined", folder.c_str());
  ShowMessageBox(kDiskFull, MB_OK | MB_ICONWARNING);
  return false;
}

bool CKovraHomeExApp::InitInstance() {
  if (started_) return true;
  exited_ = false;
  UiDispatcher().AttachToCurrentThread();
  ui_thread_ = std::this_thread::get_id();
  start_time_ms_ = WallClockMs();
  start_tick_ = TickCount64();
  Trace("startup");

  const std::string data_dir = AppOptions().data_dir;
  std::string lock_path = lock_path_.empty() ? data_dir + "velmora.lock" : lock_path_;
  std::string error;
  switch (instance_lock_.Acquire(lock_path, &error)) {
    case CInstanceLock::Result::kAcquired:
      break;
    case CInstanceLock::Result::kHeldElsewhere:
      ShowMessageBox(kSecondInstance, MB_OK | MB_ICONINFORMATION);
      return false;
    case CInstanceLock::Result::kError:
      AppLog("instance lock: %s; the single-instance check is skipped", error.c_str());
      break;
  }

  LoadProfileStores();
  LoadAppOptionsFrom(data_dir + kOptionsFileName);
  SplashWnd().Show();

  if (!StartPhase(AppPhase::kCatalogue)) {
    Abort();
    return false;
  }
  CreateImageLists();
  if (!CheckFreeSpace()) {
    if (options_opener_) options_opener_();
    Abort();
    return false;
  }

  frame_ = std::make_unique<CMainFrame>();
  if (!frame_->CreateFrame(kAppTitle) || !StartPhase(AppPhase::kFrame)) {
    Abort();
    return false;
  }
  if (views_.HasFactory(kViewMap2D)) SwitchView(kViewMap2D);
  if (!StartPhase(AppPhase::kTileManager) || !StartPhase(AppPhase::kPublishing)) {
    Abort();
    return false;
  }
  frame_->ShowFrame(SW_SHOWMAXIMIZED);
  SplashWnd().Hide();
  started_ = true;
  Trace("Initialize finish");
  return true;
}

void CKovraHomeExApp::Abort() {
  for (AppPhase phase : {AppPhase::kPublishing, AppPhase::kTileManager, AppPhase::kFrame, AppPhase::kCatalogue})
    StopPhase(phase);
  current_view_ = nullptr;
  views_.DestroyAll();
  if (frame_) {
    frame_->CloseFrame();
    frame_.reset();
  }
  SplashWnd().Hide();
  instance_lock_.Release();
}

int CKovraHomeExApp::Run() { return message_loop_ ? message_loop_() : UiDispatcher().Run(); }

void CKovraHomeExApp::RequestQuit(int exit_code) { UiDispatcher().PostQuitMessage(exit_code); }

int CKovraHomeExApp::ExitInstance() {
  if (exited_) return 0;
  exited_ = true;
  if (!started_ && running_.empty()) {
    instance_lock_.Release();
    return 0;
  }
  for (AppPhase phase : kStopOrder) {
    switch (phase) {
      case AppPhase::kCatalogue: MapStatusBar().SetMessageText(kSavingPages); break;
      case AppPhase::kTileManager: MapStatusBar().SetMessageText(kStartingExit); break;
      case AppPhase::kFrame:
        MapStatusBar().SetMessageText(kClosingPages);
        current_view_ = nullptr;
        views_.DestroyAll();
        break;
      case AppPhase::kPublishing: break;
    }
    StopPhase(phase);
  }
  if (frame_) {
    frame_->CloseFrame();
    frame_.reset();
  }
  SaveProfileStores();
  // No other process waits for the program's end on this system: a log line marks it.
  AppLog("KovraHomeEx_Quited");
  instance_lock_.Release();
  started_ = false;
  return 0;
}

int CKovraHomeExApp::RunProgram() {
  CStopSignal::BlockStopSignals();
  if (!InitInstance()) {
    ExitInstance();
    return 1;
  }
  CStopSignal watcher;
  watcher.Start([this](int sig) {
    AppLog("signal %d: shutting down", sig);
    RequestQuit(0);
  });
  if (message_loop_)
    AppLog("%s; SIGINT or SIGTERM ends the program", loop_description_.c_str());
  else
    AppLog("running without a display; SIGINT or SIGTERM ends the program");
  int code = Run();
  watcher.Stop();
  ExitInstance();
  return code;
}

std::string CKovraHomeExApp::FormatTickTime(uint64_t tick) const {
  return velmora::FormatTickTime(tick, start_time_ms_, start_tick_);
}

IChildView* CKovraHomeExApp::SwitchView(int kind) {
  IChildView* view = views_.GetOrCreate(kind, frame_.get());
  if (!view) return nullptr;
  if (view == current_view_) return view;
  if (current_view_ && current_view_->GetWnd()) current_view_->GetWnd()->ShowWindow(SW_HIDE);
  if (CWnd* window = view->GetWnd()) window->ShowWindow(SW_SHOW);
  current_view_ = view;
  // The frame's centre changed: its front end shows the view now current (a view shown again is
  // not created, so nothing else tells the frame).
  if (frame_ && frame_->IsWindow()) frame_->Invalidate();
  return view;
}

void CKovraHomeExApp::PushViewHistory(double lng, double lat, double level) {
  history_.Push(ViewPosition{lng, lat, level});
}

double CKovraHomeExApp::GetProfileDouble(const std::string& section, const std::string& key, double def) const {
  return velmora::GetProfileDouble(section, key, def);
}

bool CKovraHomeExApp::WriteProfileDouble(const std::string& section, const std::string& key, double value) {
  return velmora::WriteProfileDouble(section, key, value);
}

}  // namespace velmora
