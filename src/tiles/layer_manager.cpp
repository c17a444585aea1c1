// The global layer manager: catalogue ownership, geocoder list and source look-ups.
#include "tiles/layer_manager.h"

#include <algorithm>

#include "core/log.h"
#include "core/settings.h"

namespace velmora {

namespace {
constexpr char kGeocoderSection[] = "geocoders";
}

bool IsGeocoderId(int id) {
  return std::find(std::begin(kGeocoderIds), std::end(kGeocoderIds), id) != std::end(kGeocoderIds);
}

std::string GetSourceTitle(const MapSourceDef& source) {
  return source.group_name + "-" + source.name;
}

CLayerManager::CLayerManager() = default;
CLayerManager::~CLayerManager() = default;

bool CLayerManager::Load(const std::string& path) {
  std::lock_guard lock(load_mutex_);
  if (IsLoaded()) return false;
  MapCatalogue cat;
  bool ok = LoadMapCatalogue(path, &cat);
  errors_ = cat.errors;
  return ok && Adopt(std::move(cat));
}

bool CLayerManager::LoadText(std::string_view text, const std::string& origin) {
  std::lock_guard lock(load_mutex_);
  if (IsLoaded()) return false;
  MapCatalogue cat = ParseMapCatalogue(text, origin);
  errors_ = cat.errors;
  return Adopt(std::move(cat));
}

bool CLayerManager::Adopt(MapCatalogue&& cat) {
  std::vector<MapSourceDef> sources, geocoder_rows;
  for (MapSourceDef& d : cat.sources) {
    // A geocoder is known by its builder; the ids the system reserves for geocoders must be
    // geocoders and nothing else may claim those ids, or look-ups would hand a map tile
    // request to a geocoder reply parser.
    if (d.IsGeocoder() != IsGeocoderId(d.id)) {
      std::string msg = "source " + std::to_string(d.id) +
                        (d.IsGeocoder() ? " is a geocoder but its id is not a geocoder id"
                                        : " uses a geocoder id but is no geocoder");
      AppLog("map sources: %s", msg.c_str());
      errors_.push_back(std::move(msg));
      continue;
    }
    (d.IsGeocoder() ? geocoder_rows : sources).push_back(std::move(d));
  }
  if (sources.empty()) {
    AppLog("map sources: the catalogue holds no map source");
    return false;
  }
  sources_ = std::move(sources);
  geocoder_rows_ = std::move(geocoder_rows);
  int max_id = 0;
  for (const MapSourceDef& d : sources_) max_id = std::max(max_id, d.id);
  for (const MapSourceDef& d : geocoder_rows_) max_id = std::max(max_id, d.id);
  by_id_.assign(static_cast<size_t>(max_id) + 1, nullptr);
  for (const MapSourceDef& d : sources_) by_id_[d.id] = &d;
  for (const MapSourceDef& d : geocoder_rows_) {
    by_id_[d.id] = &d;
    auto g = std::make_unique<Geocoder>();
    g->source = &d;
    geocoders_.push_back(std::move(g));
  }
  loaded_.store(true, std::memory_order_release);
  return true;
}

const MapSourceDef* CLayerManager::GeocoderAt(int index) const {
  if (index < 0 || index >= GeocoderCount()) return nullptr;
  return geocoders_[index]->source;
}

bool CLayerManager::IsGeocoderEnabled(int index) const {
  if (index < 0 || index >= GeocoderCount()) return false;
  return geocoders_[index]->enabled.load(std::memory_order_relaxed);
}

void CLayerManager::SetGeocoderEnabled(int index, bool enabled) {
  if (index < 0 || index >= GeocoderCount()) return;
  geocoders_[index]->enabled.store(enabled, std::memory_order_relaxed);
}

std::vector<const MapSourceDef*> CLayerManager::EnabledGeocoders() const {
  std::vector<const MapSourceDef*> out;
  for (const auto& g : geocoders_)
    if (g->enabled.load(std::memory_order_relaxed)) out.push_back(g->source);
  return out;
}

const MapSourceDef* CLayerManager::FindSourceStrict(int id) const {
  if (!IsLoaded() || id < 0 || static_cast<size_t>(id) >= by_id_.size()) return nullptr;
  return by_id_[id];
}

const MapSourceDef* CLayerManager::FindSource(int id) const {
  if (const MapSourceDef* d = FindSourceStrict(id)) return d;
  if (!IsLoaded()) return nullptr;
  return &sources_.front();
}

void CLayerManager::LoadState() {
  for (const auto& g : geocoders_) {
    int on = GetProfileInt(kGeocoderSection, std::to_string(g->source->id), 1);
    g->enabled.store(on != 0, std::memory_order_relaxed);
  }
}

void CLayerManager::SaveState() const {
  for (const auto& g : geocoders_)
    WriteProfileInt(kGeocoderSection, std::to_string(g->source->id),
                    g->enabled.load(std::memory_order_relaxed) ? 1 : 0);
}

namespace {
struct GlobalLayerManager {
  CLayerManager manager;
  GlobalLayerManager() {
    std::string path = ShippedCataloguePath();
    if (!manager.Load(path)) AppLog("map sources: no catalogue could be loaded from %s", path.c_str());
    manager.LoadState();
  }
};
}  // namespace

CLayerManager& LayerManager() {
  static GlobalLayerManager global;
  return global.manager;
}

}  // namespace velmora
