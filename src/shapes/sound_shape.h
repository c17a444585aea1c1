// CSoundShape: the map object "声音" (type 40027) that places a looping sound at a point of the
// map. It plays its wave file through the sound layer from the moment it is loaded (or its sound
// is set) until it is destroyed, heard from where it lies in the map window; it draws as the
// sound icon of the program folder ("images/sound.ico"), or a small red circle without it.
//
// The shape keeps to the operations the map's shape family gives every shape (type, info text,
// point, projection, stored form, drawing, bounds) so that it joins that family as it is.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/archive.h"
#include "platform/gfx/bitmap.h"
#include "platform/sound/sound_device.h"

namespace velmora {

class CGraphics;

inline constexpr int kSoundShapeType = 40027;
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

class CSoundShape {
 public:
  CSoundShape();
  // Stops and releases the sound.
  ~CSoundShape();
  CSoundShape(const CSoundShape&) = delete;
  CSoundShape& operator=(const CSoundShape&) = delete;

  int GetType() const { return kSoundShapeType; }
  // The sound file's name: the path after its last '/' (or '\').
  std::string GetInfoText() const;

  // The shape's position; false (nothing changes) for a point that is not finite or lies beyond
  // the poles or ±540 degrees of longitude.
  bool AddPoint(float lng, float lat);
  float Longitude() const { return lng_; }
  float Latitude() const { return lat_; }

  // The window pixel at which the view projects the position, and the window's size: the
  // screen position the shape draws at, and where the sound is heard from (the window's centre
  // at full volume, panned toward the side it lies on, fading outside the window).
  void ProjectPoints(float screen_x, float screen_y, int window_width, int window_height);
  float ScreenX() const { return screen_x_; }
  float ScreenY() const { return screen_y_; }

  // The sound file; the sound starts (CreateSoundBuffer).
  bool SetSoundPath(const std::string& path, std::string* error = nullptr);
  const std::string& SoundPath() const { return path_; }

  // Stored form: the position (two floats) and the path (a GBK string). Loading reads the same
  // and starts the sound; a sound file that cannot be played leaves the shape silent, which does
  // not fail the load. Inside the shape family's loader, damaged bytes throw ArchiveError and
  // leave the shape as it was; LoadStored is the same for a caller outside it (false, with the
  // reason in *error).
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
  // red circle at the position without the icon.
  void Draw(CGraphics& g) const;
  // The box around the point that 10 x 10 pixels take at the middle of the shape's zoom range:
  // with z = (min + max) / 2 truncated and n = 256·2^z, w = 360 / n × 10 / 2 degrees east and
  // west of the point, from the point's latitude down by 360 / n × 10 degrees.
  void UpdateBounds();
  const SoundShapeBounds& Bounds() const { return bounds_; }
  // (screen x, screen y) to (screen x + 32, screen y + 32), truncated.
  SoundShapeRect GetBoundRect() const;

  // The zoom range in which the shape shows (the shape family's display levels).
  float min_zoom = 0.0f;
  float max_zoom = 30.0f;

  // The shared icon, loaded once from the program folder; empty when it cannot be read.
  static const CBitmap& Icon();

 private:
  float lng_ = 0;
  float lat_ = 0;
  std::string path_;
  float screen_x_ = 0;
  float screen_y_ = 0;
  std::unique_ptr<CSoundBuffer> buffer_;
  SoundShapeBounds bounds_;
};

// The pictures of an icon file (.ico): the largest image it holds, from a PNG entry or a 32-bit
// or 24-bit bitmap entry. False (reason in *error) for anything else; checked against the bytes.
bool DecodeIconFile(const uint8_t* data, size_t size, CBitmap* out, std::string* error = nullptr);

}  // namespace velmora
