// The page scripts' fetch: a queue served by one worker thread, answers posted to the UI thread.
#include "earth/ui/script_fetch.h"

#include "core/http.h"
#include "core/log.h"
#include "platform/text.h"
#include "platform/ui/ui_dispatcher.h"

namespace velmora {

CScriptFetcher::~CScriptFetcher() { Stop(); }

bool CScriptFetcher::Fetch(const std::string& url, Done done) {
  if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) return false;
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || queue_.size() >= kMaxQueued) return false;
    queue_.push_back({url, std::move(done)});
  }
  wake_.notify_one();
  if (!started_) {
    started_ = true;
    if (!thread_.Start("ScriptFetch", [this] { Loop(); })) {
      AppLog("script fetch: the worker thread could not be started");
      std::lock_guard lock(mutex_);
      queue_.clear();
      return false;
    }
  }
  return true;
}

void CScriptFetcher::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  cancel_ = true;
  wake_.notify_all();
  thread_.Stop(kInfinite);  // the worker never waits for the UI thread: no pumping needed
}

void CScriptFetcher::Loop() {
  thread_.SignalReady();
  for (;;) {
    Request request;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      request = std::move(queue_.front());
      queue_.pop_front();
    }
    HttpOptions options;
    options.cancel = &cancel_;
    options.max_bytes = kMaxReplyBytes;
    HttpResult result = HttpFetch(request.url, options);  // no lock held during the transfer
    ScriptFetchAnswer answer;
    if (result.NetworkError()) {
      answer.error = result.error.empty() ? "transfer failed" : result.error;
    } else {
      answer.status = result.http_status;
      std::string_view body = result.Text();
      answer.text = IsValidUtf8(body) ? std::string(body) : AnsiToUtf8(body);
    }
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
    }
    UiDispatcher().PostCall([done = std::move(request.done), answer = std::move(answer)] { done(answer); });
  }
}

}  // namespace velmora
