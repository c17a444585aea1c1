// EXIF blocks of JPEG files through libexif: the picture's text properties written as ASCII
// entries (EXIF-only tags in the EXIF directory, the rest in the first one) and read back.
#include <libexif/exif-data.h>

#include <cstdlib>
#include <cstring>

#include "platform/gfx/codecs_internal.h"

namespace velmora::gfx_internal {
namespace {

// Text tags of the EXIF directory (date taken 0x9003 and later); copyright (0x8298), make, model
// and the other TIFF tags belong to the first directory.
bool InExifDirectory(uint16_t tag) { return tag >= 0x9000; }

}  // namespace

std::vector<uint8_t> BuildExifBlock(const std::vector<ImageProperty>& properties) {
  std::vector<uint8_t> block;
  if (properties.empty()) return block;
  ExifMem* mem = exif_mem_new_default();
  ExifData* ed = exif_data_new_mem(mem);
  if (!ed) {
    exif_mem_unref(mem);
    return block;
  }
  // Only what the program sets: no mandatory entries are filled in behind its back.
  exif_data_unset_option(ed, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_set_byte_order(ed, EXIF_BYTE_ORDER_INTEL);
  exif_data_set_data_type(ed, EXIF_DATA_TYPE_COMPRESSED);
  for (const ImageProperty& p : properties) {
    ExifEntry* e = exif_entry_new_mem(mem);
    if (!e) continue;
    size_t n = p.value.size() + 1;
    auto* bytes = static_cast<unsigned char*>(exif_mem_alloc(mem, ExifLong(n)));
    if (!bytes) {
      exif_entry_unref(e);
      continue;
    }
    std::memcpy(bytes, p.value.c_str(), n);
    e->tag = static_cast<ExifTag>(p.id);
    e->format = EXIF_FORMAT_ASCII;
    e->components = n;
    e->size = static_cast<unsigned int>(n);
    e->data = bytes;
    exif_content_add_entry(ed->ifd[InExifDirectory(p.id) ? EXIF_IFD_EXIF : EXIF_IFD_0], e);
    exif_entry_unref(e);
  }
  unsigned char* out = nullptr;
  unsigned int length = 0;
  exif_data_save_data(ed, &out, &length);
  if (out) {
    block.assign(out, out + length);
    exif_mem_free(mem, out);
  }
  exif_data_unref(ed);
  exif_mem_unref(mem);
  return block;
}

void ReadExifBlock(const uint8_t* data, size_t size, CBitmap* image) {
  ExifData* ed = exif_data_new();
  if (!ed) return;
  exif_data_unset_option(ed, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_load_data(ed, data, static_cast<unsigned int>(size));
  for (ExifIfd ifd : {EXIF_IFD_0, EXIF_IFD_EXIF}) {
    ExifContent* c = ed->ifd[ifd];
    if (!c) continue;
    for (unsigned i = 0; i < c->count; ++i) {
      ExifEntry* e = c->entries[i];
      if (e && e->format == EXIF_FORMAT_ASCII && e->data && e->size > 0)
        image->SetProperty(uint16_t(e->tag), PropertyText(reinterpret_cast<const char*>(e->data), e->size));
    }
  }
  exif_data_unref(ed);
}

}  // namespace velmora::gfx_internal
