// CAddressAdo: the address database of one geocoder. Every place a web search of that geocoder
// returned is kept in "<data folder><id>_adr.km" (SQLite), found again by name with the names of
// its ancestors, and rebuilt from the reply cache "<id>_adr.img" / "<id>_adr.idx" (a tile store
// holding every raw reply) whenever the database is missing or incomplete.
//
// Tables "addr0" .. "addr34", one per address type: name (UTF-8, compared case-insensitively for
// ASCII), lng, lat, zoom, parent_id, parent_type, id. A row's parent is row parent_id of table
// "addr<parent_type>"; (0, 0) is a root. The file's user_version is 1 once the tables were
// created and refilled, in one transaction, so a rebuild that was cut short is done again.
//
// Reply cache records: key = ReplyCacheKey(query text); payload "VAQ1", u32 length of the
// query, the query (UTF-8), then the reply bytes as received. A payload without that header is
// read as a bare reply.
//
// Thread safety: each operation takes the connection's lock (never across a web request), so
// the search box and a worker may share one object.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/ado_connection.h"
#include "places/address_types.h"
#include "places/geo_result.h"

namespace velmora {

class CTileStore;

class CAddressAdo : public CAdoConnection {
 public:
  // Largest reply that is parsed or stored; a longer one is refused whole, never cut.
  static constexpr size_t kMaxReplyBytes = 256 * 1024;
  // Longest chain of ancestors put before a name; a longer chain (or a cycle) is cut there.
  static constexpr int kMaxAncestorDepth = 64;
  static constexpr int kSchemaVersion = 1;

  CAddressAdo();
  ~CAddressAdo() override;

  // Opens or creates the database and the reply cache of geocoder `id` (8, 111, 112), building
  // the tables from the cache when the database is new or was left incomplete. The id is kept
  // whatever happens (the search box keeps its other sources in it); false, with everything
  // closed, for any other id or when a file cannot be opened. Opening the id that is open already
  // does nothing. A file that is not an SQLite database is set aside as "<name>.damaged" and
  // rebuilt.
  bool Open(int id);
  // Closes the database and the reply cache (the id stays).
  void Close();
  int Id() const;
  bool IsDatabaseOpen() const { return IsOpen(); }

  // "<data folder><id>_adr." (the reply cache's base path; the database adds "km").
  static std::string BasePath(int id);
  static std::string DatabasePath(int id) { return BasePath(id) + "km"; }

  // Appends the stored places whose name contains `text` (ASCII case ignored; % and _ are plain
  // characters), tables 0 to 34 in order, each in row order. Each hit's name is preceded by its
  // ancestors' names, root first. Places at (0, 0) with zoom 0 are left out.
  void Search(std::string_view text, AddressHitList& out);
  // Appends every stored place, as Search does.
  void FillList(AddressHitList& list);
  // Finds (same name, same parent) or inserts the place in the table of its type; with a
  // position (longitude, latitude, zoom) the row takes it. The row's id; 0 on a database error
  // or a type out of range.
  int AddAddress(const AddressComponent& place, int parent_id, int parent_type, const double* position);
  // Parses a reply of the open geocoder, stores its places (each result's components from the
  // widest down, the narrowest with the position) and appends one hit per result: the narrowest
  // component, the result's position and the parent it was stored under. Results without
  // components are skipped. Hits are appended also when the database is closed. Always true.
  bool AddSearchReply(std::string_view reply, AddressHitList& out);

  // Reply cache. CacheReply stores a reply under its query (identical bytes are not stored
  // again); false when the cache is closed or the write fails. ReadCachedReply gives the newest
  // reply stored for exactly this query.
  static uint64_t ReplyCacheKey(std::string_view query);
  bool CacheReply(std::string_view query, std::string_view reply);
  bool ReadCachedReply(std::string_view query, std::string* reply);

  // What the last rebuild read from the reply cache: replies parsed, and records left out
  // (too large).
  struct RebuildInfo {
    bool rebuilt = false;
    uint64_t replies = 0;
    uint64_t skipped = 0;
  };
  RebuildInfo LastRebuild() const;

 private:
  struct Statements;

  bool OpenDatabase(const std::string& path);
  bool SchemaComplete();
  bool Rebuild();
  bool ReplayReplyCache(RebuildInfo* info);
  void AppendRows(const char* where, std::string_view pattern, AddressHitList& out);
  void CompleteNames(AddressHitList& hits, size_t first);
  Statements& Cached();

  int id_ = 0;
  std::unique_ptr<CTileStore> cache_;
  std::unique_ptr<Statements> statements_;
  RebuildInfo last_rebuild_;
  bool write_failed_ = false;  // an AddAddress failed since the flag was cleared
};

}  // namespace velmora
