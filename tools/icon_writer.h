// The common end of the icon drawing tools: a list of named square pictures, each drawn by a
// function on a transparent bitmap and written as a PNG file into the folder named on the
// command line.
#pragma once
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/graphics.h"
#include "platform/gfx/image_codec.h"

namespace velmora::tools {

struct Icon {
  std::string name;  // file name in the folder
  int size;          // width and height in pixels
  std::function<void(CGraphics&)> draw;
};

// `program <folder>`: draws every icon into the folder. 0 when all were written, 2 on a wrong
// command line, 1 when a picture could not be made or written.
inline int WriteIcons(int argc, char** argv, const char* program, const std::vector<Icon>& icons) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", program);
    return 2;
  }
  std::string folder = argv[1];
  if (!folder.empty() && folder.back() != '/') folder += '/';
  for (const Icon& icon : icons) {
    CBitmap bitmap;
    if (!bitmap.Create(icon.size, icon.size)) return 1;
    {
      CGraphics g(bitmap);
      icon.draw(g);
    }
    if (!SaveImageFile(bitmap, folder + icon.name, ImageType::kPng)) {
      std::fprintf(stderr, "cannot write %s%s\n", folder.c_str(), icon.name.c_str());
      return 1;
    }
  }
  return 0;
}

}  // namespace velmora::tools
