// CWmtsClient: one accepted connection of a published service. Its event loop (CWmtsEventLoop)
// lets it read requests (bounded in size and time), answer each whole one through the server's
// request handler and send the answer without blocking, until the peer leaves, a limit is
// passed, the answer says to close, or the connection is closed by its service (a stop, or its
// place is given to a new client when the service is full). Its stage and the tick it entered it
// are readable from any thread, so that the service can choose which connection to close.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/net.h"
#include "server/wmts_request.h"

namespace velmora {

class CWmtsEventLoop;
class CWmtsService;

class CWmtsClient {
 public:
  // Largest block handed to one send.
  static constexpr size_t kSendBlock = 200000;
  // Bytes taken from the socket per read.
  static constexpr size_t kReadChunk = 64 * 1024;

  enum class Stage : uint8_t {
    kNoRequestLine,  // connected, or bytes of a request came, but not its first line yet
    kPartialHeader,  // the request line came, the header is not whole yet (or a body drops)
    kBusy,           // a request is being answered
    kSending,        // its answer waits for the socket to take it
    kIdle,           // kept alive, waiting for the next request
    kClosing,        // marked for closing; its loop closes it
  };

  CWmtsClient(UniqueFd socket, PeerAddress peer, CWmtsService* service);
  ~CWmtsClient();
  CWmtsClient(const CWmtsClient&) = delete;
  CWmtsClient& operator=(const CWmtsClient&) = delete;

  // True once the connection is closed (its peer record has its end); the service deletes it
  // then.
  bool IsFinished() const { return finished_.load(std::memory_order_acquire); }
  uint32_t PeerIp() const { return peer_.address; }  // network order
  uint16_t PeerPort() const { return peer_.port; }   // host order
  CWmtsService* Service() const { return service_; }
  CWmtsEventLoop* Loop() const { return loop_; }

  Stage CurrentStage() const { return stage_.load(std::memory_order_acquire); }
  // The tick (TickCount64) at which the current stage began; for kNoRequestLine and
  // kPartialHeader the request's first byte (or the connection's start), for kSending the last
  // progress of the answer.
  uint64_t StageSince() const { return since_.load(std::memory_order_acquire); }

  // Marks the connection for closing (from any thread); true for the one call that did it. The
  // caller then asks its loop to close it (CWmtsEventLoop::PostClose) unless it is that loop.
  bool BeginClose();
  // The same only while the connection is still in `expected`: a connection chosen to make room
  // is not closed when it has just moved on (its request came in meanwhile).
  bool BeginCloseFrom(Stage expected);

 private:
  friend class CWmtsEventLoop;
  friend class CWmtsService;

  // ---- the loop's thread only ----
  // Reads, answers and sends as far as the socket allows, at most a few requests and reads per
  // turn (*more is then set). False when the connection is to be closed.
  bool Serve(uint64_t now, std::vector<char>& chunk, bool* more);
  // The tick at which the connection times out in its stage (0: none), with the service's
  // header time-out as given.
  uint64_t Deadline(uint64_t now, unsigned header_timeout_ms) const;
  // Moves from stage `from` to `to` (a new `since` when given); false when the connection was
  // marked for closing meanwhile.
  bool Enter(Stage from, Stage to, uint64_t since);
  // The stage of a connection that waits for bytes of a request.
  bool EnterWaiting(uint64_t now, bool answered);
  // Starts answering one whole request; false when the connection is to be closed.
  bool Answer(uint64_t now, bool close_after);
  // Sends what the socket takes of the pending answer; false on a failed connection.
  bool SendPending(uint64_t now);

  UniqueFd socket_;
  PeerAddress peer_;
  CWmtsService* service_;
  CWmtsEventLoop* loop_ = nullptr;  // set before the connection is handed over
  uint32_t strikes_ = 0;  // its address's connections that ended without a request, at its start
  std::atomic<Stage> stage_{Stage::kNoRequestLine};
  std::atomic<uint64_t> since_{0};
  std::atomic<bool> finished_{false};

  // ---- the loop's thread only ----
  size_t loop_index_ = 0;    // place in the loop's list
  bool registered_ = false;  // in the loop's epoll set
  bool closed_ = false;
  bool queued_ = false;      // in the loop's ready list
  bool had_request_ = false; // a whole request came at least once
  bool readable_ = true;     // the socket may have bytes (edge-triggered: until a read runs dry)
  bool peer_closed_ = false; // the peer's end came: read on until the socket says so
  bool writable_ = true;     // the socket may take bytes
  CRequestFramer framer_;
  std::string request_;
  WmtsResponse response_;
  size_t sent_ = 0;          // bytes of response_ that went out
  bool sending_ = false;
  bool close_after_send_ = false;
};

}  // namespace velmora
