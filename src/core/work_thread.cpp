// CWorkThread on std::thread with cooperative stop.
#include "core/work_thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include "core/log.h"

namespace velmora {

struct CWorkThread::State {
  std::mutex mutex;
  std::condition_variable changed;  // notified when a run signals ready and when it ends
  bool running = false;
  uint64_t run = 0;        // counts the runs, so that no wait mistakes one run for another
  uint64_t ready_run = 0;  // the last run that signalled ready (or ended)
  std::thread::id thread_id;
  long tid = 0;
  std::string name;
  Event quit{true, false};
};

namespace {
// The quit request of the worker whose procedure runs on this thread (Run sets it).
thread_local const Event* t_current_quit = nullptr;
}  // namespace

CWorkThread::CWorkThread() : state_(std::make_shared<State>()) {}

CWorkThread::~CWorkThread() {
  bool own_thread;
  {
    std::lock_guard lock(state_->mutex);
    own_thread = state_->thread_id == std::this_thread::get_id();
  }
  if (own_thread) {
    // The worker is deleting its owner: it cannot join itself, and Run only touches the shared
    // state after the procedure returns.
    state_->quit.Set();
    std::lock_guard lock(thread_mutex_);
    if (thread_.joinable()) thread_.detach();
    return;
  }
  Stop(kInfinite);
}

bool CWorkThread::Start(const std::string& name, LegacyProcedure procedure, void* parameter,
                        int priority) {
  return Start(name, [procedure, parameter] { procedure(parameter); }, priority);
}

bool CWorkThread::Start(const std::string& name, Procedure procedure, int priority) {
  std::shared_ptr<State> state = state_;
  uint64_t run = 0;
  // Starts the thread under the locks; a refusal is returned as text and logged after they are
  // released (a log sink may take locks of its own).
  auto launch = [&]() -> std::string {
    std::lock_guard thread_lock(thread_mutex_);
    {
      std::lock_guard lock(state_->mutex);
      if (state_->running) return "Thread: " + state_->name + " is still running; " + name + " is not started";
    }
    // An earlier run has ended; its thread no longer needs any lock and is joined at once.
    if (thread_.joinable()) thread_.join();
    name_ = name;
    {
      std::lock_guard lock(state_->mutex);
      state_->name = name;
      state_->running = true;
      run = ++state_->run;
      state_->quit.Reset();
    }
    try {
      thread_ = std::thread(&CWorkThread::Run, state_, std::move(procedure), priority);
    } catch (const std::system_error& e) {
      std::lock_guard lock(state_->mutex);
      state_->running = false;
      return "Thread: " + name + " could not start: " + e.what();
    }
    return {};
  };
  if (std::string refusal = launch(); !refusal.empty()) {
    AppLog("%s", refusal.c_str());
    return false;
  }
  // Run counts as ready at its end too, so this wait ends even for a procedure that never calls
  // SignalReady; the run has then fully ended, and a new Start may follow at once.
  // The worker may destroy this object once it signalled ready: only the shared state is used.
  std::unique_lock lock(state->mutex);
  state->changed.wait(lock, [&] { return state->ready_run >= run; });
  return true;
}

void CWorkThread::Run(std::shared_ptr<State> state, Procedure procedure, int priority) {
  long tid = static_cast<long>(::gettid());
  std::string name;
  uint64_t run;
  {
    std::lock_guard lock(state->mutex);
    state->thread_id = std::this_thread::get_id();
    state->tid = tid;
    name = state->name;
    run = state->run;
  }
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
  if (priority < 0) {
    // Lowering the priority needs no privilege; raising it would, so it is not attempted.
    int nice_value = priority <= -15 ? 19 : std::min(19, -priority * 5);
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice_value);
  }
  Trace("Thread: %s-0x%x, Ready...", name.c_str(), static_cast<unsigned>(tid));
  t_current_quit = &state->quit;
  try {
    procedure();
  } catch (const std::exception& e) {
    AppLog("Thread: %s ended by an exception: %s", name.c_str(), e.what());
  } catch (...) {
    AppLog("Thread: %s ended by an exception", name.c_str());
  }
  t_current_quit = nullptr;
  procedure = nullptr;  // release what the procedure captured before the run counts as ended
  Trace("Thread: %s-0x%x, quited", name.c_str(), static_cast<unsigned>(tid));
  std::lock_guard lock(state->mutex);
  state->ready_run = run;
  state->running = false;
  state->thread_id = std::thread::id();
  state->tid = 0;
  state->changed.notify_all();
}

void CWorkThread::SignalReady() {
  std::lock_guard lock(state_->mutex);
  if (!state_->running) return;
  state_->ready_run = state_->run;
  state_->changed.notify_all();
}

bool CWorkThread::WaitQuit(unsigned ms) { return state_->quit.Wait(ms); }

bool CWorkThread::QuitRequested() const { return state_->quit.IsSet(); }

Event& CWorkThread::QuitRequest() { return state_->quit; }

const std::atomic<bool>* CWorkThread::CurrentQuitFlag() {
  return t_current_quit ? &t_current_quit->Flag() : nullptr;
}

bool CWorkThread::IsRunning() const {
  std::lock_guard lock(state_->mutex);
  return state_->running;
}

long CWorkThread::Id() const {
  std::lock_guard lock(state_->mutex);
  return state_->tid;
}

bool CWorkThread::Stop(unsigned ms) {
  state_->quit.Set();
  bool in_time = true;
  {
    std::unique_lock lock(state_->mutex);
    if (state_->running && state_->thread_id == std::this_thread::get_id()) return false;
    uint64_t run = state_->run;
    auto ended = [&] { return !state_->running || state_->run != run; };
    if (ms == kInfinite) {
      state_->changed.wait(lock, ended);
    } else if (!state_->changed.wait_for(lock, std::chrono::milliseconds(ms), ended)) {
      in_time = false;
      std::string name = state_->name;
      lock.unlock();  // the log sink is not called under the lock
      AppLog("Thread: %s did not stop within %u ms; waiting for it to end", name.c_str(), ms);
      lock.lock();
      state_->changed.wait(lock, ended);
    }
  }
  JoinEnded();
  return in_time;
}

void CWorkThread::OnExit() {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->running) return;
  }
  JoinEnded();
}

void CWorkThread::JoinEnded() {
  std::lock_guard thread_lock(thread_mutex_);
  {
    // A Start from another thread may have begun a new run since; that one is not joined.
    std::lock_guard lock(state_->mutex);
    if (state_->running) return;
  }
  if (thread_.joinable()) thread_.join();
}

}  // namespace velmora
