// Imaging helpers of exports and tiles: the encoder table by extension and MIME type, saving with
// the JPEG quality option, world files and projection side files of exported pictures, the EXIF
// text properties and the program-icon stamp of exported pictures.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "core/text_style.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/font.h"
#include "platform/gfx/graphics.h"
#include "platform/gfx/image_codec.h"

namespace velmora {

// MIME type of the encoder for an image extension (with or without the dot, any case): "bmp" ->
// "image/bmp", "jpg"/"jpeg" -> "image/jpeg", "gif" -> "image/gif", "tif"/"tiff" -> "image/tiff",
// "png" -> "image/png"; "" for an extension no encoder writes.
std::string ImageTypeToMime(std::string_view extension);

// Index of the encoder for a MIME type in the encoder table (0 bmp, 1 jpeg, 2 gif, 3 tiff,
// 4 png), or -1; the encoder itself in *type when given.
int GetEncoderClsid(std::string_view mime, ImageType* type = nullptr);

// World-file extension of an image extension: bmp -> bmw, jpg -> jpw, gif -> gfw, tif -> tfw,
// png -> pnw; "" for any other (no world file is written then).
std::string WorldFileExt(std::string_view image_extension);
// The image path with its extension replaced by the world-file extension; "" when none.
std::string WorldFilePath(const std::string& image_path);

// Writes a world file: the six values, one per line as "%.17f", in world-file order: pixel
// width, row rotation, column rotation, pixel height (negative for north-up), x and y of the
// centre of the top-left pixel. Written atomically; false (reason in *error) on failure or when a
// value is not finite.
bool WriteWorldFile(const std::string& path, const double values[6], std::string* error = nullptr);

// Writes the projection side files of an exported picture in spherical (Web) Mercator metres:
// "<path without extension>.prj" (ESRI WKT) and "<path>.aux.xml" (the GDAL PAM file with the
// EPSG:3857 definition). False (reason in *error) when either cannot be written.
bool WriteProjSideFiles(const std::string& image_path, std::string* error = nullptr);

// Sets the EXIF ASCII properties 33432 (copyright), 271 (make), 272 (model) and 36867 (date and
// time taken, local time "YYYY:MM:DD HH:MM:SS") of an exported picture; the JPEG and TIFF encoders
// write them.
void StampImageProperties(CBitmap& image);

// Draws the program icon (images/icon.png of the program folder, with the colour key 0xFFFEFEFE
// to 0xFFFFFFFF transparent) on an exported picture of tiles_across x tiles_down tiles: once in
// the centre of the picture when the program setting "StampMode" is 1, else in the centre of each
// tile. False when the icon cannot be loaded (nothing drawn).
bool StampLogo(CGraphics& graphics, int tiles_across, int tiles_down);
bool StampLogo(CBitmap& image, int tiles_across, int tiles_down);

// The program icon, loaded once (empty when the file is missing or unreadable). Thread-safe.
const CBitmap& ProgramIcon();

// Encodes with the encoder of the MIME type and the JPEG quality option (AppOptions()).
bool EncodeImageByMime(const CBitmap& image, std::string_view mime, std::vector<uint8_t>* out,
                       std::string* error = nullptr);
// Saves with the encoder of the path's extension and the JPEG quality option.
bool SaveImageByExtension(const CBitmap& image, const std::string& path, std::string* error = nullptr);
// Saves with the encoder of the MIME type (whatever the path's extension) and the quality option.
bool SaveImageByMime(const CBitmap& image, const std::string& path, std::string_view mime,
                     std::string* error = nullptr);

// The font of a text style: its face, its size in points at 96 dots per inch, its style bits.
CFont FontFromTextStyle(const CTextStyle& style);

}  // namespace velmora
