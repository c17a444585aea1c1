// CWorkThread on std::thread with cooperative stop.
#include "core/work_thread.h"

#include <pthread.h>

#include "core/log.h"

namespace velmora {

CWorkThread::~CWorkThread() {
  if (thread_.joinable()) Stop(kInfinite);
}

bool CWorkThread::Start(const std::string& name, LegacyProcedure procedure, void* parameter,
                        int priority) {
  return Start(name, [procedure, parameter] { procedure(parameter); }, priority);
}

bool CWorkThread::Start(const std::string& name, Procedure procedure, int /*priority*/) {
  std::lock_guard lock(start_mutex_);
  if (running_.load()) return false;
  if (thread_.joinable()) thread_.join();  // an earlier run that already ended
  name_ = name;
  ready_.Reset();
  quit_.Reset();
  ended_.Reset();
  running_ = true;
  try {
    thread_ = std::thread(&CWorkThread::Run, this, std::move(procedure));
  } catch (const std::system_error& e) {
    running_ = false;
    AppLog("Thread: %s could not start: %s", name.c_str(), e.what());
    return false;
  }
  // The ready signal, or the end of a procedure that never gave it.
  while (!ready_.Wait(50)) {
    if (ended_.IsSet()) break;
  }
  return true;
}

void CWorkThread::Run(Procedure procedure) {
  pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
  Trace("Thread: %s-0x%x, Ready...", name_.c_str(), 0);
  try {
    procedure();
  } catch (const std::exception& e) {
    AppLog("Thread: %s ended by an exception: %s", name_.c_str(), e.what());
  } catch (...) {
    AppLog("Thread: %s ended by an exception", name_.c_str());
  }
  Trace("Thread: %s-0x%x, quited", name_.c_str(), 0);
  running_ = false;
  ready_.Set();
  ended_.Set();
}

void CWorkThread::SignalReady() { ready_.Set(); }

bool CWorkThread::WaitQuit(unsigned ms) { return quit_.Wait(ms); }

bool CWorkThread::Stop(unsigned ms) {
  quit_.Set();
  if (thread_.get_id() == std::this_thread::get_id()) return false;
  std::lock_guard lock(start_mutex_);
  if (!thread_.joinable()) return true;
  bool in_time = ended_.Wait(ms);
  if (!in_time) {
    AppLog("Thread: %s did not stop within %u ms; waiting for it to end", name_.c_str(), ms);
    ended_.Wait(kInfinite);
  }
  thread_.join();
  return in_time;
}

void CWorkThread::OnExit() {
  std::lock_guard lock(start_mutex_);
  if (thread_.joinable() && !running_.load()) thread_.join();
}

}  // namespace velmora
