// CWorkThread: starts a named worker thread, waits until it runs, and stops it cooperatively.
// The worker checks the quit request between units of work (WaitQuit / QuitRequested); a
// thread is never killed.
#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/sync.h"

namespace velmora {

class CWorkThread {
 public:
  using Procedure = std::function<void()>;
  using LegacyProcedure = unsigned (*)(void* parameter);

  CWorkThread() = default;
  ~CWorkThread();
  CWorkThread(const CWorkThread&) = delete;
  CWorkThread& operator=(const CWorkThread&) = delete;

  // Starts the thread and waits until it called SignalReady (or ended without calling it).
  // Returns false when a thread of this object is still running or the thread cannot start.
  bool Start(const std::string& name, Procedure procedure, int priority = 0);
  bool Start(const std::string& name, LegacyProcedure procedure, void* parameter, int priority = 0);

  // The worker's first call: sets the ready signal and arms the quit request.
  void SignalReady();
  // True when the quit request is set within `ms` milliseconds (0 polls).
  bool WaitQuit(unsigned ms);
  bool QuitRequested() const { return quit_.IsSet(); }
  // The quit request as an event that other waits can include.
  Event& QuitRequest() { return quit_; }

  bool IsRunning() const { return running_.load(); }
  const std::string& Name() const { return name_; }

  // Sets the quit request and waits up to `ms` for the thread to end. A thread that has not ended
  // by then is reported in the log and waited for until it does (never terminated): the return
  // value is false in that case. Called from the worker itself it only sets the request.
  bool Stop(unsigned ms);

  // Releases the thread object after the thread ended; clears the name.
  void OnExit();

 private:
  void Run(Procedure procedure);

  std::string name_;
  std::thread thread_;
  std::mutex start_mutex_;
  Event ready_{true, false};
  Event quit_{true, false};
  Event ended_{true, false};
  std::atomic<bool> running_{false};
};

}  // namespace velmora
