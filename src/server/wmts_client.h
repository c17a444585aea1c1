// CWmtsClient: one accepted connection of a published service and its thread. The thread reads
// requests (bounded in size and time), hands each whole one to the server's request handler and
// sends the answer without blocking, until the peer leaves, a limit is passed, the answer says to
// close, or the client is stopped.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "core/work_thread.h"
#include "platform/net.h"

namespace velmora {

class CWmtsService;

class CWmtsClient {
 public:
  // Largest block handed to one send.
  static constexpr size_t kSendBlock = 200000;
  // Bytes taken from the socket per read.
  static constexpr size_t kReadChunk = 64 * 1024;

  CWmtsClient(UniqueFd socket, PeerAddress peer, CWmtsService* service);
  // Stops the thread (without limit: it always ends promptly) and closes the socket.
  ~CWmtsClient();
  CWmtsClient(const CWmtsClient&) = delete;
  CWmtsClient& operator=(const CWmtsClient&) = delete;

  // Starts the connection's thread and waits until it runs. False (the client is then finished)
  // when the thread or its wake-up cannot be made.
  bool StartThread();
  // Asks the thread to end (it closes the connection) without waiting.
  void RequestStop();
  // Asks the thread to end and waits up to `ms` milliseconds; true when it has ended.
  bool Stop(unsigned ms);
  // True once the thread has ended (or never started); the service deletes it then.
  bool IsFinished() const { return finished_.load(std::memory_order_acquire); }

  uint32_t PeerIp() const { return peer_.address; }  // network order
  uint16_t PeerPort() const { return peer_.port; }   // host order
  CWmtsService* Service() const { return service_; }

 private:
  void ClientThreadProc();
  // Sends the whole answer in blocks, waiting for the socket when it would block. False when the
  // connection failed, stalled past the send time-out or the client was stopped.
  bool SendResponse(const std::vector<uint8_t>& response);

  UniqueFd socket_;
  PeerAddress peer_;
  CWmtsService* service_;
  WakeEvent quit_;
  std::atomic<bool> finished_{false};
  CWorkThread thread_;  // last: joined before the members it uses go
};

}  // namespace velmora
