// SIGINT / SIGTERM watcher.
#include "shell/stop_signal.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

namespace velmora {
namespace {

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void CStopSignal::BlockStopSignals() {
  sigset_t set = StopSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool CStopSignal::Start(std::function<void(int)> on_signal) {
  return thread_.Start("StopSignal", [this, on_signal = std::move(on_signal)] {
    sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    thread_.SignalReady();
    while (!thread_.QuitRequested()) {
      // A bounded wait, so that a stop request is seen within 100 ms.
      timespec timeout{0, 100 * 1000 * 1000};
      int sig = sigtimedwait(&set, nullptr, &timeout);
      if (sig > 0 && on_signal) on_signal(sig);
    }
  });
}

void CStopSignal::Stop() { thread_.Stop(kInfinite); }

}  // namespace velmora
