// CWmtsEventLoop: one thread that carries many connections of the map publishing server over an
// epoll set: it reads their requests, answers them through the server's request handler, sends
// without blocking, and closes connections that time out or are asked to close. CWmtsEventLoops
// is the small pool of them that the services share; each accepted connection is handed to the
// loop with the fewest connections and stays there.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "core/work_thread.h"
#include "platform/net.h"

namespace velmora {

class CWmtsClient;

class CWmtsEventLoop {
 public:
  CWmtsEventLoop() = default;
  // Stops the loop (closing the connections still on it).
  ~CWmtsEventLoop();
  CWmtsEventLoop(const CWmtsEventLoop&) = delete;
  CWmtsEventLoop& operator=(const CWmtsEventLoop&) = delete;

  // Makes the epoll set and the wake-up and starts the thread. False when one of them cannot be
  // had.
  bool Start(int index);
  // Closes every connection still on the loop and ends its thread.
  void Stop();

  // Hands a connection over (any thread). A connection already marked for closing is closed on
  // arrival.
  void PostAdd(std::shared_ptr<CWmtsClient> client);
  // Asks the loop to close a connection that was marked for closing (CWmtsClient::BeginClose).
  void PostClose(std::shared_ptr<CWmtsClient> client);
  // Connections on the loop, those on their way in included.
  size_t Load() const { return load_.load(std::memory_order_relaxed); }

 private:
  enum class Command { kAdd, kClose };
  struct Posted {
    Command command;
    std::shared_ptr<CWmtsClient> client;
  };

  void Run();
  void TakePosted();
  void Register(std::shared_ptr<CWmtsClient> client);
  // Lets a connection read, answer and send as far as it can; closes it when it is done.
  void Serve(CWmtsClient& client, uint64_t now);
  void Close(CWmtsClient& client);
  // Closes the connections whose time-out passed; when to look again.
  void Sweep(uint64_t now);

  EventPoll poll_;
  WakeEvent wake_;  // set by Post* and Stop
  std::atomic<bool> quit_{false};
  std::atomic<size_t> load_{0};

  std::mutex posted_lock_;
  std::vector<Posted> posted_;

  // ---- the loop's thread only ----
  std::vector<std::shared_ptr<CWmtsClient>> clients_;  // CWmtsClient::loop_index_ is the place
  std::vector<CWmtsClient*> ready_;   // have more to do after their turn
  std::vector<std::shared_ptr<CWmtsClient>> closed_;  // kept until the events of a round are done
  std::vector<char> chunk_;           // receive buffer shared by the loop's connections
  uint64_t next_sweep_ = 0;

  CWorkThread thread_;  // last: joined before the members it uses go
};

class CWmtsEventLoops {
 public:
  CWmtsEventLoops() = default;
  ~CWmtsEventLoops() { Stop(); }
  CWmtsEventLoops(const CWmtsEventLoops&) = delete;
  CWmtsEventLoops& operator=(const CWmtsEventLoops&) = delete;

  // Starts `count` loops (0: one per processor, at most 8) unless they run. False when none
  // could be started.
  bool Start(unsigned count);
  // Ends the loops; the services have closed their connections before.
  void Stop();
  bool IsRunning() const;
  // The loop with the fewest connections; null when none runs.
  CWmtsEventLoop* Pick();
  size_t Count() const;

 private:
  mutable std::mutex lock_;
  std::vector<std::unique_ptr<CWmtsEventLoop>> loops_;
  size_t next_ = 0;  // where the search for the least loaded loop starts (spreads ties)
};

}  // namespace velmora
