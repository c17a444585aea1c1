// The earth page's call channel: commands posted to the user-interface thread in order, answers
// and pushed states back to waiting callers.
#include "earth/ui/earth_link.h"

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "core/log.h"
#include "earth/ui/html_view_ex.h"
#include "platform/gfx/bitmap.h"
#include "platform/sync.h"
#include "platform/ui/ui_dispatcher.h"

namespace velmora {

namespace {

constexpr unsigned kPollMs = 10;

bool ParseNumber(std::string_view& text, double* out) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  if (ec != std::errc() || end == text.data()) return false;
  text.remove_prefix(static_cast<size_t>(end - text.data()));
  return true;
}

}  // namespace

std::optional<EarthPageState> ParseEarthState(std::string_view text) {
  double v[5];
  for (double& x : v)
    if (!ParseNumber(text, &x)) return std::nullopt;
  if (!(v[0] >= 0 && v[1] >= 0 && v[1] <= 100 && v[3] >= 0 && v[4] >= 0 && v[3] < 1e6 && v[4] < 1e6))
    return std::nullopt;
  EarthPageState state;
  state.seq = static_cast<uint64_t>(v[0]);
  state.progress = static_cast<int>(v[1]);
  state.exaggeration = v[2];
  state.width = static_cast<int>(v[3]);
  state.height = static_cast<int>(v[4]);
  return state;
}

// One waiting caller's record: filled on the user-interface thread, read by the caller.
struct CEarthLink::Request {
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  bool ok = false;
  std::string answer;  // or the reason of a failure
  CBitmap picture;
};

bool CEarthLink::Wait(Request& request, const Event* stop, unsigned timeout_ms, std::string* error) {
  const uint64_t start = TickCount64();
  std::unique_lock lock(request.mutex);
  while (!request.done) {
    if (stop && stop->IsSet()) {
      if (error) *error = "stopped";
      return false;
    }
    if (TickCount64() - start > timeout_ms) {
      if (error) *error = "the earth page did not answer in time";
      return false;
    }
    request.cv.wait_for(lock, std::chrono::milliseconds(kPollMs));
  }
  if (!request.ok && error) *error = request.answer;
  return request.ok;
}

std::optional<std::string> CEarthLink::TakeReply(const std::optional<ScriptValue>& reply) {
  if (!reply || !reply->IsString()) return std::nullopt;
  const std::string& text = reply->text;
  uint64_t seq = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seq);
  if (ec != std::errc()) return std::nullopt;
  {
    std::lock_guard lock(mutex_);
    if (seq > answered_seq_) answered_seq_ = seq;
  }
  return end < text.data() + text.size() ? std::string(end + 1, text.data() + text.size()) : std::string();
}

void CEarthLink::CallAsync(const std::string& name, std::vector<ScriptValue> args, AnswerCallback done) {
  auto call = std::make_shared<AsyncCall>();
  call->done = std::move(done);
  if (!page_ || Status() != EarthPageStatus::kReady) {
    UiDispatcher().PostCall([call] {
      if (call->done) call->done(std::nullopt);
    });
    return;
  }
  std::erase_if(async_pending_, [](const std::weak_ptr<AsyncCall>& c) { return c.expired(); });
  async_pending_.push_back(call);
  args.insert(args.begin(), ScriptValue::String(name));
  std::weak_ptr<CEarthLink> self = weak_from_this();
  page_->Engine().CallFunctionAsync("velmoraEarth.run", std::move(args),
                                    [self, call](std::optional<ScriptValue> reply) {
    if (call->finished) return;
    call->finished = true;
    std::shared_ptr<CEarthLink> link = self.lock();
    std::optional<std::string> answer = link ? link->TakeReply(reply) : std::nullopt;
    if (call->done) call->done(std::move(answer));
  });
}

void CEarthLink::TakeAnswer(const std::shared_ptr<Request>& request, const std::optional<ScriptValue>& reply) {
  bool ok = false;
  std::string answer = "the earth page failed the command";
  if (reply && reply->IsString()) {
    const std::string& text = reply->text;
    uint64_t seq = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seq);
    if (ec == std::errc()) {
      ok = true;
      answer = end < text.data() + text.size() ? std::string(end + 1, text.data() + text.size()) : std::string();
      std::lock_guard lock(mutex_);
      if (seq > answered_seq_) answered_seq_ = seq;
    }
  }
  std::lock_guard lock(request->mutex);
  if (request->done) return;
  request->done = true;
  request->ok = ok;
  request->answer = std::move(answer);
  request->cv.notify_all();
}

void CEarthLink::Dispatch(const std::shared_ptr<Request>& request, const std::string& name, std::vector<ScriptValue> args) {
  if (!page_ || Status() != EarthPageStatus::kReady) {
    if (request) {
      std::lock_guard lock(request->mutex);
      request->done = true;
      request->answer = page_ ? "the earth page is not ready" : "the earth page is gone";
      request->cv.notify_all();
    }
    return;
  }
  args.insert(args.begin(), ScriptValue::String(name));
  if (request) {
    // Answered or given up requests leave the list as new ones come.
    std::erase_if(pending_, [](const std::weak_ptr<Request>& r) {
      std::shared_ptr<Request> held = r.lock();
      if (!held) return true;
      std::lock_guard lock(held->mutex);
      return held->done;
    });
    pending_.push_back(request);
  }
  std::weak_ptr<CEarthLink> self = weak_from_this();
  page_->Engine().CallFunctionAsync("velmoraEarth.run", std::move(args),
                                    [self, request](std::optional<ScriptValue> reply) {
    std::shared_ptr<CEarthLink> link = self.lock();
    if (!request) {
      if (link && reply && reply->IsString()) link->TakeAnswer(std::make_shared<Request>(), reply);
      return;
    }
    if (link) {
      link->TakeAnswer(request, reply);
    } else {
      std::lock_guard lock(request->mutex);
      request->done = true;
      request->answer = "the earth page is gone";
      request->cv.notify_all();
    }
  });
}

std::optional<std::string> CEarthLink::Call(const std::string& name, std::vector<ScriptValue> args, const Event* stop,
                                            unsigned timeout_ms, std::string* error) {
  if (UiDispatcher().IsUiThread()) {
    // Waiting here would stop the very loop that brings the page's answer.
    if (error) *error = "the earth page cannot be waited on from the user-interface thread";
    return std::nullopt;
  }
  if (Status() != EarthPageStatus::kReady) {
    if (error) *error = Status() == EarthPageStatus::kStarting ? "the earth page is not ready" : "the earth page is gone";
    return std::nullopt;
  }
  auto request = std::make_shared<Request>();
  std::shared_ptr<CEarthLink> self = shared_from_this();
  UiDispatcher().PostCall([self, request, name, args = std::move(args)]() mutable {
    self->Dispatch(request, name, std::move(args));
  });
  if (!Wait(*request, stop, timeout_ms, error)) return std::nullopt;
  std::lock_guard lock(request->mutex);
  return std::move(request->answer);
}

void CEarthLink::Post(const std::string& name, std::vector<ScriptValue> args) {
  std::shared_ptr<CEarthLink> self = shared_from_this();
  if (UiDispatcher().IsUiThread()) {
    Dispatch(nullptr, name, std::move(args));
    return;
  }
  UiDispatcher().PostCall([self, name, args = std::move(args)]() mutable { self->Dispatch(nullptr, name, std::move(args)); });
}

bool CEarthLink::Grab(CBitmap* out, const Event* stop, unsigned timeout_ms, std::string* error) {
  if (UiDispatcher().IsUiThread()) {
    if (!page_ || !page_->Engine().GrabPicture(out)) {
      if (error) *error = "the earth page cannot be grabbed";
      return false;
    }
    return true;
  }
  auto request = std::make_shared<Request>();
  std::shared_ptr<CEarthLink> self = shared_from_this();
  UiDispatcher().PostCall([self, request] {
    CBitmap picture;
    const bool ok = self->page_ && self->page_->Engine().GrabPicture(&picture);
    std::lock_guard lock(request->mutex);
    request->done = true;
    request->ok = ok;
    if (ok)
      request->picture = std::move(picture);
    else
      request->answer = self->page_ ? "the earth page cannot be grabbed" : "the earth page is gone";
    request->cv.notify_all();
  });
  if (!Wait(*request, stop, timeout_ms, error)) return false;
  std::lock_guard lock(request->mutex);
  *out = std::move(request->picture);
  return true;
}

bool CEarthLink::WaitReady(const Event* stop, unsigned timeout_ms, std::string* error) {
  const uint64_t start = TickCount64();
  for (;;) {
    const EarthPageStatus status = Status();
    if (status == EarthPageStatus::kReady) return true;
    if (status != EarthPageStatus::kStarting) {
      if (error) *error = Failure();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    if (stop && stop->IsSet()) {
      if (error) *error = "stopped";
      return false;
    }
    if (TickCount64() - start > timeout_ms) {
      if (error) *error = "the earth page did not start in time";
      return false;
    }
  }
}

EarthPageState CEarthLink::State() const {
  std::lock_guard lock(mutex_);
  return state_;
}

uint64_t CEarthLink::AnsweredSeq() const {
  std::lock_guard lock(mutex_);
  return answered_seq_;
}

EarthPageStatus CEarthLink::Status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

std::string CEarthLink::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

std::string CEarthLink::Version() const {
  std::lock_guard lock(mutex_);
  return version_;
}

std::string CEarthLink::Renderer() const {
  std::lock_guard lock(mutex_);
  return renderer_;
}

void CEarthLink::Attach(CHtmlViewEx* page) {
  page_ = page;
  hwnd_ = page ? page->GetSafeHwnd() : 0;
}

void CEarthLink::Detach() {
  page_ = nullptr;
  hwnd_ = 0;
  // The page's answers will never come: the callers waiting for them fail now.
  for (const std::weak_ptr<Request>& r : pending_) {
    if (std::shared_ptr<Request> request = r.lock()) {
      std::lock_guard lock(request->mutex);
      if (request->done) continue;
      request->done = true;
      request->ok = false;
      request->answer = "the earth page is gone";
      request->cv.notify_all();
    }
  }
  pending_.clear();
  // The user-interface thread's own calls hear of it later, never from inside Detach.
  for (const std::weak_ptr<AsyncCall>& c : async_pending_) {
    if (std::shared_ptr<AsyncCall> call = c.lock(); call && !call->finished) {
      call->finished = true;
      UiDispatcher().PostCall([call] {
        if (call->done) call->done(std::nullopt);
      });
    }
  }
  async_pending_.clear();
  std::lock_guard lock(mutex_);
  if (status_ != EarthPageStatus::kFailed) status_ = EarthPageStatus::kGone;
  if (failure_.empty()) failure_ = "the earth page is gone";
}

void CEarthLink::Fail(const std::string& reason) {
  AppLog("earth page: %s", reason.c_str());
  std::lock_guard lock(mutex_);
  status_ = EarthPageStatus::kFailed;
  failure_ = reason;
}

bool CEarthLink::OnPageMessage(const std::string& message) {
  std::string_view text(message);
  auto take = [&text](std::string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix) return false;
    text.remove_prefix(prefix.size());
    return true;
  };
  if (take("earth:state ")) {
    std::optional<EarthPageState> state = ParseEarthState(text);
    if (!state) return true;
    std::lock_guard lock(mutex_);
    // States arrive in order; an older one (a late message) never replaces a newer one.
    if (state->seq >= state_.seq) state_ = *state;
    return true;
  }
  if (take("earth:ready ")) {
    const size_t tab = text.find('\t');
    std::lock_guard lock(mutex_);
    version_ = std::string(text.substr(0, tab));
    renderer_ = tab == std::string_view::npos ? std::string() : std::string(text.substr(tab + 1));
    if (status_ == EarthPageStatus::kStarting) status_ = EarthPageStatus::kReady;
    return true;
  }
  if (take("earth:fail ")) {
    Fail(std::string(text));
    return true;
  }
  return false;
}

}  // namespace velmora
