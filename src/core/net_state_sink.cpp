// The network state sink: a guarded callback.
#include "core/net_state_sink.h"

#include <utility>

namespace velmora {

void CNetStateSink::Set(Callback callback) {
  std::lock_guard lock(mutex_);
  callback_ = std::move(callback);
}

void CNetStateSink::Report(int net_state) const {
  Callback callback;
  {
    std::lock_guard lock(mutex_);
    callback = callback_;
  }
  if (callback) callback(net_state);
}

}  // namespace velmora
