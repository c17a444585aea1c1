// CKmlPlaceReader: reads the placemarks of an administrative-place KML file, one place at a time,
// for the place-name import. It scans the text for the few elements it needs rather than parsing
// the XML as a whole, so damaged or unusual files are read as far as they make sense:
//   the first <name> of the file         the document's name (the province);
//   <Placemark> ... </Placemark>          one place; everything below is read inside it only:
//     <name>                              the place's name (the first one of the placemark);
//     <styleUrl>                          its level by style name: the text after the first ':',
//                                         then after the last '#' ("#city", "s:county");
//     <north> <south> <east> <west>       its box (of a LatLonAltBox, in any order);
//     <coordinates>                       its position: the first "longitude,latitude" pair.
// Each placemark starts with no name, level, box or position of its own. A placemark without
// coordinates is not a place. Texts are UTF-8 with entities and CDATA sections decoded; bytes
// that are not UTF-8 become U+FFFD and control characters are dropped. A position or box value
// that is not a finite number within ±180/±90 reads as 0 (for a box: the whole box).
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

struct KmlPlacemark {
  std::string name;   // UTF-8, blanks around removed; "" when the placemark has none
  std::string style;  // the style name as read; "" when none
  int level = 0;      // the level of the last recognised style name (PlaceLevelFromStyle), 0 none
  double lng = 0;
  double lat = 0;
  bool has_box = false;
  double north = 0, south = 0, east = 0, west = 0;
};

class CKmlPlaceReader {
 public:
  // Longest name or style kept (bytes); longer texts are cut at a character boundary.
  static constexpr size_t kMaxTextBytes = 1024;

  // `kml` must outlive the reader.
  explicit CKmlPlaceReader(std::string_view kml);

  // The text of the file's first <name> element; "" when it has none.
  const std::string& DocumentName() const { return document_name_; }
  // The next place; false at the end of the text.
  bool Next(KmlPlacemark* place);
  // How far the reader has come (bytes), for progress.
  size_t Position() const { return pos_; }
  size_t Size() const { return text_.size(); }

 private:
  struct Tag {
    std::string_view name;  // local name (a namespace prefix removed)
    bool closing = false;
    bool self_closing = false;
  };
  // The next tag from pos_ (comments, declarations and CDATA outside elements skipped); pos_
  // moves past it. False at the end.
  bool NextTag(Tag* tag);
  // The element's text from pos_ up to the next tag (entities and CDATA decoded).
  std::string ReadText();

  std::string_view text_;
  size_t pos_ = 0;
  std::string document_name_;
  bool in_placemark_ = false;
  KmlPlacemark current_;
  bool has_coordinates_ = false;
  int box_parts_ = 0;  // bits: north 1, south 2, east 4, west 8 (each read and valid)
};

}  // namespace velmora
