// The connection thread of the map publishing server.
#include "server/wmts_client.h"

#include <algorithm>

#include "core/log.h"
#include "platform/sync.h"
#include "server/wmts_request.h"
#include "server/wmts_server.h"
#include "server/wmts_service.h"

namespace velmora {

namespace {

// Milliseconds left until `deadline` (a TickCount64 value), 0 when passed.
int MsLeft(uint64_t deadline) {
  uint64_t now = TickCount64();
  if (now >= deadline) return 0;
  return static_cast<int>(std::min<uint64_t>(deadline - now, 0x7FFFFFFF));
}

}  // namespace

CWmtsClient::CWmtsClient(UniqueFd socket, PeerAddress peer, CWmtsService* service)
    : socket_(std::move(socket)), peer_(peer), service_(service) {}

CWmtsClient::~CWmtsClient() {
  quit_.Set();
  thread_.Stop(kInfinite);
}

bool CWmtsClient::StartThread() {
  if (!quit_.Valid() || !socket_.Valid()) {
    finished_.store(true, std::memory_order_release);
    return false;
  }
  if (!thread_.Start("WmtsClient", [this] { ClientThreadProc(); })) {
    finished_.store(true, std::memory_order_release);
    return false;
  }
  return true;
}

void CWmtsClient::RequestStop() { quit_.Set(); }

bool CWmtsClient::Stop(unsigned ms) {
  quit_.Set();
  return thread_.Stop(ms);
}

void CWmtsClient::ClientThreadProc() {
  thread_.SignalReady();
  Trace("wmts client start...");
  const WmtsServerOptions& options = service_->Server().Options();
  CRequestFramer framer(options.header_limit);
  std::vector<char> chunk(kReadChunk);
  std::string request;
  std::vector<uint8_t> response;
  uint64_t idle_since = TickCount64();   // end of the last answer, or the connection's start
  uint64_t partial_since = 0;            // arrival of the current unfinished request's bytes
  uint64_t last_read = idle_since;
  const int fd = socket_.Get();

  for (bool open = true; open;) {
    // Answer every whole request already here: pipelined requests come one after the other.
    for (;;) {
      bool close_after = false;
      CRequestFramer::State state = framer.Next(&request, &close_after);
      if (state == CRequestFramer::State::kNeedMore) break;
      if (state == CRequestFramer::State::kTooLarge) {
        Trace("request header too large");
        open = false;
        break;
      }
      partial_since = 0;
      service_->Server().RequestLog().WriteRequest(peer_.address, peer_.port, request);
      bool keep_alive = false;
      if (!service_->Server().ParseRequest(*service_, peer_.address, request, response, keep_alive)) {
        Trace("ParseRequest Error.");
        open = false;
        break;
      }
      if (!SendResponse(response)) {
        open = false;
        break;
      }
      service_->AddSent(response.size());
      idle_since = TickCount64();
      if (!keep_alive || close_after) {
        open = false;
        break;
      }
    }
    if (!open) break;

    int timeout;
    if (framer.Partial()) {
      if (partial_since == 0) partial_since = last_read;
      timeout = MsLeft(partial_since + options.header_timeout_ms);
    } else {
      timeout = MsLeft(idle_since + options.idle_timeout_ms);
    }
    WaitResult waited = WaitSocket(fd, true, false, &quit_, timeout);
    if (waited != WaitResult::kReady) break;  // stopped, timed out or the wait failed

    size_t received = 0;
    IoStatus status = ReceiveSome(fd, chunk.data(), chunk.size(), &received);
    if (status == IoStatus::kWouldBlock) continue;
    if (status != IoStatus::kOk) {
      Trace("FD_CLOSE");
      break;
    }
    service_->AddReceived(received);
    last_read = TickCount64();
    framer.Append(std::string_view(chunk.data(), received));
  }

  socket_.Reset();
  service_->RecordPeer(peer_.address, 0, TickCount64());
  finished_.store(true, std::memory_order_release);  // last: the service may delete us now
}

bool CWmtsClient::SendResponse(const std::vector<uint8_t>& response) {
  const WmtsServerOptions& options = service_->Server().Options();
  const int fd = socket_.Get();
  size_t offset = 0;
  while (offset < response.size()) {
    size_t block = std::min(kSendBlock, response.size() - offset);
    size_t sent = 0;
    IoStatus status = SendSome(fd, response.data() + offset, block, &sent);
    if (status == IoStatus::kOk) {
      offset += sent;
      continue;
    }
    if (status != IoStatus::kWouldBlock) return false;
    // A slow reader: wait for room, but not for ever and not past a stop.
    if (WaitSocket(fd, false, true, &quit_, static_cast<int>(options.send_timeout_ms)) != WaitResult::kReady)
      return false;
  }
  return true;
}

}  // namespace velmora
