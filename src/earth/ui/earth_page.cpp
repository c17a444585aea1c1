// The earth application window, its page and the velmora:// hosts that feed the page.
#include "earth/ui/earth_page.h"

#include <zip.h>

#include <unistd.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "core/log.h"
#include "core/settings.h"
#include "earth/ui/ve_view.h"
#include "platform/fs.h"
#include "platform/sync.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/ui_host.h"
#include "terrain/elevation_store.h"
#include "tiles/layer_manager.h"

namespace velmora {

namespace {

constexpr char kPageFile[] = "earth/map.html";
constexpr char kLibraryFile[] = "cesium/Cesium.js";
constexpr int kPageId = 1;

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

std::optional<int> ReadPart(std::string_view& rest) {
  if (rest.empty() || rest.front() != '/') return std::nullopt;
  rest.remove_prefix(1);
  int value = 0;
  auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
  if (ec != std::errc() || end == rest.data()) return std::nullopt;
  rest.remove_prefix(static_cast<size_t>(end - rest.data()));
  return value;
}

}  // namespace

// ---- the page --------------------------------------------------------------------------------

std::optional<std::string> LoadEarthPageText(std::string* error) {
  const std::string root = AppOptions().program_dir;
  std::optional<std::vector<uint8_t>> page = ReadFileBytes(root + kPageFile);
  if (!page) {
    if (error) *error = "the earth page " + root + kPageFile + " is missing";
    return std::nullopt;
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(root + kLibraryFile, ec)) {
    if (error) *error = "the globe library " + root + kLibraryFile + " is missing";
    return std::nullopt;
  }
  std::string text(page->begin(), page->end());
  const int source_id = WebMapSourceId();
  const MapSourceDef* source = LayerManager().FindSourceStrict(source_id);
  ReplaceAll(text, "$$TILE_SOURCE$$", std::to_string(source_id));
  ReplaceAll(text, "$$TILE_MAX_LEVEL$$", std::to_string(source ? source->max_zoom : 18));
  return text;
}

CEarthPage::CEarthPage() { RegisterEarthHosts(); }

CEarthPage::~CEarthPage() {
  if (IsWindow()) DestroyWindow();
  link_->Detach();
}

bool CEarthPage::CreatePage(CWnd* parent, const RECT& rect) {
  if (!Create(parent, kPageId, "earth", WS_CHILD | WS_VISIBLE, rect)) return false;
  link_->Attach(this);
  SetSilent(true);
  Engine().SetLocalOnly(true);
  if (!Engine().CanGrab() || !Engine().CanDrawWebGl()) {
    link_->Fail("no web engine that draws WebGL pages");
    return true;
  }
  std::string error;
  std::optional<std::string> text = LoadEarthPageText(&error);
  if (!text) {
    link_->Fail(error);
    return true;
  }
  if (!LoadHtml(*text)) link_->Fail("the earth page could not be loaded");
  return true;
}

void CEarthPage::OnPageMessage(const std::string& message) {
  if (!link_->OnPageMessage(message) && listener_) listener_(message);
}

void CEarthPage::OnDestroy() {
  link_->Detach();
  CHtmlViewEx::OnDestroy();
}

// ---- the application window ------------------------------------------------------------------

namespace {

// The top-level window of the earth application; its one child is the page.
class CEarthAppWindow : public CDialog {
 public:
  CEarthAppWindow(int width, int height) : CDialog(Template(width, height)), width_(width), height_(height) {}
  ~CEarthAppWindow() override {
    if (IsWindow()) DestroyWindow();
  }
  CEarthPage& Page() { return page_; }
  void Place() {
    MoveWindow(RECT{0, 0, width_, height_});
    page_.MoveWindow(RECT{0, 0, width_, height_});
  }

 protected:
  bool OnInitDialog() override {
    page_.CreatePage(this, RECT{0, 0, width_, height_});
    return true;
  }

 private:
  static DialogTemplate Template(int width, int height) {
    DialogTemplate t;
    t.caption = "Google Earth";
    t.cx = width;
    t.cy = height;
    return t;
  }
  CEarthPage page_;
  int width_;
  int height_;
};

std::unique_ptr<CEarthAppWindow> g_window;  // user-interface thread only
std::atomic<int> g_width{1024};
std::atomic<int> g_height{768};

}  // namespace

void SetEarthWindowSize(int width, int height) {
  g_width = std::max(1, width);
  g_height = std::max(1, height);
}

std::shared_ptr<CEarthLink> EarthApplication(bool start) {
  if (g_window && g_window->IsWindow()) return g_window->Page().Link();
  if (!start) return nullptr;
  g_window.reset();
  auto window = std::make_unique<CEarthAppWindow>(g_width.load(), g_height.load());
  if (!window->Create(nullptr)) return nullptr;
  window->ShowWindow(SW_SHOW);
  GetUiHost().ShowModeless(*window);
  // The host sizes a new dialog from its template's dialog units; the render window has a size
  // in pixels, set once the window is shown.
  window->Place();
  std::shared_ptr<CEarthLink> link = window->Page().Link();
  g_window = std::move(window);
  return link;
}

std::shared_ptr<CEarthLink> StartEarthApplication(const Event* stop, unsigned timeout_ms, std::string* error) {
  std::shared_ptr<CEarthLink> link;
  if (!UiDispatcher().SendCall([&link] { link = EarthApplication(true); }, stop) || !link) {
    if (error) *error = "the earth application window could not be made";
    return nullptr;
  }
  if (!link->WaitReady(stop, timeout_ms, error)) return nullptr;
  return link;
}

void CloseEarthApplication() { g_window.reset(); }

CEarthPage* EarthApplicationPage() { return g_window && g_window->IsWindow() ? &g_window->Page() : nullptr; }

CWnd* EarthApplicationWindow() { return g_window && g_window->IsWindow() ? g_window.get() : nullptr; }

void RestoreEarthApplicationPage() {
  if (!g_window || !g_window->IsWindow()) return;
  CEarthPage& page = g_window->Page();
  if (page.GetParent() != g_window.get()) page.SetParent(g_window.get());
  g_window->Place();
}

// ---- the terrain host ------------------------------------------------------------------------

std::optional<PageResource> EarthTerrainResource(std::string_view path, const std::atomic<bool>* cancelled) {
  std::string_view rest = path;
  std::optional<int> level = ReadPart(rest), x = ReadPart(rest), y = ReadPart(rest);
  if (!level || !x || !y || !rest.empty() || *level < 0 || *level > 24) return std::nullopt;
  if (*x < 0 || *x >= (2 << *level) || *y < 0 || *y >= (1 << *level)) return std::nullopt;
  const double side = 180.0 / double(1 << *level);
  const double west = -180.0 + *x * side;
  const double north = 90.0 - *y * side;
  const double step = side / (kEarthTerrainSide - 1);
  // The height files' own resolution for the tile's spacing; only the local files are read.
  const int resolution = std::max(1, static_cast<int>(step * 111319.49));
  const int mode = AppOptions().dem_source_mode == kDemSourceAstgtm ? kDemSourceAstgtm : kDemSourceSrtm;
  CElevationStore& store = ElevationStore();
  PageResource tile;
  tile.mime = "application/octet-stream";
  tile.bytes.resize(size_t(kEarthTerrainSide) * kEarthTerrainSide * 4);
  char* out = tile.bytes.data();
  for (int row = 0; row < kEarthTerrainSide; ++row) {
    if (cancelled && cancelled->load(std::memory_order_relaxed)) return std::nullopt;
    const double lat = north - row * step;
    for (int col = 0; col < kEarthTerrainSide; ++col) {
      float pos[2] = {static_cast<float>(west + col * step), static_cast<float>(lat)};
      float height = kNoElevation;
      const int status = store.GetElevation(pos, &height, resolution, mode);
      if ((status != kElevFound && status != kElevFetched) || height == kNoElevation || !std::isfinite(height))
        height = 0.0f;
      uint32_t bits;
      std::memcpy(&bits, &height, 4);
      for (int b = 0; b < 4; ++b) *out++ = static_cast<char>((bits >> (8 * b)) & 0xFF);
    }
  }
  return tile;
}

// ---- the KML host ----------------------------------------------------------------------------

namespace {

std::mutex g_kml_mutex;
std::set<std::string> g_kml_folders;  // guarded by g_kml_mutex; each ends with '/'
int g_kmz_count = 0;                  // guarded by g_kml_mutex

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// Unpacks a KMZ into `folder`; the .kml the page opens in *kml. Names that would leave the folder
// are refused.
bool UnpackKmz(const std::string& path, const std::string& folder, std::string* kml, std::string* error,
               uint64_t max_entry_bytes) {
  int code = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &code);
  if (!archive) {
    *error = "not a KMZ archive";
    return false;
  }
  std::string first_top, first_any;
  bool ok = true;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t i = 0; i < count && ok; ++i) {
    zip_stat_t st;
    if (zip_stat_index(archive, i, 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME)) continue;
    std::string name = st.name;
    if (name.empty() || name.back() == '/') continue;
    const std::filesystem::path rel = std::filesystem::path(name).lexically_normal();
    if (rel.is_absolute() || rel.empty() || *rel.begin() == "..") {
      *error = "the KMZ names a file outside its folder: " + name;
      ok = false;
      break;
    }
    if (st.size > max_entry_bytes) {
      *error = "a file of the KMZ is too large";
      ok = false;
      break;
    }
    zip_file_t* file = zip_fopen_index(archive, i, 0);
    std::vector<uint8_t> bytes(static_cast<size_t>(st.size));
    const zip_int64_t read = file ? zip_fread(file, bytes.data(), bytes.size()) : -1;
    if (file) zip_fclose(file);
    if (read != static_cast<zip_int64_t>(bytes.size()) || !WriteFileAtomic(folder + rel.string(), bytes, error)) {
      if (error->empty()) *error = "a file of the KMZ cannot be read";
      ok = false;
      break;
    }
    const std::string lower = [&] {
      std::string s = rel.string();
      for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return s;
    }();
    if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".kml") == 0) {
      if (first_any.empty()) first_any = rel.string();
      if (first_top.empty() && rel.string().find('/') == std::string::npos) first_top = rel.string();
    }
  }
  zip_close(archive);
  if (!ok) return false;
  const std::string& chosen = first_top.empty() ? first_any : first_top;
  if (chosen.empty()) {
    *error = "the KMZ holds no KML file";
    return false;
  }
  *kml = folder + chosen;
  return true;
}

std::string PercentEncodePath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace

std::optional<std::string> PrepareEarthKml(const std::string& path, std::string* error, uint64_t max_entry_bytes) {
  std::string local_error;
  std::string& why = error ? *error : local_error;
  std::error_code ec;
  const std::string absolute = std::filesystem::absolute(path, ec).lexically_normal().string();
  if (ec || !std::filesystem::is_regular_file(absolute, ec)) {
    why = "the KML file cannot be read: " + path;
    return std::nullopt;
  }
  std::string kml = absolute;
  std::string lower = absolute;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".kmz") == 0) {
    int n;
    {
      std::lock_guard lock(g_kml_mutex);
      n = ++g_kmz_count;
    }
    const std::string folder = AppOptions().work_dir + "earth-kmz-" + std::to_string(getpid()) + "-" +
                               std::to_string(n) + "/";
    std::filesystem::remove_all(folder, ec);
    if (!EnsureFolder(folder) || !UnpackKmz(absolute, folder, &kml, &why, max_entry_bytes)) {
      std::filesystem::remove_all(folder, ec);
      if (why.empty()) why = "the KMZ cannot be unpacked";
      return std::nullopt;
    }
  }
  {
    std::lock_guard lock(g_kml_mutex);
    g_kml_folders.insert(FolderOf(kml));
  }
  return std::string("velmora://") + kEarthKmlHost + PercentEncodePath(kml);
}

std::optional<PageResource> EarthKmlResource(std::string_view path) {
  const std::string clean = std::filesystem::path(std::string(path)).lexically_normal().string();
  if (clean.empty() || clean.front() != '/' || clean.find("/../") != std::string::npos) return std::nullopt;
  bool allowed = false;
  {
    std::lock_guard lock(g_kml_mutex);
    for (const std::string& folder : g_kml_folders) allowed = allowed || clean.compare(0, folder.size(), folder) == 0;
  }
  if (!allowed) return std::nullopt;
  std::optional<std::vector<uint8_t>> bytes = ReadFileBytes(clean);
  if (!bytes) return std::nullopt;
  PageResource file;
  std::string lower = clean;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto ends = [&lower](std::string_view ext) {
    return lower.size() >= ext.size() && lower.compare(lower.size() - ext.size(), ext.size(), ext) == 0;
  };
  file.mime = ends(".kml")   ? "application/vnd.google-earth.kml+xml"
              : ends(".png") ? "image/png"
              : ends(".jpg") || ends(".jpeg") ? "image/jpeg"
              : ends(".gif") ? "image/gif"
                             : "application/octet-stream";
  file.bytes.assign(bytes->begin(), bytes->end());
  return file;
}

void RegisterEarthHosts() {
  static std::once_flag once;
  std::call_once(once, [] {
    SetSlowPageResourceSource(kEarthTerrainHost, [](const std::string& path, const std::atomic<bool>& cancelled) {
      return EarthTerrainResource(path, &cancelled);
    });
    SetPageResourceSource(kEarthKmlHost, [](const std::string& path) { return EarthKmlResource(path); });
    if (!FindPageResourceSource(kWebMapTileHost) && !FindSlowPageResourceSource(kWebMapTileHost))
      SetPageResourceSource(kWebMapTileHost, [](const std::string& path) { return WebMapTileResource(path); });
  });
}

}  // namespace velmora
