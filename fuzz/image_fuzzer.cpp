// Image decoders (BMP, JPEG with its EXIF block, GIF, TIFF, PNG) on arbitrary bytes: a picture
// that decodes must encode as PNG and decode back to the same size, alpha and opaque pixels
// (translucent colours may round through the premultiplied form).
#include "fuzz_support.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Setup();
  DecodeOptions options;
  options.max_pixels = uint64_t(1) << 22;  // small claims only: the fuzzer hunts faults, not memory
  CBitmap image;
  std::string error;
  if (!DecodeImage(data, size, &image, &error, options)) {
    FUZZ_CHECK(image.Width() == 0 && image.Height() == 0);
    return 0;
  }
  FUZZ_CHECK(image.Width() > 0 && image.Height() > 0);
  std::vector<uint8_t> png;
  FUZZ_CHECK(EncodeImage(image, ImageType::kPng, &png));
  CBitmap back;
  FUZZ_CHECK(DecodeImage(png, &back));
  FUZZ_CHECK(back.Width() == image.Width() && back.Height() == image.Height());
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      const Argb a = image.GetPixel(x, y), b = back.GetPixel(x, y);
      FUZZ_CHECK((a >> 24) == (b >> 24));
      if ((a >> 24) == 0xFF) FUZZ_CHECK(a == b);
    }
  }
  return 0;
}
