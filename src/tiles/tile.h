// The tiles of the in-memory tile cache: CTile (key, own lock, state, serial number, first download
// attempt, retry count), CImageTile (a decoded picture) and CGeocodeReply (a geocoder's answer),
// the tile states, the recognition of HTML error pages, and the failure counters of the status
// display.
#pragma once
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/gfx/bitmap.h"
#include "tiles/tile_key.h"

namespace velmora {

// Tile states.
enum TileStateCode : int {
  DS_UNLOAD = 0,     // new: waiting for the load thread
  DS_UNDOWN = 1,     // not in the store: waiting for a download thread
  DS_LOADING = 2,    // the load thread reads it from the store
  DS_DOWNING = 3,    // a download thread fetches it
  DS_LOADED = 4,     // image (or reply) in memory
  DS_FAILED = 5,     // download failed and its retries are used up
  DS_NOT_EXIST = 6,  // the source has no such tile
  DS_OFFLINE = 7,    // offline mode: not fetched
  DS_LIMIT = 8,      // the service's quota is exhausted
  DS_TIMEOUT = 9,    // the fetch ran out of time (passes back to DS_UNDOWN)
  DS_SCRAP = 10,     // unusable bytes arrived (passes back to DS_UNDOWN)
};
inline constexpr int kTileStateCount = 11;
// A state above this value is the tick at which a loaded tile left the view.
inline constexpr int64_t kTileStampFloor = 1000;

constexpr bool IsStampedState(int64_t state) { return state > kTileStampFloor; }
// Loaded, whether shown or stamped as having left the view.
constexpr bool IsLoadedState(int64_t state) { return state == DS_LOADED || IsStampedState(state); }
// Waiting for or inside the load or a download.
constexpr bool IsPendingState(int64_t state) { return state >= DS_UNLOAD && state <= DS_DOWNING; }

// The failure state an HTML page stands for when it arrives in place of a tile: DS_LIMIT when the
// page speaks of an exhausted quota or too many requests, else DS_FAILED; 0 when the bytes are not
// an HTML page (after an optional byte-order mark and blanks they do not open with "<" followed,
// within the first kilobyte, by an html, head, body or title tag or an HTML doctype).
int ErrorPageState(const uint8_t* begin, const uint8_t* end);

// Failures counted by state (CTile::ReportFailure), for the status display.
void CountTileFailure(int64_t state);
uint64_t TileFailureCount(int state);
void ResetTileFailureCounts();

class CTileManager;

// Keeps the memory of freed tiles (and map images) in the process for the next ones: the cache
// frees and takes 256 KiB pictures all the time, and glibc would otherwise hand them back to the
// system and fault fresh zeroed pages in for every new tile (about as costly as decoding it).
// Call once at start, before threads run.
void KeepFreedTileMemory();

class CTile {
 public:
  CTile(uint32_t key_low, uint32_t key_high);
  virtual ~CTile();
  CTile(const CTile&) = delete;
  CTile& operator=(const CTile&) = delete;

  TileKey Key() const { return TileKeyFromWords(key_low_, key_high_); }
  uint32_t KeyLow() const { return key_low_; }
  uint32_t KeyHigh() const { return key_high_; }
  // Number given at construction, increasing over the run.
  uint64_t Serial() const { return serial_; }

  // The state under the tile's lock.
  int64_t GetState() const;
  void SetState(int64_t state);
  // Tick of the first download attempt (0 before it) and failed attempts counted so far.
  uint64_t FirstAttemptTick() const;
  int Retries() const;

  // An HTML page where a tile was expected is a failed download: sets the state ErrorPageState
  // gives and returns true; returns false and changes nothing for any other bytes.
  bool CheckErrorPage(const uint8_t* begin, const uint8_t* end);
  // Adds one failure to the counter of the tile's current state.
  void ReportFailure() const;

  // Takes the bytes of the tile (decodes a picture, checks a reply). False when they are not
  // usable; the state is left to the caller. Once the tile is loaded its data no longer changes,
  // so what GetImage returned stays valid for the tile's life.
  virtual bool SetData(const uint8_t* data, size_t length) = 0;
  // The picture of a loaded image tile; null for other tiles and before the data was taken.
  virtual const CBitmap* GetImage() const { return nullptr; }
  // The picture when the state is loaded (shown or stamped), else null; one look under the lock.
  const CBitmap* LoadedImage() const;

 protected:
  // Guards the state and the attempt bookkeeping; subclasses guard their data with it too.
  mutable std::mutex mutex_;

 private:
  friend class CTileManager;
  const uint32_t key_low_;
  const uint32_t key_high_;
  const uint64_t serial_;
  int64_t state_ = DS_UNLOAD;
  uint64_t first_attempt_ = 0;
  int retries_ = 0;
};

// A map tile: the decoded picture.
class CImageTile : public CTile {
 public:
  // Tiles larger than this many pixels are refused before memory is taken (2048 x 2048).
  static constexpr uint64_t kMaxPixels = uint64_t(1) << 22;

  CImageTile(uint32_t key_low, uint32_t key_high) : CTile(key_low, key_high) {}
  // A picture loaded from a file (no tile key): DS_LOADED when it could be read, else DS_FAILED.
  explicit CImageTile(const std::string& file_name);

  bool SetData(const uint8_t* data, size_t length) override;
  const CBitmap* GetImage() const override;
  // True when the bytes decode as a tile picture (what SetData would accept on an empty tile).
  static bool Decodes(const uint8_t* data, size_t length);
  // Saves the picture with the encoder of the file's extension (JPEG quality from the options).
  bool Save(const std::string& file_name, std::string* error = nullptr) const;

 private:
  CBitmap image_;  // set once, before the tile becomes DS_LOADED
  bool has_image_ = false;
};

// A "tile" of a geocoder source (ids 8, 111, 112): its reply is checked by the status rule of the
// source; the reply itself lives in the source's store.
class CGeocodeReply : public CTile {
 public:
  using CTile::CTile;

  // The outcome of a reply's status check: `ok`, else the state the reply calls for (DS_LIMIT
  // for an exhausted quota, the error page's state for an HTML page) or 0 to leave it as it is.
  struct Check {
    bool ok = false;
    int state = 0;
  };
  // By source id: 8 CheckStatusSpaced, 111 CheckStatusCompact, 112 CheckPoiStatus; any other
  // source fails.
  static Check CheckReply(int source, const uint8_t* data, size_t length);
  // JSON with blanks around the colons: the status after the last `status" : "`.
  static Check CheckStatusSpaced(const uint8_t* data, size_t length);
  // Compact JSON: the status after the first `"status":"` from the second byte on.
  static Check CheckStatusCompact(const uint8_t* data, size_t length);
  // The point-of-interest service: the reply starts with "AMap".
  static Check CheckPoiStatus(const uint8_t* data, size_t length);

  // CheckReply for the tile's source; a failure sets the state the check calls for.
  bool ParseReply(const uint8_t* data, size_t length);
  bool SetData(const uint8_t* data, size_t length) override { return ParseReply(data, length); }
};

}  // namespace velmora
