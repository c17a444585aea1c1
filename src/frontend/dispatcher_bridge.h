// CQtDispatcherBridge: the UI dispatcher's queue served by Qt's event loop. Work arriving at the
// dispatcher (a posted or sent message from any thread, a timer set, a quit) and every change of
// the window model or the status bar calls Wake, which posts one coalesced event to the bridge;
// the bridge then pumps the dispatcher, runs the window mirror's sync pass and its listeners (the
// main window, running modal dialogs), arms a Qt timer for the dispatcher's next timer, and ends
// the Qt loop when a quit was asked. Modal dialogs run nested Qt loops, which serve the same
// events, so a worker's SendMessage is answered while a dialog is open.
#pragma once
#include <QObject>
#include <QTimer>
#include <functional>
#include <map>

namespace velmora {

class CQtDispatcherBridge : public QObject {
 public:
  // Installs the bridge (one at a time) as the dispatcher's wake hook; the calling thread, which
  // runs the Qt loop, becomes the UI thread.
  CQtDispatcherBridge();
  ~CQtDispatcherBridge() override;

  // The installed bridge (UI thread), or null.
  static CQtDispatcherBridge* Instance();
  // Any thread: asks for a serve pass soon. Cheap when one is already asked for.
  static void Wake();

  // Pumps the dispatcher, syncs the mirror, runs the listeners, re-arms the timer and checks for
  // a quit. UI thread; safe to call from inside a handler (nested).
  void Serve();
  // Runs the Qt loop until the dispatcher's quit request; consumes it and returns its code.
  int Exec();

  // Calls `listener` after every serve pass (UI thread); returns a token for RemoveListener.
  int AddListener(std::function<void()> listener);
  void RemoveListener(int token);

 protected:
  bool event(QEvent* event) override;

 private:
  QTimer timer_;
  std::map<int, std::function<void()>> listeners_;
  int next_token_ = 1;
  int exec_depth_ = 0;
  int serving_ = 0;
};

}  // namespace velmora
