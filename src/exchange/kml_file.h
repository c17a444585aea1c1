// KML files written by the exports: the document frame (OpenKmlFile / CloseKmlFile) around the
// placemarks that callers write into the handle, and the escaping of text for KML. KML is XML in
// UTF-8; every text that comes from a user or a file goes through KmlEscape.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/gfx/bitmap.h"

namespace velmora {

// Opens a KML file for writing and writes the XML declaration, "<kml ...><Document>" and the
// document's "<name>" (by default the file's name without its extension), escaped. What the
// caller writes into the handle is kept in memory and reaches `path` when CloseKmlFile ends the
// document: the file is written whole to a temporary file and renamed over the old one, so an
// export that stops half way leaves the old file as it was. Null (reason in *error) when the
// file cannot be created: its folder is missing or not writable, or the path is a folder.
FILE* OpenKmlFile(const std::string& path, std::string_view document_name = {}, std::string* error = nullptr);

// Writes "</Document></kml>", closes the handle and writes the file. Each handle is closed
// exactly once: null or a handle that OpenKmlFile did not open (or that is already closed) gives
// false and is not touched. False as well (reason in *error) when the file could not be written;
// the old file is then untouched.
bool CloseKmlFile(FILE* file, std::string* error = nullptr);

// Text for KML element content and attribute values: & < > " ' become entities; bytes that are
// not UTF-8 become U+FFFD; characters that XML 1.0 forbids (controls other than tab, line feed
// and carriage return, U+FFFE, U+FFFF) are dropped.
std::string KmlEscape(std::string_view text);

// A colour in KML's order: "%08x" of alpha, blue, green, red (defined in shapes/map_shape.cpp).
std::string KmlColor(Argb color);

}  // namespace velmora
