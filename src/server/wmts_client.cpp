// One connection of the map publishing server, driven by its event loop.
#include "server/wmts_client.h"

#include <algorithm>

#include "core/log.h"
#include "platform/sync.h"
#include "server/wmts_server.h"
#include "server/wmts_service.h"

namespace velmora {

namespace {

// Requests answered and reads made in one turn of a connection, so that one busy client cannot
// hold its loop's other connections back.
constexpr int kRequestsPerTurn = 8;
constexpr int kReadsPerTurn = 8;

}  // namespace

CWmtsClient::CWmtsClient(UniqueFd socket, PeerAddress peer, CWmtsService* service)
    : socket_(std::move(socket)), peer_(peer), service_(service), since_(TickCount64()) {
  const WmtsServerOptions& options = service_->Server().Options();
  framer_ = CRequestFramer(options.header_limit);
}

CWmtsClient::~CWmtsClient() = default;

bool CWmtsClient::BeginClose() {
  Stage seen = stage_.load(std::memory_order_acquire);
  while (seen != Stage::kClosing) {
    if (stage_.compare_exchange_weak(seen, Stage::kClosing, std::memory_order_acq_rel)) {
      service_->OnClientClosing(peer_.address);
      return true;
    }
  }
  return false;
}

bool CWmtsClient::BeginCloseFrom(Stage expected) {
  if (expected == Stage::kClosing) return false;
  if (!stage_.compare_exchange_strong(expected, Stage::kClosing, std::memory_order_acq_rel)) return false;
  service_->OnClientClosing(peer_.address);
  return true;
}

bool CWmtsClient::Enter(Stage from, Stage to, uint64_t since) {
  if (from == to && since == 0) return stage_.load(std::memory_order_acquire) != Stage::kClosing;
  // The tick first, so that whoever sees the new stage sees its tick (or a later one).
  if (since != 0) since_.store(since, std::memory_order_release);
  if (from == to) return stage_.load(std::memory_order_acquire) != Stage::kClosing;
  return stage_.compare_exchange_strong(from, to, std::memory_order_acq_rel);
}

bool CWmtsClient::EnterWaiting(uint64_t now, bool answered) {
  Stage stage = CurrentStage();
  if (stage == Stage::kClosing) return false;
  if (answered) {
    // An answer went out: idle until the next request's bytes, or at once in that request when
    // its bytes are here already (pipelined).
    if (!framer_.Partial()) return Enter(stage, Stage::kIdle, now);
    return Enter(stage, framer_.HasRequestLine() ? Stage::kPartialHeader : Stage::kNoRequestLine, now);
  }
  // Bytes came: a new request starts with its first byte; the header time-out counts from there.
  if (stage == Stage::kIdle && framer_.Partial()) {
    if (!Enter(stage, Stage::kNoRequestLine, now)) return false;
    stage = Stage::kNoRequestLine;
  }
  if (stage == Stage::kNoRequestLine && framer_.HasRequestLine()) return Enter(stage, Stage::kPartialHeader, 0);
  return true;
}

uint64_t CWmtsClient::Deadline(uint64_t now, unsigned header_timeout_ms) const {
  const WmtsServerOptions& options = service_->Server().Options();
  const uint64_t since = StageSince();
  switch (CurrentStage()) {
    case Stage::kNoRequestLine:
    case Stage::kPartialHeader: return since + header_timeout_ms;
    case Stage::kIdle: return since + options.idle_timeout_ms;
    case Stage::kBusy: return 0;
    case Stage::kSending: return since + options.send_timeout_ms;
    case Stage::kClosing: return now;
  }
  return 0;
}

bool CWmtsClient::Answer(uint64_t now, bool close_after) {
  if (!Enter(CurrentStage(), Stage::kBusy, now)) return false;
  had_request_ = true;
  CWmtsServer& server = service_->Server();
  server.RequestLog().WriteRequest(peer_.address, peer_.port, request_);
  bool keep_alive = false;
  response_.Clear();
  if (!server.BuildResponse(*service_, peer_.address, request_, response_, keep_alive)) {
    Trace("ParseRequest Error.");
    return false;
  }
  sent_ = 0;
  sending_ = true;
  close_after_send_ = !keep_alive || close_after;
  return true;
}

bool CWmtsClient::SendPending(uint64_t now) {
  const int fd = socket_.Get();
  const size_t head = response_.head.size();
  const size_t total = response_.Size();
  while (sent_ < total) {
    // At most one block per send, the header and the body in one call.
    ConstBuffer pieces[2];
    size_t count = 0, room = kSendBlock;
    if (sent_ < head) {
      size_t n = std::min(room, head - sent_);
      pieces[count++] = {response_.head.data() + sent_, n};
      room -= n;
    }
    size_t body_from = sent_ > head ? sent_ - head : 0;
    if (room > 0 && body_from < response_.BodySize()) {
      pieces[count++] = {response_.BodyData() + body_from, std::min(room, response_.BodySize() - body_from)};
    }
    size_t sent = 0;
    IoStatus status = SendSomeV(fd, pieces, count, &sent);
    if (status == IoStatus::kWouldBlock) {
      // A reader slower than the answer: the send time-out runs, and the connection may give
      // its place to a new client once it stalls (see CWmtsService::AddClient).
      writable_ = false;
      Stage stage = CurrentStage();
      if (stage == Stage::kBusy && !Enter(stage, Stage::kSending, 0)) return false;
      return true;
    }
    if (status != IoStatus::kOk) return false;
    sent_ += sent;
    // Progress: the send time-out counts from here.
    since_.store(now, std::memory_order_release);
  }
  sending_ = false;
  service_->AddSent(total);
  response_.Clear();
  return true;
}

bool CWmtsClient::Serve(uint64_t now, std::vector<char>& chunk, bool* more) {
  *more = false;
  int requests = 0, reads = 0;
  bool answered = false;  // an answer went out and the connection has not moved on yet
  for (;;) {
    if (CurrentStage() == Stage::kClosing) return false;
    if (sending_) {
      if (!writable_) return true;  // the loop calls again when the socket takes bytes
      if (!SendPending(now)) return false;
      if (sending_) return true;
      if (close_after_send_) return false;
      answered = true;
    }
    // Every whole request already here is answered in turn (pipelining); the connection goes
    // from one answer to the next without passing through a waiting stage.
    if (requests == kRequestsPerTurn) {
      *more = true;
      return true;
    }
    bool close_after = false;
    CRequestFramer::State state = framer_.Next(&request_, &close_after);
    if (state == CRequestFramer::State::kTooLarge) {
      Trace("request header too large");
      return false;
    }
    if (state == CRequestFramer::State::kRequest) {
      ++requests;
      answered = false;
      if (!Answer(now, close_after)) return false;
      continue;
    }
    if (answered) {
      answered = false;
      if (!EnterWaiting(now, true)) return false;
    }
    if (!readable_) return EnterWaiting(now, false);
    if (reads == kReadsPerTurn) {
      *more = true;
      return EnterWaiting(now, false);
    }
    ++reads;
    size_t received = 0;
    IoStatus status = ReceiveSome(socket_.Get(), chunk.data(), chunk.size(), &received);
    if (status == IoStatus::kWouldBlock) {
      readable_ = false;
      continue;
    }
    if (status != IoStatus::kOk) {
      Trace("FD_CLOSE");
      return false;
    }
    // A short read emptied the socket: the next bytes bring a new edge.
    if (received < chunk.size() && !peer_closed_) readable_ = false;
    service_->AddReceived(received);
    framer_.Append(std::string_view(chunk.data(), received));
    if (!EnterWaiting(now, false)) return false;
  }
}

}  // namespace velmora
