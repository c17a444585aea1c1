// CWorkThread: starts a named worker thread, waits until it runs, and stops it cooperatively.
// The worker checks the quit request between units of work (WaitQuit / QuitRequested) and in
// every wait; a thread is never killed.
#pragma once
#include <atomic>
#include <condition_variable>
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

  CWorkThread();
  // Stops the thread and waits for it without limit. Destroyed by its own worker, the object
  // only sets the quit request and lets the thread end on its own.
  ~CWorkThread();
  CWorkThread(const CWorkThread&) = delete;
  CWorkThread& operator=(const CWorkThread&) = delete;

  // Starts the thread and waits without limit until it called SignalReady, or its procedure
  // returned without calling it. The quit request is cleared first. Returns false (logged) when
  // a thread of this object is still running or the thread cannot be created. A negative
  // priority lowers the thread's scheduling priority (Windows-style levels: -1 below normal,
  // -2 lowest, -15 idle); higher levels are not granted to normal users and are ignored.
  bool Start(const std::string& name, Procedure procedure, int priority = 0);
  bool Start(const std::string& name, LegacyProcedure procedure, void* parameter, int priority = 0);

  // The worker's first call: releases Start. Before it the worker must not wait for its starter.
  void SignalReady();
  // True when the quit request is set within `ms` milliseconds (0 polls, kInfinite waits until
  // it is set). The request stays set until the next Start.
  bool WaitQuit(unsigned ms);
  bool QuitRequested() const;
  // The quit request as an event that other waits can include.
  Event& QuitRequest();
  // The quit request of the CWorkThread whose procedure runs on the calling thread, as a flag
  // for HttpOptions::cancel, so that code deep below a worker can end a network wait when the
  // worker is asked to stop; null on every other thread.
  static const std::atomic<bool>* CurrentQuitFlag();

  // True from Start until the procedure has returned.
  bool IsRunning() const;
  const std::string& Name() const { return name_; }
  // The kernel id of the running thread (the number in "ThreadReady%d"), 0 when none runs.
  long Id() const;

  // Sets the quit request and waits up to `ms` milliseconds (kInfinite: without limit) for the
  // procedure to return. A thread that has not ended by then is reported in the log and waited
  // for until it does, never terminated: the result is false in that case, true otherwise (also
  // when no thread runs). Safe from several threads at once; called by the worker itself it only
  // sets the request and returns false.
  bool Stop(unsigned ms);

  // Releases the thread of a run that has ended (joins it). The worker does its own end-of-run
  // bookkeeping when its procedure returns (ready signal set, running flag and id cleared), so
  // calling this is optional; it does nothing while the thread runs or when called by the worker.
  void OnExit();

 private:
  struct State;
  static void Run(std::shared_ptr<State> state, Procedure procedure, int priority);
  void JoinEnded();

  // Shared with the thread so that a worker that destroys its own CWorkThread still ends cleanly.
  std::shared_ptr<State> state_;
  std::string name_;
  std::mutex thread_mutex_;  // guards thread_: Start, joins and the destructor
  std::thread thread_;
};

}  // namespace velmora
