// The elevation cache: the two SQLite stores, the web elevation service's requests and the
// scanning of its replies.
#include "terrain/elev_cache_db.h"

#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <bit>
#include <charconv>
#include <cmath>
#include <mutex>
#include <optional>

#include "core/format.h"
#include "core/http.h"
#include "core/log.h"
#include "core/net_state_sink.h"
#include "core/settings.h"
#include "core/work_thread.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "terrain/elevation_store.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

constexpr char kServicePath[] = "/maps/api/elevation/json?";

// The longest decimal number at `pos` after blanks (an optional sign, digits, a point, an
// exponent); nothing when there is none or it is not finite. *end receives the position after it.
std::optional<double> ReadNumber(std::string_view text, size_t pos, size_t* end) {
  while (pos < text.size() && IsAsciiSpace(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
    negative = text[pos] == '-';
    ++pos;
  }
  // Only digits or a point may start the number: from_chars would also take "inf" and "nan".
  if (pos >= text.size() || !((text[pos] >= '0' && text[pos] <= '9') || text[pos] == '.')) return std::nullopt;
  double value = 0;
  const char* first = text.data() + pos;
  const auto [ptr, ec] = std::from_chars(first, text.data() + text.size(), value, std::chars_format::general);
  if (ec != std::errc() || !std::isfinite(value)) return std::nullopt;
  *end = static_cast<size_t>(ptr - text.data());
  return negative ? -value : value;
}

// The number after the next colon from `pos`.
std::optional<double> ReadValueAfterColon(std::string_view text, size_t pos, size_t* end) {
  const size_t colon = text.find(':', pos);
  if (colon == std::string_view::npos) return std::nullopt;
  return ReadNumber(text, colon + 1, end);
}

bool Contains(std::string_view text, std::string_view what) { return text.find(what) != std::string_view::npos; }

CNetStateSink& NetSink() {
  static CNetStateSink sink;
  return sink;
}

void SetNetState(int state) { NetSink().Report(state); }

bool StoreOk(int status) { return status == kElevFetched || status == kElevFound; }

}  // namespace

void SetElevationNetStateSink(std::function<void(int net_state)> sink) {
  NetSink().Set(std::move(sink));
}

size_t PathReplyLimit(int samples) {
  if (samples < 1) return kPathReplyMinLimit;
  const size_t by_samples = static_cast<size_t>(samples) * 512u;
  const size_t limit = by_samples < kPathReplyMinLimit ? kPathReplyMinLimit : by_samples;
  return limit < kHttpDefaultMaxBytes ? limit : kHttpDefaultMaxBytes;
}

int64_t ElevPositionKey(float lon, float lat) {
  const uint64_t hi = std::bit_cast<uint32_t>(lat);
  const uint64_t lo = std::bit_cast<uint32_t>(lon);
  return static_cast<int64_t>((hi << 32) | lo);
}

int ScanElevationReply(std::string_view reply, size_t* cursor, bool quoted_key, ElevReplySample* out) {
  *out = ElevReplySample{};
  const std::string_view key = quoted_key ? "elevation\"" : "elevation";
  const size_t at = reply.find(key, *cursor);
  if (at == std::string_view::npos) return 1;
  size_t end = 0;
  std::optional<double> h = ReadValueAfterColon(reply, at + key.size(), &end);
  if (!h) return 2;
  out->elevation = *h;
  out->has_elevation = true;
  const size_t lat_key = reply.find("lat\"", end);
  if (lat_key == std::string_view::npos) return 2;
  std::optional<double> lat = ReadValueAfterColon(reply, lat_key + 4, &end);
  if (!lat) return 2;
  out->lat = *lat;
  const size_t lng_key = reply.find("lng\"", end);
  if (lng_key == std::string_view::npos) return 2;
  std::optional<double> lng = ReadValueAfterColon(reply, lng_key + 4, &end);
  if (!lng) return 2;
  out->lng = *lng;
  // A location off the globe would be stored under a meaningless key.
  if (!(*lat >= -90.0 && *lat <= 90.0 && *lng >= -180.0 && *lng <= 180.0)) return 2;
  *cursor = end;
  return 0;
}

CElevCacheDb::CElevCacheDb(std::string folder) : folder_(std::move(folder)) {}

CElevCacheDb::~CElevCacheDb() { Close(); }

std::string CElevCacheDb::Folder() const {
  return WithTrailingSlash(folder_.empty() ? AppOptions().data_dir : folder_);
}

namespace {

// SQLite's word that a file is not a database or that its pages do not read.
bool IsDamage(int code) {
  code &= 0xFF;
  return code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
}

}  // namespace

bool CElevCacheDb::SetAsideIfDamaged(SqliteDb& db, std::string path, int code) {
  if (!IsDamage(code)) return false;
  db.Close();
  // Only a cache: what it held is asked of the service again. The damaged file is kept for a
  // look (with its journal, which must not be applied to the new file).
  std::error_code ec;
  std::filesystem::rename(path, path + ".damaged", ec);
  if (ec) {
    AppLog("elevation cache %s is damaged and cannot be set aside: %s", path.c_str(), ec.message().c_str());
    return false;
  }
  for (const char* suffix : {"-journal", "-wal", "-shm"}) {
    std::error_code ignored;
    if (std::filesystem::exists(path + suffix, ignored))
      std::filesystem::rename(path + suffix, path + ".damaged" + suffix, ignored);
  }
  AppLog("elevation cache %s was damaged; kept as %s.damaged and a new one is started", path.c_str(), path.c_str());
  return true;
}

bool CElevCacheDb::OpenCacheFile(SqliteDb& db, const std::string& path, const char* create_sql) {
  if (OpenStore(db, path, "tiles", create_sql)) return true;
  // A damaged file is set aside once and a new one made in its place.
  return SetAsideIfDamaged(db, path, db.LastErrorCode()) && OpenStore(db, path, "tiles", create_sql);
}

bool CElevCacheDb::Open() {
  std::lock_guard lock(StoreMutex());
  if (pos_db_.IsOpen() && lnglat_db_.IsOpen()) return true;
  const std::string folder = Folder();
  EnsureFolder(folder);
  // Every fetched point commits two single-row inserts: with a rollback journal and full syncs
  // each costs a few disk flushes, far more than the request. The cache holds only what the
  // service can give again, so a write-ahead log synced at checkpoints is safe enough (a crash of
  // the program loses nothing; a power cut at most the last answers). A file that cannot switch
  // (read-only) keeps its mode.
  auto tune = [](SqliteDb& db) {
    db.Exec("PRAGMA journal_mode=WAL");
    db.Exec("PRAGMA synchronous=NORMAL");
  };
  if (!pos_db_.IsOpen()) {
    if (!OpenCacheFile(pos_db_, folder + kPosCacheFileName, "CREATE TABLE tiles (pos int, h float, PRIMARY KEY (pos))")) {
      return false;
    }
    tune(pos_db_);
  }
  if (!lnglat_db_.IsOpen()) {
    if (!OpenCacheFile(lnglat_db_, folder + kLngLatCacheFileName, "CREATE TABLE tiles (lng double, lat double, h float)")) {
      return false;
    }
    tune(lnglat_db_);
    // Every store looks the location up first, and the region export selects by range: both
    // need the index (a file that cannot take it, e.g. read-only, still answers, only slower).
    if (!lnglat_db_.Exec("CREATE INDEX IF NOT EXISTS tiles_lnglat ON tiles (lng, lat)")) {
      AppLog("elevation cache: cannot index %s: %s", lnglat_db_.Path().c_str(), lnglat_db_.LastError().c_str());
    }
  }
  return true;
}

void CElevCacheDb::Close() {
  std::lock_guard lock(StoreMutex());
  pos_db_.Close();
  lnglat_db_.Close();
}

std::string CElevCacheDb::ServiceHost() {
  const std::string setting = GetProfileString(kElevationProfileSection, kElevationHostKey, "");
  std::string_view trimmed = TrimAscii(setting);
  while (!trimmed.empty() && trimmed.back() == '/') trimmed = TrimAscii(trimmed.substr(0, trimmed.size() - 1));
  std::string host(trimmed);
  if (!host.empty() && host.find("://") == std::string::npos) host = "https://" + host;
  return host;
}

bool CElevCacheDb::Request(const std::string& query, size_t limit, bool indicate_no_reply, std::string* reply,
                           int* status) {
  auto no_reply = [&]() {
    if (indicate_no_reply) SetNetState(kTileNetFailed);
    *status = kElevNoReply;
    return false;
  };
  const std::string host = ServiceHost();
  if (host.empty()) {
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true)) {
      AppLog("elevation service: no host configured ([%s] %s)", kElevationProfileSection, kElevationHostKey);
    }
    return no_reply();
  }
  std::string url = host + kServicePath + query + "&sensor=false";
  const std::string key = GetProfileString(kElevationProfileSection, kElevationApiKey, "");
  if (!key.empty()) url += "&key=" + UrlEncode(key);

  HttpOptions options;
  options.max_bytes = limit;
  // A worker that is asked to stop ends its fetch within a second instead of the time-out.
  options.cancel = CWorkThread::CurrentQuitFlag();
  const HttpResult result = HttpFetch(url, options);
  const std::string_view text = result.Text();
  if (result.Cancelled()) {
    // Nothing is known about the service: the network indicator stays as it was.
    *status = kElevNoReply;
    return false;
  }

  if (result.TooLarge()) {
    // Only the start of the reply arrived: its last number may be cut short, so none is trusted.
    AppLog("elevation service: reply larger than %zu bytes", limit);
    SetNetState(kTileNetFailed);
    *status = kElevBadReply;
    return false;
  }
  if (result.NetworkError()) return no_reply();
  if (!result.Ok()) {
    // Quota refusals may come as 403 or 429 with the reason in the body.
    if (result.http_status == 429 || Contains(text, "LIMIT")) {
      SetNetState(kTileNetOverQuota);
      *status = kElevOverQuota;
      return false;
    }
    return no_reply();
  }
  if (text.empty()) return no_reply();
  if (!Contains(text, "elevation")) {
    if (Contains(text, "LIMIT")) {
      SetNetState(kTileNetOverQuota);
      *status = kElevOverQuota;
    } else {
      SetNetState(kTileNetFailed);
      *status = kElevNoReply;
    }
    return false;
  }
  reply->assign(text);
  return true;
}

int CElevCacheDb::InsertPos(int64_t key, float height) {
  std::lock_guard lock(StoreMutex());
  SqliteStatement select = pos_db_.Prepare("SELECT * from tiles WHERE pos = ?1");
  if (!select || !select.Bind(1, key)) {
    SetAsideIfDamaged(pos_db_, pos_db_.Path(), pos_db_.LastErrorCode());
    return kElevBadReply;
  }
  const SqliteStatement::Step step = select.StepRow();
  const int code = select.LastCode();
  select.Finalize();
  if (step == SqliteStatement::Step::kRow) return kElevFound;
  if (step == SqliteStatement::Step::kError) {
    SetAsideIfDamaged(pos_db_, pos_db_.Path(), code);
    return kElevBadReply;
  }
  SqliteStatement insert = pos_db_.Prepare("INSERT OR IGNORE INTO tiles(pos, h) values( ?1, ?2 )");
  if (!insert || !insert.Bind(1, key) || !insert.Bind(2, static_cast<double>(height))) {
    AppLog("elevation cache: %s", pos_db_.LastError().c_str());
    return kElevBadReply;
  }
  if (insert.StepRow() != SqliteStatement::Step::kDone) {
    AppLog("elevation cache: cannot store: %s", insert.Error().c_str());
    const int code = insert.LastCode();
    insert.Finalize();
    SetAsideIfDamaged(pos_db_, pos_db_.Path(), code);
    return kElevBadReply;
  }
  return pos_db_.Changes() > 0 ? kElevFetched : kElevFound;
}

int CElevCacheDb::PutByPos(float* lon, float* lat, float height) {
  if (!CElevationStore::NormalizePosition(lon, lat, 1)) return kElevBadReply;
  if (!Open()) return kElevNoCache;
  return InsertPos(ElevPositionKey(*lon, *lat), height);
}

int CElevCacheDb::PutLngLat(double lng, double lat, float height) {
  if (!Open()) return kElevNoCache;
  if (!std::isfinite(lng) || !std::isfinite(lat)) return kElevBadReply;
  std::lock_guard lock(StoreMutex());
  SqliteStatement select = lnglat_db_.Prepare("SELECT * from tiles WHERE lng = ?1 AND lat = ?2");
  if (!select || !select.Bind(1, lng) || !select.Bind(2, lat)) {
    SetAsideIfDamaged(lnglat_db_, lnglat_db_.Path(), lnglat_db_.LastErrorCode());
    return kElevBadReply;
  }
  const SqliteStatement::Step step = select.StepRow();
  const int code = select.LastCode();
  select.Finalize();
  if (step == SqliteStatement::Step::kRow) return kElevFound;
  if (step == SqliteStatement::Step::kError) {
    SetAsideIfDamaged(lnglat_db_, lnglat_db_.Path(), code);
    return kElevBadReply;
  }
  SqliteStatement insert = lnglat_db_.Prepare("insert into tiles(lng, lat, h) values( ?1, ?2, ?3 )");
  if (!insert || !insert.Bind(1, lng) || !insert.Bind(2, lat) || !insert.Bind(3, static_cast<double>(height))) {
    AppLog("elevation cache: %s", lnglat_db_.LastError().c_str());
    return kElevBadReply;
  }
  if (insert.StepRow() != SqliteStatement::Step::kDone) {
    AppLog("elevation cache: cannot store: %s", insert.Error().c_str());
    const int code = insert.LastCode();
    insert.Finalize();
    SetAsideIfDamaged(lnglat_db_, lnglat_db_.Path(), code);
    return kElevBadReply;
  }
  return kElevFetched;
}

int CElevCacheDb::GetByPos(float* lon, float* lat, float* height) {
  if (!Open()) return kElevNoCache;
  if (!std::isfinite(*lon) || !std::isfinite(*lat)) return kElevNoData;
  const int64_t asked = ElevPositionKey(*lon, *lat);
  {
    std::lock_guard lock(StoreMutex());
    SqliteStatement select = pos_db_.Prepare("SELECT * from tiles WHERE pos = ?1");
    if (!select || !select.Bind(1, asked)) {
      AppLog("elevation cache: %s", pos_db_.LastError().c_str());
      SetAsideIfDamaged(pos_db_, pos_db_.Path(), pos_db_.LastErrorCode());
      return kElevNoCache;
    }
    switch (select.StepRow()) {
      case SqliteStatement::Step::kRow:
        *height = static_cast<float>(select.ColumnDouble(1));
        return kElevFound;
      case SqliteStatement::Step::kDone:
        break;
      case SqliteStatement::Step::kError: {
        // A database that cannot answer is no hit (its error must not read as height 0). A
        // damaged one is set aside: the next look-up starts a new cache.
        AppLog("elevation cache: %s", select.Error().c_str());
        const int code = select.LastCode();
        select.Finalize();
        SetAsideIfDamaged(pos_db_, pos_db_.Path(), code);
        return kElevNoCache;
      }
    }
  }
  float x = *lon, y = *lat;
  const int status = FetchPoint(&x, &y, height);
  if (status != kElevFetched) return status;
  // The service answers for its own location, which the fetch stored. The position asked for is
  // stored too: most look-ups do not fall on the service's location, and would miss forever.
  return StoreOk(InsertPos(asked, *height)) ? kElevFetched : kElevBadReply;
}

int CElevCacheDb::FetchPoint(float* lon, float* lat, float* height) {
  if (!Open()) return kElevNoCache;
  if (!std::isfinite(*lon) || !std::isfinite(*lat)) return kElevNoData;
  std::string reply;
  int status = kElevNoReply;
  const std::string query = FormatC("locations=%.14f,%.14f", static_cast<double>(*lat), static_cast<double>(*lon));
  if (!Request(query, kPointReplyLimit, true, &reply, &status)) return status;

  size_t cursor = 0;
  ElevReplySample sample;
  const int scan = ScanElevationReply(reply, &cursor, false, &sample);
  if (sample.has_elevation) *height = static_cast<float>(sample.elevation);
  if (scan != 0) {
    SetNetState(kTileNetFailed);
    return kElevBadReply;
  }
  const int by_lnglat = PutLngLat(sample.lng, sample.lat, *height);
  float x = static_cast<float>(sample.lng), y = static_cast<float>(sample.lat);
  const int by_pos = PutByPos(&x, &y, *height);
  *lon = x;
  *lat = y;
  SetNetState(kTileNetOk);
  return StoreOk(by_lnglat) && StoreOk(by_pos) ? kElevFetched : kElevBadReply;
}

void CElevCacheDb::FetchPath(const float first[2], const float second[2], int samples, std::vector<int>& statuses,
                             std::vector<std::array<float, 3>>& points) {
  if (!Open()) return;
  if (samples < 1) return;
  for (float v : {first[0], first[1], second[0], second[1]}) {
    if (!std::isfinite(v)) return;
  }
  std::string reply;
  int status = kElevNoReply;
  const std::string query =
      FormatC("path=%.14f,%.14f|%.14f,%.14f&samples=%d", static_cast<double>(first[1]), static_cast<double>(first[0]),
              static_cast<double>(second[1]), static_cast<double>(second[0]), samples);
  if (!Request(query, PathReplyLimit(samples), false, &reply, &status)) return;

  size_t cursor = 0;
  ElevReplySample sample;
  while (ScanElevationReply(reply, &cursor, true, &sample) == 0) {
    const float h = static_cast<float>(sample.elevation);
    PutLngLat(sample.lng, sample.lat, h);
    float x = static_cast<float>(sample.lng), y = static_cast<float>(sample.lat);
    statuses.push_back(PutByPos(&x, &y, h));
    points.push_back({x, y, h});
  }
}

void CElevCacheDb::QueryBox(float left, float top, float right, float bottom,
                            std::vector<std::array<double, 3>>& rows) {
  if (!Open()) return;
  std::lock_guard lock(StoreMutex());
  SqliteStatement select = lnglat_db_.Prepare("SELECT * from tiles WHERE lng>?1 AND lng<?2 AND lat>?3 AND lat<?4");
  if (!select) return;
  select.BindAll(
      {static_cast<double>(left), static_cast<double>(right), static_cast<double>(bottom), static_cast<double>(top)});
  while (select.StepRow() == SqliteStatement::Step::kRow) {
    rows.push_back({select.ColumnDouble(0), select.ColumnDouble(1), select.ColumnDouble(2)});
  }
}

CElevCacheDb& ElevCacheDb() {
  static CElevCacheDb cache;
  return cache;
}

}  // namespace velmora
