// CNetStateSink: where a network client reports its state (1: a service answered, 2: the network
// failed) for the status bar. The program wires one callback at start-up; clients report from
// their worker threads. The callback is copied out under the lock and called outside it, so that
// it may take locks of its own.
#pragma once
#include <functional>
#include <mutex>

namespace velmora {

class CNetStateSink {
 public:
  using Callback = std::function<void(int net_state)>;

  // Replaces the callback (empty: reports go nowhere).
  void Set(Callback callback);
  void Report(int net_state) const;

 private:
  mutable std::mutex mutex_;
  Callback callback_;
};

}  // namespace velmora
