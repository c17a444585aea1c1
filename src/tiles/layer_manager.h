// CLayerManager: the one global owner of the map-source catalogue. It keeps the map sources in
// catalogue order (geocoders apart), the geocoder list with one enabled flag each, and answers
// look-ups by source id.
//
// The catalogue is loaded once and never changes afterwards, so records may be read and
// pointers to them kept from any thread without a lock; only the geocoders' enabled flags
// change, and they are atomic.
#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tiles/map_source.h"

namespace velmora {

// The geocoder ids of the catalogue.
inline constexpr int kGeocoderIds[] = {8, 111, 112};
// TRUE for the geocoder ids 8, 111 and 112, false for every other id.
bool IsGeocoderId(int id);

// "<group name>-<display name>".
std::string GetSourceTitle(const MapSourceDef& source);

class CLayerManager {
 public:
  CLayerManager();
  ~CLayerManager();
  CLayerManager(const CLayerManager&) = delete;
  CLayerManager& operator=(const CLayerManager&) = delete;

  // Loads the catalogue (file or text). Only the first successful load takes effect: records
  // handed out stay valid for the manager's life. False when the catalogue cannot be read, holds
  // no map source, or a catalogue is already loaded.
  bool Load(const std::string& path);
  bool LoadText(std::string_view text, const std::string& origin);
  bool IsLoaded() const { return loaded_.load(std::memory_order_acquire); }
  // Lines the loader skipped ("<origin>:<line>: <reason>").
  const std::vector<std::string>& LoadErrors() const { return errors_; }

  // Map sources in catalogue order, geocoders excluded.
  const std::vector<MapSourceDef>& Sources() const { return sources_; }

  // The geocoder list in catalogue order, one enabled flag each (all enabled at first).
  int GeocoderCount() const { return static_cast<int>(geocoders_.size()); }
  const MapSourceDef* GeocoderAt(int index) const;
  bool IsGeocoderEnabled(int index) const;
  void SetGeocoderEnabled(int index, bool enabled);
  std::vector<const MapSourceDef*> EnabledGeocoders() const;

  // The record of an id (a geocoder record for a geocoder id); the first map source when no
  // record has the id; nullptr only when nothing is loaded.
  const MapSourceDef* FindSource(int id) const;
  // The record of an id, or nullptr: "no such source" for callers that must not fall back (a
  // network client asking for an unknown id).
  const MapSourceDef* FindSourceStrict(int id) const;

  // The geocoders' enabled flags in the registry profile (section "geocoders", key = id).
  void LoadState();
  void SaveState() const;

 private:
  bool Adopt(MapCatalogue&& catalogue);

  std::mutex load_mutex_;  // serialises loaders; readers rely on the load-once rule

  struct Geocoder {
    const MapSourceDef* source;
    std::atomic<bool> enabled{true};
  };
  std::atomic<bool> loaded_{false};
  std::vector<MapSourceDef> sources_;       // geocoders excluded
  std::vector<MapSourceDef> geocoder_rows_; // the geocoders' records
  std::vector<std::unique_ptr<Geocoder>> geocoders_;
  std::vector<const MapSourceDef*> by_id_;  // index = id; nullptr where no record
  std::vector<std::string> errors_;
};

// The global layer manager; the first call loads the shipped catalogue.
CLayerManager& LayerManager();

}  // namespace velmora
