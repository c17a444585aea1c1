// Batch coordinate correction: the reply codec and the worker pool.
#include "places/coord_batch_fix.h"

#include <cmath>

#include "core/format.h"
#include "core/http.h"
#include "core/log.h"
#include "core/work_thread.h"

namespace velmora {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// The quoted text value of `"key"` in a JSON-like reply; false when absent or not quoted.
bool FindQuotedValue(std::string_view reply, std::string_view key, std::string_view* value) {
  std::string pattern = "\"";
  pattern += key;
  pattern += '"';
  size_t from = 0;
  while (true) {
    size_t at = reply.find(pattern, from);
    if (at == std::string_view::npos) return false;
    size_t i = at + pattern.size();
    while (i < reply.size() && IsBlank(reply[i])) ++i;
    if (i < reply.size() && reply[i] == ':') {
      ++i;
      while (i < reply.size() && IsBlank(reply[i])) ++i;
      if (i >= reply.size() || reply[i] != '"') return false;
      size_t end = reply.find('"', i + 1);
      if (end == std::string_view::npos) return false;
      *value = reply.substr(i + 1, end - i - 1);
      return true;
    }
    from = at + 1;  // the key's text inside another value: look on
  }
}

bool DecodeNumber(std::string_view reply, std::string_view key, double* out) {
  std::string_view encoded;
  std::string decoded;
  if (!FindQuotedValue(reply, key, &encoded) || !DecodeBase64(encoded, &decoded)) return false;
  auto v = ParseDouble(decoded);
  if (!v) return false;
  *out = *v;
  return true;
}

}  // namespace

std::string CoordFixServiceHost() {
  std::string host = GetProfileString(kCoordFixProfileSection, kCoordFixHostKey, "");
  while (!host.empty() && (host.back() == '/' || IsBlank(host.back()))) host.pop_back();
  size_t start = 0;
  while (start < host.size() && IsBlank(host[start])) ++start;
  host.erase(0, start);
  if (!host.empty() && host.find("://") == std::string::npos) host = "https://" + host;
  return host;
}

std::string BuildCoordFixUrl(const std::string& host, float lng, float lat) {
  return host + FormatC("/ag/coord/convert?from=2&to=4&x=%f&y=%f", static_cast<double>(lng),
                        static_cast<double>(lat));
}

bool DecodeBase64(std::string_view text, std::string* out) {
  if (text.empty() || text.size() % 4 != 0) return false;
  size_t padding = 0;
  if (text.back() == '=') ++padding;
  if (text.size() >= 2 && text[text.size() - 2] == '=') ++padding;
  std::string result;
  result.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    bool last = i + 4 == text.size();
    uint32_t group = 0;
    for (size_t k = 0; k < 4; ++k) {
      char c = text[i + k];
      int v;
      if (c == '=') {
        if (!last || k < 4 - padding) return false;  // "=" only as the final padding
        v = 0;
      } else {
        v = Base64Value(c);
        if (v < 0) return false;
      }
      group = (group << 6) | static_cast<uint32_t>(v);
    }
    size_t bytes = last ? 3 - padding : 3;
    for (size_t k = 0; k < bytes; ++k) result.push_back(static_cast<char>((group >> (16 - 8 * k)) & 0xFF));
  }
  if (out) *out = std::move(result);
  return true;
}

bool DecodeCoordFixReply(std::string_view reply, double* x, double* y) {
  double vx = 0, vy = 0;
  if (!DecodeNumber(reply, "x", &vx) || !DecodeNumber(reply, "y", &vy)) return false;
  if (x) *x = vx;
  if (y) *y = vy;
  return true;
}

bool CorrectCoordFix(float lng, float lat, double shifted_x, double shifted_y, float* out_lng, float* out_lat) {
  double x = 2.0 * lng - shifted_x;
  double y = 2.0 * lat - shifted_y;
  if (!(std::fabs(x) <= 180.0) || !(std::fabs(y) <= 90.0)) return false;
  *out_lng = static_cast<float>(x);
  *out_lat = static_cast<float>(y);
  return true;
}

// ---- the worker pool ----

CCoordBatchFixer::CCoordBatchFixer() = default;

CCoordBatchFixer::~CCoordBatchFixer() { Stop(); }

bool CCoordBatchFixer::SetPoints(const std::vector<PointF>& points) {
  if (IsRunning()) return false;
  std::lock_guard lock(mutex_);
  records_.clear();
  records_.reserve(points.size());
  for (const PointF& p : points) records_.push_back({p.x, p.y, kFixWaiting});
  next_ = 0;
  return true;
}

size_t CCoordBatchFixer::Size() const {
  std::lock_guard lock(mutex_);
  return records_.size();
}

CoordFixRecord CCoordBatchFixer::Record(size_t index) const {
  std::lock_guard lock(mutex_);
  return index < records_.size() ? records_[index] : CoordFixRecord{};
}

std::vector<CoordFixRecord> CCoordBatchFixer::Records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

size_t CCoordBatchFixer::CountState(int32_t state) const {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (const CoordFixRecord& r : records_) n += r.state == state ? 1 : 0;
  return n;
}

bool CCoordBatchFixer::AllDone() const { return CountState(kFixDone) == Size(); }

void CCoordBatchFixer::SetFinishedCallback(std::function<void()> callback) {
  std::lock_guard lock(mutex_);
  finished_ = std::move(callback);
}

int CCoordBatchFixer::WorkerCount() const { return static_cast<int>(workers_.size()); }

bool CCoordBatchFixer::Start(int threads, const std::string& host) {
  if (IsRunning() || threads < kMinFixThreads || threads > kMaxFixThreads || host.empty()) return false;
  Stop();  // joins the workers of a run that ended on its own
  {
    std::lock_guard lock(mutex_);
    host_ = host;
    next_ = 0;
  }
  cancel_.store(false);
  stopping_.store(false);
  active_.store(threads);
  for (int i = 0; i < threads; ++i) {
    auto worker = std::make_unique<CWorkThread>();
    CWorkThread* self = worker.get();
    workers_.push_back(std::move(worker));
    if (!self->Start(FormatC("BDCrdCvt%d", i), [this, self] { Work(self); })) {
      // Counted as a worker that ended at once.
      if (active_.fetch_sub(1) == 1 && !stopping_.load()) {
        std::function<void()> finished;
        {
          std::lock_guard lock(mutex_);
          finished = finished_;
        }
        if (finished) finished();
      }
    }
  }
  return true;
}

void CCoordBatchFixer::Stop() {
  stopping_.store(true);
  cancel_.store(true);
  // Every worker is told first, so they all wind down together: a fetch under way ends within
  // about a second through the cancel flag.
  for (auto& worker : workers_) worker->QuitRequest().Set();
  for (auto& worker : workers_) worker->Stop(kInfinite);
  workers_.clear();
}

CCoordBatchFixer::FixResult CCoordBatchFixer::FixOne(float lng, float lat, float* out_lng, float* out_lat) {
  std::string host;
  {
    std::lock_guard lock(mutex_);
    host = host_;
  }
  HttpOptions options;
  options.cancel = &cancel_;
  options.max_bytes = kCoordFixReplyLimit;
  HttpResult reply = HttpFetch(BuildCoordFixUrl(host, lng, lat), options);
  if (reply.Cancelled() || cancel_.load()) return FixResult::kCancelled;
  double x = 0, y = 0;
  if (!reply.Ok() || !DecodeCoordFixReply(reply.Text(), &x, &y)) return FixResult::kFailed;
  return CorrectCoordFix(lng, lat, x, y, out_lng, out_lat) ? FixResult::kFixed : FixResult::kFailed;
}

void CCoordBatchFixer::Work(CWorkThread* self) {
  self->SignalReady();
  while (!self->QuitRequested()) {
    size_t index = 0;
    float lng = 0, lat = 0;
    {
      std::lock_guard lock(mutex_);
      while (next_ < records_.size() && records_[next_].state == kFixDone) ++next_;
      if (next_ >= records_.size()) break;
      index = next_++;
      records_[index].state = kFixWaiting;
      lng = records_[index].lng;
      lat = records_[index].lat;
    }
    float fixed_lng = lng, fixed_lat = lat;
    FixResult result = FixOne(lng, lat, &fixed_lng, &fixed_lat);
    {
      std::lock_guard lock(mutex_);
      CoordFixRecord& r = records_[index];
      if (result == FixResult::kFixed) {
        r = {fixed_lng, fixed_lat, kFixDone};
      } else if (result == FixResult::kFailed) {
        r.state = kFixFailed;
      }  // cancelled: the point stays waiting for the next run
    }
    if (self->WaitQuit(1)) break;
  }
  if (active_.fetch_sub(1) == 1 && !stopping_.load()) {
    std::function<void()> finished;
    {
      std::lock_guard lock(mutex_);
      finished = finished_;
    }
    if (finished) finished();
  }
}

}  // namespace velmora
