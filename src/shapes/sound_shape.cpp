// The sound shape: position, stored form, its looping sound, drawing and bounds; and the icon
// file reader it draws with.
#include "shapes/sound_shape.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/log.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "platform/gfx/graphics.h"
#include "platform/gfx/image_codec.h"

namespace velmora {
namespace {

constexpr Argb kFallbackColor = 0xFFFF0000u;
// An icon entry larger than this is not an icon.
constexpr uint32_t kMaxIconSide = 1024;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

bool Fail(std::string* error, const char* why) {
  if (error) *error = why;
  return false;
}

// A bitmap entry: BITMAPINFOHEADER, then the colour rows bottom-up (the height counts the AND
// mask's rows too), then the 1-bit AND mask.
bool DecodeDibEntry(const uint8_t* p, size_t size, CBitmap* out, std::string* error) {
  if (size < 40 || U32(p) < 40 || U32(p) > size) return Fail(error, "icon bitmap header cut short");
  const uint32_t header = U32(p);
  const int32_t width = static_cast<int32_t>(U32(p + 4));
  const int32_t height2 = static_cast<int32_t>(U32(p + 8));
  const uint16_t bits = U16(p + 14);
  const uint32_t compression = U32(p + 16);
  if (width <= 0 || height2 <= 0 || height2 % 2 != 0 || uint32_t(width) > kMaxIconSide ||
      uint32_t(height2 / 2) > kMaxIconSide)
    return Fail(error, "icon bitmap size out of range");
  if (compression != 0 || (bits != 32 && bits != 24)) return Fail(error, "icon bitmap format not supported");
  const int height = height2 / 2;
  const size_t row = ((size_t(width) * bits + 31) / 32) * 4;
  const size_t mask_row = ((size_t(width) + 31) / 32) * 4;
  const size_t need = header + row * size_t(height) + (bits == 24 ? mask_row * size_t(height) : 0);
  if (need > size) return Fail(error, "icon bitmap cut short");
  if (!out->Create(width, height)) return Fail(error, "not enough memory for the icon");
  const uint8_t* colours = p + header;
  const uint8_t* mask = colours + row * size_t(height);
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = colours + row * size_t(height - 1 - y);
    const uint8_t* m = mask + mask_row * size_t(height - 1 - y);
    for (int x = 0; x < width; ++x) {
      const uint8_t* px = src + size_t(x) * (bits / 8);
      uint8_t alpha = bits == 32 ? px[3] : ((m[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255);
      out->SetPixel(x, y, (Argb(alpha) << 24) | (Argb(px[2]) << 16) | (Argb(px[1]) << 8) | Argb(px[0]));
    }
  }
  return true;
}

}  // namespace

bool DecodeIconFile(const uint8_t* data, size_t size, CBitmap* out, std::string* error) {
  if (!out) return Fail(error, "no output");
  out->Reset();
  if (!data || size < 6 || U16(data) != 0 || U16(data + 2) != 1) return Fail(error, "not an icon file");
  const uint16_t count = U16(data + 4);
  if (count == 0 || size_t(count) * 16 > size - 6) return Fail(error, "icon directory cut short");
  // The largest entry that decodes.
  int best_side = 0;
  CBitmap best;
  std::string why = "icon holds no picture";
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t* e = data + 6 + size_t(i) * 16;
    const uint32_t bytes = U32(e + 8), offset = U32(e + 12);
    if (offset > size || bytes > size - offset || bytes < 8) {
      why = "icon entry runs past the end of the file";
      continue;
    }
    const uint8_t* p = data + offset;
    CBitmap picture;
    std::string entry_error;
    bool ok;
    if (std::memcmp(p, "\x89PNG", 4) == 0)
      ok = DecodeImage(p, bytes, &picture, &entry_error) && picture.Width() <= int(kMaxIconSide) &&
           picture.Height() <= int(kMaxIconSide);
    else
      ok = DecodeDibEntry(p, bytes, &picture, &entry_error);
    if (!ok) {
      why = entry_error.empty() ? "icon entry cannot be decoded" : entry_error;
      continue;
    }
    const int side = std::max(picture.Width(), picture.Height());
    if (side > best_side) {
      best_side = side;
      best = std::move(picture);
    }
  }
  if (best.IsEmpty()) {
    if (error) *error = why;
    return false;
  }
  *out = std::move(best);
  return true;
}

const CBitmap& CSoundShape::Icon() {
  static std::once_flag once;
  static CBitmap icon;
  std::call_once(once, [] {
    const std::string path = AppOptions().program_dir + kSoundIconFile;
    std::string error;
    const std::optional<std::vector<uint8_t>> bytes = ReadFileBytes(path, &error);
    if (!bytes || !DecodeIconFile(bytes->data(), bytes->size(), &icon, &error)) {
      icon.Reset();
      AppLog("sound shape: the icon %s cannot be read (%s); sounds are drawn as red circles", path.c_str(),
             error.c_str());
    }
  });
  return icon;
}

CSoundShape::CSoundShape() : CMapShape(kShapeSound) { SetName(kSoundShapeName); }

CSoundShape::~CSoundShape() {
  if (buffer_) buffer_->Stop();
}

std::string CSoundShape::GetInfoText() const {
  const size_t slash = path_.find_last_of("/\\");
  return slash == std::string::npos ? path_ : path_.substr(slash + 1);
}

bool CSoundShape::AddPoint(float lng, float lat) {
  if (!IsValidPoint(lng, lat)) return false;
  points_.assign(1, ShapePoint{lng, lat});
  Touch();
  return true;
}

void CSoundShape::ProjectPoints(float screen_x, float screen_y, int window_width, int window_height) {
  screen_x_ = screen_x;
  screen_y_ = screen_y;
  PlaceSound(window_width, window_height);
}

void CSoundShape::ProjectPoints(const CMapProjector& p) {
  if (points_.empty()) return;
  const PixelPoint at = p.ToScreen(points_[0].lng, points_[0].lat);
  ProjectPoints(static_cast<float>(std::clamp(at.x, -1e9, 1e9)), static_cast<float>(std::clamp(at.y, -1e9, 1e9)),
                p.Width(), p.Height());
}

void CSoundShape::PlaceSound(int window_width, int window_height) const {
  if (!buffer_ || window_width <= 0 || window_height <= 0 || !std::isfinite(screen_x_) || !std::isfinite(screen_y_))
    return;
  // Half the window is one unit: on screen the sound is within a unit or so (full volume), and
  // it fades with its distance beyond the window's edge.
  const float half_w = window_width * 0.5f, half_h = window_height * 0.5f;
  const float x = std::clamp((screen_x_ - half_w) / half_w, -1e4f, 1e4f);
  const float y = std::clamp((half_h - screen_y_) / half_h, -1e4f, 1e4f);
  buffer_->SetPosition(x, y, 0.0f);
}

bool CSoundShape::SetSoundPath(const std::string& path, std::string* error) {
  path_ = path;
  return CreateSoundBuffer(error);
}

void CSoundShape::Serialize(ArchiveWriter& ar) const {
  ar.F32(Longitude());
  ar.F32(Latitude());
  ar.String(path_);
}

void CSoundShape::Serialize(ArchiveReader& ar) {
  const float lng = ar.F32();
  const float lat = ar.F32();
  std::string path = ar.String();
  // The stored position is taken as it is (an old file's point is what it was), unless it is not
  // a number at all: such a shape could never be drawn.
  if (!std::isfinite(lng) || !std::isfinite(lat)) throw ArchiveError("sound shape position is not a number");
  points_.assign(1, ShapePoint{lng, lat});
  Touch();
  path_ = std::move(path);
  CreateSoundBuffer();
}

void CSoundShape::StoreFields(ArchiveWriter& ar) const { ar.RawString(path_); }

void CSoundShape::LoadFields(ArchiveReader& ar, int) {
  path_ = ar.RawString();
  CreateSoundBuffer();
}

bool CSoundShape::LoadStored(const std::vector<uint8_t>& bytes, std::string* error) {
  try {
    ArchiveReader ar(bytes);
    Serialize(ar);
    return true;
  } catch (const ArchiveError& e) {
    if (error) *error = e.what();
    return false;
  }
}

bool CSoundShape::CreateSoundBuffer(std::string* error) {
  if (buffer_) {
    buffer_->Stop();
    buffer_.reset();
  }
  std::string why;
  WaveData wave;
  if (path_.empty()) {
    why = "no sound file";
  } else if (ReadWaveFile(path_, &wave, &why)) {
    buffer_ = SoundDevice().CreateBuffer(wave, kSoundPositional, &why);
    if (buffer_ && (!buffer_->SetCurrentPosition(0) || !buffer_->Play(true))) {
      why = "the sound cannot be played";
      buffer_.reset();
    }
  }
  if (buffer_) return true;
  AppLog("sound shape: %s: %s", path_.c_str(), why.c_str());
  if (error) *error = why;
  return false;
}

bool CSoundShape::IsPlaying() const { return buffer_ && (buffer_->GetStatus() & kSoundPlaying); }

void CSoundShape::Draw(CGraphics& g, const CMapProjector& p) const {
  if (!IsShownAtZoom(p.Zoom()) || points_.empty()) return;
  const PixelPoint at = p.ToScreen(points_[0].lng, points_[0].lat);
  screen_x_ = static_cast<float>(std::clamp(at.x, -1e9, 1e9));
  screen_y_ = static_cast<float>(std::clamp(at.y, -1e9, 1e9));
  PlaceSound(p.Width(), p.Height());
  if (at.x < -64 || at.y < -64 || at.x > p.Width() + 64 || at.y > p.Height() + 64) return;
  Draw(g);
}

void CSoundShape::Draw(CGraphics& g) const {
  const CBitmap& icon = Icon();
  if (!icon.IsEmpty()) {
    g.DrawImage(icon, screen_x_ - 14.0f, screen_y_ - 31.0f);
    return;
  }
  Pen pen;
  pen.color = kFallbackColor;
  pen.width = 2.0f;
  g.DrawEllipse(pen, GfxRect{screen_x_ - 2.5f, screen_y_ - 2.5f, 5.0f, 5.0f});
}

bool CSoundShape::HitTest(const CMapProjector& p, double x, double y, double tolerance) const {
  if (!IsShownAtZoom(p.Zoom()) || points_.empty() || !std::isfinite(x) || !std::isfinite(y)) return false;
  const PixelPoint at = p.ToScreen(points_[0].lng, points_[0].lat);
  const CBitmap& icon = Icon();
  const double w = icon.IsEmpty() ? 5 : icon.Width(), h = icon.IsEmpty() ? 5 : icon.Height();
  const double left = icon.IsEmpty() ? at.x - 2.5 : at.x - 14, top = icon.IsEmpty() ? at.y - 2.5 : at.y - 31;
  return x >= left - tolerance && x <= left + w + tolerance && y >= top - tolerance && y <= top + h + tolerance;
}

bool CSoundShape::ExportKml(FILE* file) const {
  if (!file || points_.empty()) return false;
  const std::string text = "<Placemark><name>" + KmlEscape(GetInfoText().empty() ? Name() : GetInfoText()) +
                           "</name><description>" + KmlEscape(path_) + "</description><Point><coordinates>" +
                           KmlCoordinates(points_, false) + "</coordinates></Point></Placemark>\n";
  return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

void CSoundShape::UpdateBounds() {
  double mid = std::floor((double(min_zoom) + double(max_zoom)) / 2.0);
  if (!std::isfinite(mid)) mid = 0;
  const int z = static_cast<int>(std::clamp(mid, 0.0, 30.0));
  const double n = 256.0 * std::ldexp(1.0, z);
  const double span = 360.0 / n * 10.0;
  bounds_.west = Longitude() - span / 2;
  bounds_.east = Longitude() + span / 2;
  bounds_.top = Latitude();
  bounds_.bottom = Latitude() - span;
}

SoundShapeRect CSoundShape::GetBoundRect() const {
  auto trunc = [](float v) { return static_cast<int>(std::clamp(v, -1e9f, 1e9f)); };
  return SoundShapeRect{trunc(screen_x_), trunc(screen_y_), trunc(screen_x_ + 32.0f), trunc(screen_y_ + 32.0f)};
}

}  // namespace velmora
