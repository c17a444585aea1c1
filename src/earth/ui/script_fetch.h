// CScriptFetcher: the asynchronous fetch that the script engine offers to page scripts. Requests
// run one after another on a worker thread through the program's HTTP client; each answer is
// delivered on the user-interface thread through the UI dispatcher. Destroying the fetcher
// cancels the transfer under way and drops the requests still queued.
#pragma once
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "core/work_thread.h"

namespace velmora {

struct ScriptFetchAnswer {
  int status = 0;      // the HTTP status; 0 when no answer arrived (refused, time-out, DNS, ...)
  std::string text;    // the body as UTF-8 (a body that is not UTF-8 is read as GBK)
  std::string error;   // why the transfer failed; "" when an answer arrived
};

class CScriptFetcher {
 public:
  using Done = std::function<void(const ScriptFetchAnswer& answer)>;

  static constexpr size_t kMaxQueued = 16;
  static constexpr size_t kMaxReplyBytes = size_t(4) << 20;

  CScriptFetcher() = default;
  ~CScriptFetcher();
  CScriptFetcher(const CScriptFetcher&) = delete;
  CScriptFetcher& operator=(const CScriptFetcher&) = delete;

  // Queues a GET of an http or https address; `done` runs later on the user-interface thread.
  // False (and `done` never runs) for another kind of address, a full queue, or a stopped
  // fetcher.
  bool Fetch(const std::string& url, Done done);
  // Ends the worker: the transfer under way is cancelled, queued requests are dropped.
  void Stop();

 private:
  struct Request {
    std::string url;
    Done done;
  };
  void Loop();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Request> queue_;
  bool stopping_ = false;
  std::atomic<bool> cancel_{false};
  CWorkThread thread_;
  bool started_ = false;  // UI thread only
};

}  // namespace velmora
