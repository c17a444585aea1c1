// The UI dispatcher's queue on Qt's event loop.
#include "frontend/dispatcher_bridge.h"

#include <QCoreApplication>
#include <QEvent>
#include <algorithm>
#include <atomic>
#include <climits>
#include <shared_mutex>
#include <vector>

#include "frontend/window_mirror.h"
#include "platform/ui/ui_dispatcher.h"

namespace velmora {
namespace {

// The bridge that wakes go to. Wakers hold the lock shared while they post, so the bridge is never
// destroyed under a worker's postEvent.
std::shared_mutex g_mutex;
CQtDispatcherBridge* g_bridge = nullptr;
// Set while a wake event is on its way: later wakes add nothing until the pass starts.
std::atomic<bool> g_posted{false};
// Counts wake events made. A waker bumps it (release) after making its event and before posting
// it; the bridge reads it (acquire) before it looks at an event. Qt's own hand-over of the event
// orders the two already, but Qt is not instrumented: this makes the order visible to the thread
// sanitizer too.
std::atomic<uint64_t> g_made{0};

QEvent::Type WakeEventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

void DispatcherWakeHook() { CQtDispatcherBridge::Wake(); }

}  // namespace

CQtDispatcherBridge::CQtDispatcherBridge() {
  WakeEventType();
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] { Serve(); });
  UiDispatcher().AttachToCurrentThread();
  {
    std::unique_lock lock(g_mutex);
    g_bridge = this;
  }
  g_posted.store(false);
  UiDispatcher().SetWakeHook(&DispatcherWakeHook);
  Wake();  // whatever was queued before the loop ran
}

CQtDispatcherBridge::~CQtDispatcherBridge() {
  UiDispatcher().SetWakeHook(nullptr);
  {
    std::unique_lock lock(g_mutex);
    g_bridge = nullptr;
  }
  QCoreApplication::removePostedEvents(this, WakeEventType());
  g_posted.store(false);
}

CQtDispatcherBridge* CQtDispatcherBridge::Instance() {
  std::shared_lock lock(g_mutex);
  return g_bridge;
}

void CQtDispatcherBridge::Wake() {
  if (g_posted.exchange(true, std::memory_order_acq_rel)) return;
  std::shared_lock lock(g_mutex);
  if (g_bridge) {
    auto* event = new QEvent(WakeEventType());
    g_made.fetch_add(1, std::memory_order_release);
    QCoreApplication::postEvent(g_bridge, event);
  } else {
    g_posted.store(false);
  }
}

bool CQtDispatcherBridge::event(QEvent* event) {
  g_made.load(std::memory_order_acquire);
  if (event->type() == WakeEventType()) {
    Serve();
    return true;
  }
  return QObject::event(event);
}

void CQtDispatcherBridge::Serve() {
  g_posted.store(false, std::memory_order_release);
  ++serving_;
  UiDispatcher().PumpPending();
  CWindowMirror::Get().SyncAll();
  std::vector<std::function<void()>> listeners;
  for (const auto& [token, listener] : listeners_) listeners.push_back(listener);
  for (const auto& listener : listeners) listener();
  --serving_;
  if (std::optional<uint64_t> delay = UiDispatcher().NextTimerDelay())
    timer_.start(static_cast<int>(std::min<uint64_t>(*delay, INT_MAX)));
  else
    timer_.stop();
  int code = 0;
  if (exec_depth_ > 0 && UiDispatcher().QuitRequested(&code)) QCoreApplication::exit(code);
}

int CQtDispatcherBridge::Exec() {
  ++exec_depth_;
  Wake();  // a quit asked during the start-up ends the loop at once
  int code = QCoreApplication::exec();
  --exec_depth_;
  UiDispatcher().ClearQuit();
  return code;
}

int CQtDispatcherBridge::AddListener(std::function<void()> listener) {
  int token = next_token_++;
  listeners_[token] = std::move(listener);
  return token;
}

void CQtDispatcherBridge::RemoveListener(int token) { listeners_.erase(token); }

}  // namespace velmora
