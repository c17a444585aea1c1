// CElevCacheDb: every elevation fetched from the web elevation service, kept in two SQLite files
// of the data folder so that a point is asked of the service once:
//   "gdem.kdb"  tiles(pos int, h float, PRIMARY KEY (pos)): by position key
//   "gd.kd"     tiles(lng double, lat double, h float), index on (lng, lat): by the service's location
// The service's host and key are configuration (profile section "Elevation"). One global instance
// serves the user-interface thread and the elevation workers; each operation takes the store's
// lock around its SQL, never across a network request.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/sqlite_api.h"
#include "platform/db.h"

namespace velmora {

inline constexpr char kPosCacheFileName[] = "gdem.kdb";
inline constexpr char kLngLatCacheFileName[] = "gd.kd";

// Registry profile: the elevation service's host ("https://host" or "http://host:port"; a bare
// host name means https) and its key (sent as "&key=..." when not empty).
inline constexpr char kElevationProfileSection[] = "Elevation";
inline constexpr char kElevationHostKey[] = "ServiceHost";
inline constexpr char kElevationApiKey[] = "ServiceKey";

// Where the elevation service's network state goes (the status bar's indicator, wired by the
// program): kTileNetOk after a reply, kTileNetFailed when the service could not be read,
// kTileNetOverQuota when it refused for quota. Called from the thread that fetched.
void SetElevationNetStateSink(std::function<void(int net_state)> sink);

// Reply size limits: one point, and a path by its number of samples (samples x 512, at least
// 19,456 bytes). A longer reply is not read.
inline constexpr size_t kPointReplyLimit = 262144;
inline constexpr size_t kPathReplyMinLimit = 19456;
size_t PathReplyLimit(int samples);

// The position key of "gdem.kdb": the bit pattern of the latitude as a float in the high 32 bits,
// the longitude's in the low 32 bits.
int64_t ElevPositionKey(float lon, float lat);

// One sample read from a web elevation reply.
struct ElevReplySample {
  double elevation = 0, lat = 0, lng = 0;
  bool has_elevation = false;  // the height was read, even when a later key is missing
};

// Scans one sample from *cursor on: the key "elevation" (with its closing quote mark when
// `quoted_key`), the next colon and the height; then "lat\"", a colon and the latitude; then
// "lng\"", a colon and the longitude. Each number is the longest decimal prefix after blanks.
// Returns 0 with *cursor after the longitude, 1 when no "elevation" key follows, 2 when a later
// key, colon or number is missing or a value is out of range (*out keeps what was read).
int ScanElevationReply(std::string_view reply, size_t* cursor, bool quoted_key, ElevReplySample* out);

class CElevCacheDb : public CSqliteApi {
 public:
  // `folder` empty: the data folder of the options, read when the databases are first opened.
  explicit CElevCacheDb(std::string folder = std::string());
  ~CElevCacheDb() override;

  // Opens what is not open yet, creating the files, tables and index that are missing. True when
  // both databases are open. A damaged file (not a database, or pages that do not read, found
  // here or by any later operation) is set aside as "<file>.damaged" and a new cache started. The operations below call it first and answer kElevNoCache when it
  // fails.
  bool Open();
  void Close();

  // The cached height at a position (as the caller normalised it), else the web service's, which
  // is then stored under the service's location and under the position asked for, so that the
  // next look-up there finds it. The caller's position is never changed.
  int GetByPos(float* lon, float* lat, float* height);
  // Asks the web service for one point and stores the answer in both databases. On success the
  // position becomes the service's location snapped to the 1 m grid. *height receives the reply's
  // elevation as soon as it is read (also when a later part of the reply is missing).
  int FetchPoint(float* lon, float* lat, float* height);
  // Asks the web service for `samples` evenly spaced samples on the line between two points
  // (longitude, latitude each), stores each, and appends its store status to `statuses` and
  // (snapped longitude, snapped latitude, height) to `points`.
  void FetchPath(const float first[2], const float second[2], int samples, std::vector<int>& statuses,
                 std::vector<std::array<float, 3>>& points);
  // Stores into "gd.kd" unless a row with that longitude and latitude exists: 5 stored, 6 present,
  // 2 the store failed, 0 the cache cannot be opened.
  int PutLngLat(double lng, double lat, float height);
  // Snaps the position in place to the 1 m grid, then stores into "gdem.kdb" unless the key
  // exists: 5, 6, 2 or 0 as above.
  int PutByPos(float* lon, float* lat, float height);
  // Appends every row of "gd.kd" with left < lng < right and bottom < lat < top as (lng, lat, h).
  void QueryBox(float left, float top, float right, float bottom, std::vector<std::array<double, 3>>& rows);

  // The service's base address from the profile ("" when none is configured).
  static std::string ServiceHost();

 private:
  std::string Folder() const;
  // Asks the service: true with the reply's text when it holds an elevation; otherwise false with
  // *status 1, 2 or 4 and the network indicator set (for "no reply" only when indicate_no_reply).
  bool Request(const std::string& query, size_t limit, bool indicate_no_reply, std::string* reply, int* status);
  // Inserts under a position key unless it exists: 5 inserted, 6 present, 2 failure.
  int InsertPos(int64_t key, float height);
  // OpenStore, and when the file is damaged (not a database, or pages that do not read) it is
  // set aside and a new one is made.
  bool OpenCacheFile(SqliteDb& db, const std::string& path, const char* create_sql);
  // When `code` says that the file is damaged: closes it and renames it (and its journal) to
  // "<file>.damaged", logged, so that the next Open starts a new one. True when that was done.
  bool SetAsideIfDamaged(SqliteDb& db, std::string path, int code);

  std::string folder_;
  SqliteDb pos_db_;     // "gdem.kdb"
  SqliteDb lnglat_db_;  // "gd.kd"
};

// The global elevation cache.
CElevCacheDb& ElevCacheDb();

}  // namespace velmora
