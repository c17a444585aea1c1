// CEarthLink: the one ordered call channel between callers of the earth page (on any thread) and
// the page itself (on the user-interface thread).
//
// A caller's command is posted to the user-interface thread, which hands it to the page's
// velmoraEarth.run; the caller waits on a request record of its own, checking its stop event and
// a time-out every 10 ms. The user-interface thread never blocks on the page: commands from it are
// refused (Call) or sent without waiting for the answer (Post). Commands reach the page in the
// order they were posted. The page pushes its state (command count, progress, exaggeration, size)
// with every change; callers read the last state pushed at any time. The link outlives its page:
// once the page is gone every call fails at once.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>
#include <string_view>

#include "platform/script/script_value.h"
#include "platform/ui/ui_types.h"

namespace velmora {

class CBitmap;
class CHtmlViewEx;
class Event;

// What the page last pushed ("earth:state <seq> <progress> <exaggeration> <width> <height>").
struct EarthPageState {
  uint64_t seq = 0;    // commands the page had run when it sent this state
  int progress = 0;    // 0-100; 100: everything loaded, no flight, a frame drawn after command seq
  double exaggeration = 1.0;
  int width = 0;       // the page's size in pixels (the render window's client area)
  int height = 0;
};

enum class EarthPageStatus { kStarting, kReady, kFailed, kGone };

class CEarthLink : public std::enable_shared_from_this<CEarthLink> {
 public:
  CEarthLink() = default;
  CEarthLink(const CEarthLink&) = delete;
  CEarthLink& operator=(const CEarthLink&) = delete;

  // ---- callers (any thread but the user-interface thread for the waiting calls) ----
  // Runs velmoraEarth.run(name, args...) and returns the page's answer without its command count
  // (which AnsweredSeq keeps). nullopt, with the reason in *error, when the page failed the
  // command, is gone or not ready, the stop event was set, the time-out passed, or the caller is
  // the user-interface thread.
  std::optional<std::string> Call(const std::string& name, std::vector<ScriptValue> args, const Event* stop,
                                  unsigned timeout_ms, std::string* error = nullptr);
  // Sends the command without waiting for its answer (any thread, also the user-interface one).
  void Post(const std::string& name, std::vector<ScriptValue> args);
  // User-interface thread: sends the command in order with the others and hands its answer (as
  // Call's; nullopt when the page failed it, is not ready or went away) to `done` later, on the
  // user-interface thread, never from inside this call.
  using AnswerCallback = std::function<void(std::optional<std::string>)>;
  void CallAsync(const std::string& name, std::vector<ScriptValue> args, AnswerCallback done);
  // The picture the page's widget shows, taken on the user-interface thread. False as for Call.
  bool Grab(CBitmap* out, const Event* stop, unsigned timeout_ms, std::string* error = nullptr);
  // Waits until the page is up (true) or failed, went away, was stopped or timed out (false,
  // reason in *error).
  bool WaitReady(const Event* stop, unsigned timeout_ms, std::string* error = nullptr);

  EarthPageState State() const;
  // The highest command count an answer carried: a state with a lower seq was sent before the
  // latest answered command ran.
  uint64_t AnsweredSeq() const;
  EarthPageStatus Status() const;
  std::string Failure() const;
  // The library's version ("1.120") and the WebGL renderer, from the page's ready message.
  std::string Version() const;
  std::string Renderer() const;
  // The render window (the page's window); 0 once the page is gone.
  HWND RenderWindow() const { return hwnd_.load(); }

  // ---- the page's side (user-interface thread) ----
  void Attach(CHtmlViewEx* page);
  // The page is going away: waiting calls fail from now on.
  void Detach();
  // The page could not be started (no page file, no library, no web engine).
  void Fail(const std::string& reason);
  // A message the page posted; true when it was one of the link's.
  bool OnPageMessage(const std::string& message);

 private:
  struct Request;
  bool Wait(Request& request, const Event* stop, unsigned timeout_ms, std::string* error);
  void Dispatch(const std::shared_ptr<Request>& request, const std::string& name, std::vector<ScriptValue> args);
  void TakeAnswer(const std::shared_ptr<Request>& request, const std::optional<ScriptValue>& reply);

  mutable std::mutex mutex_;
  EarthPageState state_;
  uint64_t answered_seq_ = 0;
  EarthPageStatus status_ = EarthPageStatus::kStarting;
  std::string failure_;
  std::string version_;
  std::string renderer_;
  std::atomic<HWND> hwnd_{0};
  CHtmlViewEx* page_ = nullptr;  // user-interface thread only
  std::vector<std::weak_ptr<Request>> pending_;  // handed to the page, unanswered (UI thread only)
  struct AsyncCall {
    AnswerCallback done;
    bool finished = false;
  };
  // The user-interface thread's own calls not yet answered (UI thread only).
  std::vector<std::weak_ptr<AsyncCall>> async_pending_;
  // "<seq> <answer>": the answer, with the seq counted as answered; nullopt for anything else.
  std::optional<std::string> TakeReply(const std::optional<ScriptValue>& reply);
};

// Parses a pushed state line's numbers ("<seq> <progress> <exaggeration> <width> <height>").
std::optional<EarthPageState> ParseEarthState(std::string_view text);

}  // namespace velmora
