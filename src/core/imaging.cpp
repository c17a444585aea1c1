// Encoder table, world and projection side files, EXIF stamping and the program-icon stamp.
#include "core/imaging.h"

#include <cmath>
#include <ctime>
#include <mutex>

#include "core/format.h"
#include "core/log.h"
#include "core/settings.h"
#include "platform/fs.h"

namespace velmora {
namespace {

// Spherical (Web) Mercator as ESRI programs read it from a ".prj" file.
constexpr const char* kEsriWebMercator =
    "PROJCS[\"WGS_1984_Web_Mercator_Auxiliary_Sphere\",GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\","
    "SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],PRIMEM[\"Greenwich\",0.0],"
    "UNIT[\"Degree\",0.0174532925199433]],PROJECTION[\"Mercator_Auxiliary_Sphere\"],"
    "PARAMETER[\"False_Easting\",0.0],PARAMETER[\"False_Northing\",0.0],"
    "PARAMETER[\"Central_Meridian\",0.0],PARAMETER[\"Standard_Parallel_1\",0.0],"
    "PARAMETER[\"Auxiliary_Sphere_Type\",0.0],UNIT[\"Meter\",1.0]]";

// The same as EPSG:3857 in OGC WKT, XML-escaped for the GDAL ".aux.xml" file.
constexpr const char* kPamWebMercator =
    "PROJCS[&quot;WGS 84 / Pseudo-Mercator&quot;,GEOGCS[&quot;WGS 84&quot;,DATUM[&quot;WGS_1984&quot;,"
    "SPHEROID[&quot;WGS 84&quot;,6378137,298.257223563,AUTHORITY[&quot;EPSG&quot;,&quot;7030&quot;]],"
    "AUTHORITY[&quot;EPSG&quot;,&quot;6326&quot;]],PRIMEM[&quot;Greenwich&quot;,0,AUTHORITY[&quot;EPSG&quot;,"
    "&quot;8901&quot;]],UNIT[&quot;degree&quot;,0.0174532925199433,AUTHORITY[&quot;EPSG&quot;,&quot;9122&quot;]],"
    "AUTHORITY[&quot;EPSG&quot;,&quot;4326&quot;]],PROJECTION[&quot;Mercator_1SP&quot;],"
    "PARAMETER[&quot;central_meridian&quot;,0],PARAMETER[&quot;scale_factor&quot;,1],"
    "PARAMETER[&quot;false_easting&quot;,0],PARAMETER[&quot;false_northing&quot;,0],"
    "UNIT[&quot;metre&quot;,1,AUTHORITY[&quot;EPSG&quot;,&quot;9001&quot;]],AXIS[&quot;Easting&quot;,EAST],"
    "AXIS[&quot;Northing&quot;,NORTH],EXTENSION[&quot;PROJ4&quot;,&quot;+proj=merc +a=6378137 +b=6378137 "
    "+lat_ts=0 +lon_0=0 +x_0=0 +y_0=0 +k=1 +units=m +nadgrids=@null +wktext +no_defs&quot;],"
    "AUTHORITY[&quot;EPSG&quot;,&quot;3857&quot;]]";

// The text properties of exported pictures.
constexpr const char* kCopyright = "Velmora";
constexpr const char* kMake = "Velmora";
constexpr const char* kModel = "Velmora map workstation";

// The path up to (not including) the extension's dot; the whole path when it has none.
std::string WithoutExtension(const std::string& path) {
  size_t slash = path.find_last_of('/');
  size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  return path.substr(0, dot);
}

}  // namespace

std::string ImageTypeToMime(std::string_view extension) {
  return ImageTypeMime(ImageTypeFromExtension(extension));
}

int GetEncoderClsid(std::string_view mime, ImageType* type) {
  ImageType t = ImageTypeFromMime(mime);
  if (type) *type = t;
  return int(t);
}

std::string WorldFileExt(std::string_view image_extension) {
  switch (ImageTypeFromExtension(image_extension)) {
    case ImageType::kBmp: return "bmw";
    case ImageType::kJpeg: return "jpw";
    case ImageType::kGif: return "gfw";
    case ImageType::kTiff: return "tfw";
    case ImageType::kPng: return "pnw";
    default: return "";
  }
}

std::string WorldFilePath(const std::string& image_path) {
  std::string ext = WorldFileExt(GetFileExtLower(image_path));
  if (ext.empty()) return "";
  return WithoutExtension(image_path) + "." + ext;
}

bool WriteWorldFile(const std::string& path, const double values[6], std::string* error) {
  std::string text;
  for (int i = 0; i < 6; ++i) {
    if (!std::isfinite(values[i])) {
      if (error) *error = "world file value " + std::to_string(i + 1) + " is not a number";
      return false;
    }
    text += FormatFixed(values[i], 17);
    text += '\n';
  }
  return WriteFileAtomic(path, text.data(), text.size(), error);
}

bool WriteProjSideFiles(const std::string& image_path, std::string* error) {
  std::string prj = kEsriWebMercator;
  if (!WriteFileAtomic(WithoutExtension(image_path) + ".prj", prj.data(), prj.size(), error)) return false;
  std::string aux = std::string("<PAMDataset>\n  <SRS dataAxisToSRSAxisMapping=\"1,2\">") + kPamWebMercator +
                    "</SRS>\n</PAMDataset>\n";
  return WriteFileAtomic(image_path + ".aux.xml", aux.data(), aux.size(), error);
}

void StampImageProperties(CBitmap& image) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char when[32];
  std::strftime(when, sizeof when, "%Y:%m:%d %H:%M:%S", &local);
  image.SetProperty(kPropertyCopyright, kCopyright);
  image.SetProperty(kPropertyMake, kMake);
  image.SetProperty(kPropertyModel, kModel);
  image.SetProperty(kPropertyDateTimeOriginal, when);
}

const CBitmap& ProgramIcon() {
  static const CBitmap* icon = [] {
    auto* b = new CBitmap;  // shared by every export for the life of the process
    std::string path = AppOptions().program_dir + "images/icon.png";
    std::string why;
    if (!LoadImageFile(path, b, &why)) AppLog("program icon not loaded: %s", why.c_str());
    return b;
  }();
  return *icon;
}

bool StampLogo(CGraphics& graphics, int tiles_across, int tiles_down) {
  const CBitmap& icon = ProgramIcon();
  if (icon.IsEmpty() || !graphics.IsValid()) return false;
  const ColorKey key{0xFFFEFEFEu, 0xFFFFFFFFu};
  const GfxRect whole{0, 0, float(icon.Width()), float(icon.Height())};
  auto stamp = [&](int cx, int cy) {
    float x = float(cx - icon.Width() / 2), y = float(cy - icon.Height() / 2);
    graphics.DrawImage(icon, GfxRect{x, y, whole.width, whole.height}, whole, &key);
  };
  int w = graphics.Width(), h = graphics.Height();
  if (ProgramSettings().GetInt("StampMode", 0) == 1) {
    stamp(w / 2, h / 2);
    return true;
  }
  int across = std::max(tiles_across, 1), down = std::max(tiles_down, 1);
  int tw = w / across, th = h / down;
  for (int r = 0; r < down; ++r)
    for (int c = 0; c < across; ++c) stamp(c * tw + tw / 2, r * th + th / 2);
  return true;
}

bool StampLogo(CBitmap& image, int tiles_across, int tiles_down) {
  CGraphics g(image);
  return StampLogo(g, tiles_across, tiles_down);
}

bool EncodeImageByMime(const CBitmap& image, std::string_view mime, std::vector<uint8_t>* out,
                       std::string* error) {
  ImageType type = ImageTypeFromMime(mime);
  if (type == ImageType::kUnknown) {
    if (error) *error = "no image encoder for " + std::string(mime);
    return false;
  }
  EncodeOptions options;
  options.jpeg_quality = AppOptions().jpeg_quality;
  return EncodeImage(image, type, out, options, error);
}

bool SaveImageByExtension(const CBitmap& image, const std::string& path, std::string* error) {
  ImageType type = ImageTypeFromExtension(GetFileExtLower(path));
  if (type == ImageType::kUnknown) {
    if (error) *error = "no image encoder for the extension of " + path;
    return false;
  }
  EncodeOptions options;
  options.jpeg_quality = AppOptions().jpeg_quality;
  return SaveImageFile(image, path, type, options, error);
}

bool SaveImageByMime(const CBitmap& image, const std::string& path, std::string_view mime,
                     std::string* error) {
  std::vector<uint8_t> bytes;
  if (!EncodeImageByMime(image, mime, &bytes, error)) return false;
  return WriteFileAtomic(path, bytes, error);
}

CFont FontFromTextStyle(const CTextStyle& style) {
  return CFont(style.face, CFont::PointsToPixels(style.size), style.flags & 0x0Fu);
}

}  // namespace velmora
