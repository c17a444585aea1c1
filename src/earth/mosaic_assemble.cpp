// Joining the shots of a snapshot mosaic, in memory or through a mapped BMP.
#include "earth/mosaic_assemble.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <filesystem>
#include <optional>
#include <vector>

#include "core/imaging.h"
#include "core/log.h"
#include "core/mapped_image_file.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"

namespace velmora {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string ExtensionOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return Lower(path.substr(dot + 1));
}

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  AppLog("mosaic: %s", why.c_str());
  return false;
}

// Which shots exist: for each row the count of its shots (0..n-1 all present), after checking
// that no row has a gap.
bool SurveyShots(const std::string& folder, const std::string& prefix, int columns, int rows,
                 std::vector<int>* row_lengths, std::string* error) {
  std::error_code ec;
  row_lengths->assign(static_cast<size_t>(rows), 0);
  for (int r = 0; r < rows; ++r) {
    int length = 0;
    bool ended = false;
    for (int c = 0; c < columns; ++c) {
      const bool present = std::filesystem::is_regular_file(MosaicShotPath(folder, prefix, c, r), ec);
      if (present && ended) return Fail(error, "shot " + MosaicShotPath(folder, prefix, c, r) + " follows a missing one");
      if (present)
        ++length;
      else
        ended = true;
    }
    if (length == 0) return Fail(error, "row " + std::to_string(r) + " has no shots");
    (*row_lengths)[static_cast<size_t>(r)] = length;
  }
  return true;
}

std::string TempPathFor(const std::string& path) {
  static int counter = 0;
  return path + ".part" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

}  // namespace

std::string MosaicShotPath(const std::string& folder, const std::string& prefix, int column, int row) {
  char name[64];
  std::snprintf(name, sizeof name, "_%d_%d.tmp", column, row);
  return folder + prefix + name;
}

MosaicResult MosaicAssemble(const std::string& output_path, const std::string& prefix, int columns, int rows,
                            const MosaicAssembleOptions& options, std::string* written_path, std::string* error) {
  if (columns < 1 || rows < 1 || columns > 100000 || rows > 100000) {
    Fail(error, "no shots to join");
    return MosaicResult::kFailed;
  }
  std::vector<int> lengths;
  if (!SurveyShots(options.folder, prefix, columns, rows, &lengths, error)) return MosaicResult::kFailed;
  // The longest row sets the width; the counted columns may exceed every row (the count came from
  // projected sizes), and then the picture ends where the longest row does.
  int width_in_shots = 0;
  for (int n : lengths) width_in_shots = std::max(width_in_shots, n);
  for (int r = 0; r < rows; ++r)
    if (lengths[static_cast<size_t>(r)] < width_in_shots)
      AppLog("mosaic: row %d has %d of %d shots; the rest stays blank", r, lengths[static_cast<size_t>(r)], width_in_shots);

  CBitmap first;
  std::string why;
  if (!LoadImageFile(MosaicShotPath(options.folder, prefix, 0, 0), &first, &why)) {
    Fail(error, "shot 0_0 cannot be read: " + why);
    return MosaicResult::kFailed;
  }
  const int64_t w = first.Width(), h = first.Height();
  const int64_t out_w = w * width_in_shots, out_h = h * rows;
  std::string path = output_path;
  std::string ext = ExtensionOf(path);
  const ImageType type = ImageTypeFromExtension(ext);
  if (type == ImageType::kUnknown) {
    Fail(error, "no image encoder for " + output_path);
    return MosaicResult::kFailed;
  }
  const bool fits = uint64_t(out_w) * uint64_t(out_h) * 4 <= options.memory_limit && out_w <= CBitmap::kMaxSide &&
                    out_h <= CBitmap::kMaxSide && (type != ImageType::kJpeg || (out_w <= kJpegMaxSide && out_h <= kJpegMaxSide));
  const int total = width_in_shots * rows;
  int done = 0;
  // Every shot but 0_0, decoded and checked; `use` draws it.
  auto each_shot = [&](const std::function<bool(const CBitmap&, int, int)>& use) -> bool {
    for (int c = 0; c < width_in_shots; ++c)
      for (int r = 0; r < rows; ++r) {
        if (c >= lengths[static_cast<size_t>(r)]) continue;
        CBitmap loaded;
        const CBitmap* shot = &first;
        if (c != 0 || r != 0) {
          if (!LoadImageFile(MosaicShotPath(options.folder, prefix, c, r), &loaded, &why))
            return Fail(error, "shot " + std::to_string(c) + "_" + std::to_string(r) + " cannot be read: " + why);
          shot = &loaded;
        }
        if (shot->Width() != w || shot->Height() != h)
          return Fail(error, "shot " + std::to_string(c) + "_" + std::to_string(r) + " is " + std::to_string(shot->Width()) +
                                 " x " + std::to_string(shot->Height()) + ", not " + std::to_string(w) + " x " +
                                 std::to_string(h));
        if (!use(*shot, c, r)) return false;
        if (options.progress) options.progress(++done, total);
      }
    return true;
  };

  if (fits) {
    CBitmap picture;
    if (!picture.Create(static_cast<int>(out_w), static_cast<int>(out_h), 0xFFFFFFFFu)) {
      Fail(error, "no memory for the picture");
      return MosaicResult::kFailed;
    }
    const bool drawn = each_shot([&](const CBitmap& shot, int c, int r) {
      for (int y = 0; y < h; ++y)
        std::copy(shot.Row(y), shot.Row(y) + w, picture.Row(static_cast<int>(r * h + y)) + c * w);
      return true;
    });
    if (!drawn) return MosaicResult::kFailed;
    if (type == ImageType::kJpeg || type == ImageType::kTiff) StampImageProperties(picture);
    EncodeOptions encode;
    encode.jpeg_quality = options.jpeg_quality;
    if (!SaveImageFile(picture, path, type, encode, &why)) {
      Fail(error, "the picture cannot be written: " + why);
      return MosaicResult::kFailed;
    }
    if (written_path) *written_path = path;
    return MosaicResult::kWritten;
  }

  if (ext != "bmp") {
    if (!options.ask_bmp || !options.ask_bmp()) return MosaicResult::kDeclined;
    path = path.substr(0, path.size() - 3) + "bmp";
  }
  // The mapped file is written in place, so it is made under a temporary name and renamed over
  // the output only when every shot is in.
  const std::string temp = TempPathFor(path);
  CMappedImageFile file;
  if (!file.Create(temp, out_w, out_h, &why)) {
    Fail(error, "the picture file cannot be created: " + why);
    return MosaicResult::kCreateFailed;
  }
  std::error_code ec;
  const bool drawn = each_shot([&](const CBitmap& shot, int c, int r) { return file.WriteRows(shot, c * w, r * h); });
  if (!drawn || !file.Close(&why)) {
    if (drawn) Fail(error, "the picture cannot be written: " + why);
    file.Close();
    std::filesystem::remove(temp, ec);
    return MosaicResult::kFailed;
  }
  std::filesystem::rename(temp, path, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    Fail(error, "the picture cannot be renamed to " + path);
    return MosaicResult::kFailed;
  }
  if (written_path) *written_path = path;
  return MosaicResult::kWritten;
}

}  // namespace velmora
