// CSoundShape: the map object "声音" (type 40027) that places a looping sound at a point of the
// map. It plays its wave file through the sound layer from the moment it is loaded (or its sound
// is set) until it is destroyed, heard from where it lies in the map window; it draws as the
// sound icon of the program folder ("images/sound.ico"), or a small red circle without it.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/archive.h"
#include "platform/gfx/bitmap.h"
#include "platform/sound/sound_device.h"
#include "shapes/map_shape.h"

namespace velmora {

inline constexpr const char kSoundShapeName[] = "声音";
// The icon of sound shapes in the program folder.
inline constexpr const char kSoundIconFile[] = "images/sound.ico";

// A longitude/latitude box: west, east, the top (north) and bottom (south) latitude.
struct SoundShapeBounds {
  double west = 0, east = 0, top = 0, bottom = 0;
};
// A rectangle in window pixels.
struct SoundShapeRect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

class CSoundShape : public CMapShape {
 public:
  CSoundShape();
  // Stops and releases the sound.
  ~CSoundShape() override;

  // The sound file's name: the path after its last '/' (or '\').
  std::string GetInfoText() const;

  // The shape's position (replaces its one point); false (nothing changes) for a point that is
  // not finite or lies beyond the poles or ±540 degrees of longitude.
  bool AddPoint(float lng, float lat) override;
  float Longitude() const { return points_.empty() ? 0.0f : points_[0].lng; }
  float Latitude() const { return points_.empty() ? 0.0f : points_[0].lat; }

  // The window pixel at which the view projects the position, and the window's size: the
  // screen position the shape draws at, and where the sound is heard from (the window's centre
  // at full volume, panned toward the side it lies on, fading outside the window).
  void ProjectPoints(float screen_x, float screen_y, int window_width, int window_height);
  // The same through the view's projector.
  void ProjectPoints(const CMapProjector& p);
  float ScreenX() const { return screen_x_; }
  float ScreenY() const { return screen_y_; }

  // The sound file; the sound starts (CreateSoundBuffer).
  bool SetSoundPath(const std::string& path, std::string* error = nullptr);
  const std::string& SoundPath() const { return path_; }

  // The archive form of the shape: the position (two floats) and the path (a GBK string).
  // Loading reads the same and starts the sound; a sound file that cannot be played leaves the
  // shape silent, which does not fail the load. Damaged bytes throw ArchiveError (inside the
  // shapes' own loaders) and leave the shape as it was; LoadStored is the same for a caller
  // outside them (false, with the reason in *error). The family's stored form (Store,
  // FromStored) holds the path after the common fields.
  void Serialize(ArchiveWriter& ar) const;
  void Serialize(ArchiveReader& ar);
  bool LoadStored(const std::vector<uint8_t>& bytes, std::string* error = nullptr);

  // Opens the wave file at the path and plays it looping from its start on a positional buffer
  // of the program's sound device (a buffer held before is released first). False, with the
  // reason in *error and logged, when the file cannot be read or played: the shape is silent.
  bool CreateSoundBuffer(std::string* error = nullptr);
  CSoundBuffer* SoundBuffer() const { return buffer_.get(); }
  bool IsPlaying() const;

  // The icon with its top-left corner 14 pixels left of and 31 above the screen position; the
  // red circle at the position without the icon. The first form projects the position first
  // (and places the sound); nothing when the shape is hidden at the projector's zoom.
  void Draw(CGraphics& g, const CMapProjector& p) const override;
  void Draw(CGraphics& g) const;
  // The icon's area about the projected point.
  bool HitTest(const CMapProjector& p, double x, double y, double tolerance = kHitTolerance) const override;
  // A point placemark named after the sound file.
  bool ExportKml(FILE* file) const override;

  // The box around the point that 10 x 10 pixels take at the middle of the shape's zoom range:
  // with z = (min + max) / 2 truncated and n = 256·2^z, w = 360 / n × 10 / 2 degrees east and
  // west of the point, from the point's latitude down by 360 / n × 10 degrees.
  void UpdateBounds();
  const SoundShapeBounds& IconBounds() const { return bounds_; }
  // (screen x, screen y) to (screen x + 32, screen y + 32), truncated.
  SoundShapeRect GetBoundRect() const;

  // The shared icon, loaded once from the program folder; empty when it cannot be read.
  static const CBitmap& Icon();

 protected:
  void StoreFields(ArchiveWriter& ar) const override;
  void LoadFields(ArchiveReader& ar, int schema) override;

 private:
  void PlaceSound(int window_width, int window_height) const;

  std::string path_;
  mutable float screen_x_ = 0;
  mutable float screen_y_ = 0;
  std::unique_ptr<CSoundBuffer> buffer_;
  SoundShapeBounds bounds_;
};

// The pictures of an icon file (.ico): the largest image it holds, from a PNG entry or a 32-bit
// or 24-bit bitmap entry. False (reason in *error) for anything else; checked against the bytes.
bool DecodeIconFile(const uint8_t* data, size_t size, CBitmap* out, std::string* error = nullptr);

}  // namespace velmora
