// Tiles: state under the tile's lock, error-page recognition, failure counters, picture decoding
// and the geocoder replies' status checks.
#include "tiles/tile.h"

#include <malloc.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <utility>

#include "core/imaging.h"
#include "core/log.h"
#include "platform/gfx/image_codec.h"
#include "platform/text.h"

namespace velmora {
namespace {

std::atomic<uint64_t> g_next_serial{1};
std::array<std::atomic<uint64_t>, kTileStateCount> g_failures{};

// Position of `needle` in `text`, ASCII case ignored; npos when absent.
size_t FindNoCase(std::string_view text, std::string_view needle) {
  if (needle.size() > text.size()) return std::string_view::npos;
  for (size_t i = 0; i + needle.size() <= text.size(); ++i) {
    if (EqualsNoCaseAscii(text.substr(i, needle.size()), needle)) return i;
  }
  return std::string_view::npos;
}

std::string_view AsText(const uint8_t* data, size_t length) {
  return std::string_view(reinterpret_cast<const char*>(data), length);
}

CGeocodeReply::Check Pass() { return {true, 0}; }
CGeocodeReply::Check Fail(int state = 0) { return {false, state}; }

// A JSON reply must open with '{'; anything else is judged as an error page.
bool OpensAsJson(const uint8_t* data, size_t length, CGeocodeReply::Check* failure) {
  if (length > 0 && data[0] == '{') return true;
  *failure = Fail(ErrorPageState(data, data + length));
  return false;
}

CGeocodeReply::Check JudgeStatus(std::string_view status) {
  if (status == "OK" || status == "ZERO_RESULTS") return Pass();
  if (status == "OVER_QUERY_LIMIT") return Fail(DS_LIMIT);
  return Fail();
}

// The text from `start` up to the next double quote; false when there is no closing quote.
bool QuotedFrom(std::string_view text, size_t start, std::string_view* out) {
  size_t end = text.find('"', start);
  if (end == std::string_view::npos) return false;
  *out = text.substr(start, end - start);
  return true;
}

}  // namespace

int ErrorPageState(const uint8_t* begin, const uint8_t* end) {
  if (begin == nullptr || end <= begin) return 0;
  std::string_view text = AsText(begin, static_cast<size_t>(end - begin));
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos || text[first] != '<') return 0;
  text.remove_prefix(first);
  std::string_view head = text.substr(0, 1024);
  bool html = false;
  for (std::string_view tag : {"<!doctype html", "<html", "<head", "<body", "<title"}) {
    if (FindNoCase(head, tag) != std::string_view::npos) {
      html = true;
      break;
    }
  }
  if (!html) return 0;
  // Services name an exhausted quota in the page text; the first 64 KiB say enough.
  std::string_view body = text.substr(0, 64 * 1024);
  for (std::string_view word : {"over_query_limit", "quota", "too many requests", "rate limit",
                                "limit exceeded", "bandwidth limit"}) {
    if (FindNoCase(body, word) != std::string_view::npos) return DS_LIMIT;
  }
  return DS_FAILED;
}

void CountTileFailure(int64_t state) {
  if (state >= 0 && state < kTileStateCount)
    g_failures[static_cast<size_t>(state)].fetch_add(1, std::memory_order_relaxed);
}

uint64_t TileFailureCount(int state) {
  if (state < 0 || state >= kTileStateCount) return 0;
  return g_failures[static_cast<size_t>(state)].load(std::memory_order_relaxed);
}

void ResetTileFailureCounts() {
  for (auto& counter : g_failures) counter.store(0, std::memory_order_relaxed);
}

// ---- CTile ------------------------------------------------------------------------------------

CTile::CTile(uint32_t key_low, uint32_t key_high)
    : key_low_(key_low), key_high_(key_high),
      serial_(g_next_serial.fetch_add(1, std::memory_order_relaxed)) {}

CTile::~CTile() = default;

int64_t CTile::GetState() const {
  std::lock_guard lock(mutex_);
  return state_;
}

void CTile::SetState(int64_t state) {
  std::lock_guard lock(mutex_);
  state_ = state;
}

uint64_t CTile::FirstAttemptTick() const {
  std::lock_guard lock(mutex_);
  return first_attempt_;
}

int CTile::Retries() const {
  std::lock_guard lock(mutex_);
  return retries_;
}

bool CTile::CheckErrorPage(const uint8_t* begin, const uint8_t* end) {
  int state = ErrorPageState(begin, end);
  if (state == 0) return false;
  SetState(state);
  return true;
}

void CTile::ReportFailure() const { CountTileFailure(GetState()); }

const CBitmap* CTile::LoadedImage() const {
  if (!IsLoadedState(GetState())) return nullptr;
  return GetImage();
}

// ---- CImageTile -------------------------------------------------------------------------------

CImageTile::CImageTile(const std::string& file_name) : CTile(0, 0) {
  CBitmap image;
  std::string error;
  DecodeOptions options;
  options.max_pixels = kMaxPixels;
  if (LoadImageFile(file_name, &image, &error, options)) {
    image_ = std::move(image);
    has_image_ = true;
    SetState(DS_LOADED);
  } else {
    AppLog("image tile %s: %s", file_name.c_str(), error.c_str());
    SetState(DS_FAILED);
  }
}

bool CImageTile::SetData(const uint8_t* data, size_t length) {
  {
    // Whoever holds the picture of a loaded tile may be drawing it: it is never replaced.
    std::lock_guard lock(mutex_);
    if (has_image_) return false;
  }
  CBitmap image;
  DecodeOptions options;
  options.max_pixels = kMaxPixels;
  if (!DecodeImage(data, length, &image, nullptr, options)) return false;
  std::lock_guard lock(mutex_);
  if (has_image_) return false;
  image_ = std::move(image);
  has_image_ = true;
  return true;
}

bool CImageTile::Decodes(const uint8_t* data, size_t length) {
  CBitmap image;
  DecodeOptions options;
  options.max_pixels = kMaxPixels;
  return DecodeImage(data, length, &image, nullptr, options);
}

const CBitmap* CImageTile::GetImage() const {
  std::lock_guard lock(mutex_);
  return has_image_ ? &image_ : nullptr;
}

bool CImageTile::Save(const std::string& file_name, std::string* error) const {
  const CBitmap* image = GetImage();
  if (image == nullptr) {
    if (error) *error = "the tile holds no picture";
    return false;
  }
  return SaveImageByExtension(*image, file_name, error);
}

// ---- CGeocodeReply ----------------------------------------------------------------------------

CGeocodeReply::Check CGeocodeReply::CheckReply(int source, const uint8_t* data, size_t length) {
  switch (source) {
    case 8: return CheckStatusSpaced(data, length);
    case 111: return CheckStatusCompact(data, length);
    case 112: return CheckPoiStatus(data, length);
    default: return Fail();
  }
}

CGeocodeReply::Check CGeocodeReply::CheckStatusSpaced(const uint8_t* data, size_t length) {
  Check failure;
  if (!OpensAsJson(data, length, &failure)) return failure;
  std::string_view text = AsText(data, length);
  constexpr std::string_view kKey = "status\" : \"";
  size_t at = text.rfind(kKey);
  std::string_view status;
  if (at == std::string_view::npos || !QuotedFrom(text, at + kKey.size(), &status)) return Fail();
  return JudgeStatus(status);
}

CGeocodeReply::Check CGeocodeReply::CheckStatusCompact(const uint8_t* data, size_t length) {
  Check failure;
  if (!OpensAsJson(data, length, &failure)) return failure;
  std::string_view text = AsText(data, length);
  constexpr std::string_view kKey = "\"status\":\"";
  size_t at = text.find(kKey, 1);
  std::string_view status;
  if (at == std::string_view::npos || !QuotedFrom(text, at + kKey.size(), &status)) return Fail();
  return JudgeStatus(status);
}

CGeocodeReply::Check CGeocodeReply::CheckPoiStatus(const uint8_t* data, size_t length) {
  if (length >= 4 && AsText(data, 4) == "AMap") return Pass();
  return Fail(ErrorPageState(data, data + length));
}

bool CGeocodeReply::ParseReply(const uint8_t* data, size_t length) {
  Check check = CheckReply(TileKeySource(Key()), data, length);
  if (!check.ok && check.state != 0) SetState(check.state);
  return check.ok;
}

void KeepFreedTileMemory() {
  // Tile pictures and the map view's images (up to glibc's limit of 32 MiB) come from the heap,
  // and up to 128 MiB freed at its top stays there.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
}

}  // namespace velmora
