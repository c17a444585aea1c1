// Batch coordinate correction: longitude/latitude points sent one by one to a web conversion
// service that shifts a WGS84 point into an offset map datum; the shift it applies is measured
// and the opposite shift applied to the point. 1 to 100 workers ("BDCrdCvt<n>") share the list.
// The service host is a registry-profile setting ([CoordFix] ServiceHost).
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings.h"

namespace velmora {

class CWorkThread;

// Record states (the list shows them as image indices).
enum CoordFixState : int32_t { kFixDone = 0, kFixWaiting = 1, kFixFailed = 3 };

// One point of the list, 12 bytes as the caller's float points.
struct CoordFixRecord {
  float lng = 0;
  float lat = 0;
  int32_t state = kFixWaiting;
};

inline constexpr int kMinFixThreads = 1;
inline constexpr int kMaxFixThreads = 100;
inline constexpr int kDefaultFixThreads = 5;
// Program-settings key of the worker count.
inline constexpr char kFixThreadsKey[] = "BdCrtThd";
// Registry profile: the conversion service's host ("http://host:port" or "https://host"; a bare
// host name means https).
inline constexpr char kCoordFixProfileSection[] = "CoordFix";
inline constexpr char kCoordFixHostKey[] = "ServiceHost";
// The longest reply read; a longer one fails its point (no value is taken from a cut reply).
inline constexpr size_t kCoordFixReplyLimit = 1024;

// The configured host without trailing slashes, "" when none is set.
std::string CoordFixServiceHost();
// "<host>/ag/coord/convert?from=2&to=4&x=<lng>&y=<lat>" with "%f" numbers.
std::string BuildCoordFixUrl(const std::string& host, float lng, float lat);

// Standard base64 (A-Z a-z 0-9 + /, "=" padding at the end only); the length must be a positive
// multiple of four. False for anything else.
bool DecodeBase64(std::string_view text, std::string* out);
// The shifted point of a reply: the values of "x" and "y" are base64 texts of decimal numbers
// ({"error":0,"x":"MTIwLjAxMQ==","y":"MzYuMDA1"}). False when a key, its quoted value, the
// base64 or the number is missing or malformed, or a number is not finite.
bool DecodeCoordFixReply(std::string_view reply, double* x, double* y);
// The corrected point: the asked point moved back by the service's shift (2p - p'). False when
// the result is not a longitude/latitude.
bool CorrectCoordFix(float lng, float lat, double shifted_x, double shifted_y, float* out_lng, float* out_lat);

class CCoordBatchFixer {
 public:
  CCoordBatchFixer();
  // Stops the workers.
  ~CCoordBatchFixer();
  CCoordBatchFixer(const CCoordBatchFixer&) = delete;
  CCoordBatchFixer& operator=(const CCoordBatchFixer&) = delete;

  // Replaces the list with one waiting record per point; false (list unchanged) while workers run.
  bool SetPoints(const std::vector<PointF>& points);
  size_t Size() const;
  CoordFixRecord Record(size_t index) const;  // a waiting record at (0, 0) when out of range
  std::vector<CoordFixRecord> Records() const;
  size_t CountState(int32_t state) const;
  bool AllDone() const;  // every record done (true for an empty list)

  // Called on the thread of the last worker when the workers have gone through the list (not
  // after Stop). Set it while no worker runs.
  void SetFinishedCallback(std::function<void()> callback);

  // Starts `threads` workers against `host`; they take the records that are not done yet (so a
  // second run retries the failed ones). False when workers run, the count is outside 1-100 or
  // the host is empty.
  bool Start(int threads, const std::string& host);
  // Stops every worker at once: all quit requests are set and all fetches cancelled before the
  // first worker is waited for. The records they were fetching stay waiting.
  void Stop();
  bool IsRunning() const { return active_.load() > 0; }
  int WorkerCount() const;

 private:
  enum class FixResult { kFixed, kFailed, kCancelled };
  void Work(CWorkThread* self);
  FixResult FixOne(float lng, float lat, float* out_lng, float* out_lat);

  mutable std::mutex mutex_;  // the records and the next position; never held during a fetch
  std::vector<CoordFixRecord> records_;
  size_t next_ = 0;
  std::string host_;
  std::function<void()> finished_;
  std::vector<std::unique_ptr<CWorkThread>> workers_;  // changed only by Start/Stop
  std::atomic<int> active_{0};
  std::atomic<bool> cancel_{false};    // ends the fetches under way (HttpOptions::cancel)
  std::atomic<bool> stopping_{false};  // a Stop ended the run: no finished callback
};

}  // namespace velmora
