// CStopSignal: turns SIGINT and SIGTERM into a call on a watcher thread, so that the program
// without a display shuts down in order when it is told to stop.
#pragma once
#include <functional>

#include "core/work_thread.h"

namespace velmora {

class CStopSignal {
 public:
  ~CStopSignal() { Stop(); }
  // Blocks SIGINT and SIGTERM in the calling thread; threads started afterwards inherit the mask,
  // so the signals wait for the watcher. Call before any other thread starts.
  static void BlockStopSignals();
  // Starts the watcher thread "StopSignal"; `on_signal` gets the signal number.
  bool Start(std::function<void(int)> on_signal);
  void Stop();

 private:
  CWorkThread thread_;
};

}  // namespace velmora
