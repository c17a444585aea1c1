// Pictures that 3D and window tests render, saved as PNG files under the build tree
// (<build>/test-artefacts/<group>/<name>.png) so that a person can look at them.
#pragma once
#include "velmora_build_paths.h"
#include <filesystem>
#include <string>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"

namespace velmora::test {

inline std::string SaveTestArtefact(const CBitmap& picture, const std::string& group, const std::string& name) {
  const std::string folder = std::string(VELMORA_BUILD_DIR) + "/test-artefacts/" + group + "/";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  const std::string path = folder + name + ".png";
  return SaveImageFile(picture, path, ImageType::kPng) ? path : std::string();
}

}  // namespace velmora::test
