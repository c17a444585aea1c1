// The placemark scanner of the place-name import.
#include "places/kml_place_reader.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "core/format.h"
#include "exchange/xml_text.h"
#include "places/place_record.h"
#include "platform/text.h"

namespace velmora {
namespace {

// Text kept of an element while scanning: enough for any name and for the first coordinate pair
// of a long coordinate list.
constexpr size_t kMaxScanBytes = 16 * 1024;

bool StartsAt(std::string_view text, size_t pos, std::string_view what) {
  return text.size() - pos >= what.size() && text.compare(pos, what.size(), what) == 0;
}

// Appends `chunk` with the five named entities and numeric references decoded; anything that is
// not a well-formed reference stays as it is.
void AppendDecoded(std::string_view chunk, std::string& out, size_t limit) {
  size_t i = 0;
  while (i < chunk.size() && out.size() < limit) {
    const char c = chunk[i];
    if (c != '&') {
      out.push_back(c);
      ++i;
      continue;
    }
    const size_t semi = chunk.find(';', i + 1);
    if (semi == std::string_view::npos || semi - i > 10) {
      out.push_back(c);
      ++i;
      continue;
    }
    const std::string_view ref = chunk.substr(i + 1, semi - i - 1);
    char32_t code = 0;
    bool ok = true;
    if (ref == "lt") code = '<';
    else if (ref == "gt") code = '>';
    else if (ref == "amp") code = '&';
    else if (ref == "quot") code = '"';
    else if (ref == "apos") code = '\'';
    else if (ref.size() >= 2 && ref[0] == '#') {
      const bool hex = ref[1] == 'x' || ref[1] == 'X';
      const std::string_view digits = ref.substr(hex ? 2 : 1);
      uint32_t value = 0;
      const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
      ok = !digits.empty() && ec == std::errc() && ptr == digits.data() + digits.size() && value != 0 &&
           value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
      code = value;
    } else {
      ok = false;
    }
    if (!ok) {
      out.push_back(c);
      ++i;
      continue;
    }
    AppendUtf8(out, code);
    i = semi + 1;
  }
}

// Valid UTF-8 without control characters, blanks around removed, at most `limit` bytes (cut at a
// character boundary).
std::string CleanText(std::string_view raw, size_t limit) {
  std::string s(TrimAscii(SanitizeXmlText(raw)));
  if (s.size() > limit) {
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    s.resize(cut);
  }
  // Line breaks inside a name read as blanks.
  for (char& c : s)
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  return s;
}

// A number at the front of `s` (after blanks and an optional '+'); advances `s` past it.
bool TakeNumber(std::string_view& s, double* value) {
  while (!s.empty() && IsAsciiSpace(s.front())) s.remove_prefix(1);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  const auto [ptr, ec] = FromCharsDouble(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || ptr == s.data()) return false;
  s.remove_prefix(static_cast<size_t>(ptr - s.data()));
  return true;
}

bool InRange(double v, double limit) { return std::isfinite(v) && v >= -limit && v <= limit; }

}  // namespace

CKmlPlaceReader::CKmlPlaceReader(std::string_view kml) : text_(kml) {
  // The document's name: the first <name> of the file.
  Tag tag;
  while (NextTag(&tag)) {
    if (tag.name == "name" && !tag.closing && !tag.self_closing) {
      document_name_ = CleanText(ReadText(), kMaxTextBytes);
      break;
    }
  }
  pos_ = 0;
}

bool CKmlPlaceReader::NextTag(Tag* tag) {
  const size_t size = text_.size();
  while (pos_ < size) {
    const size_t lt = text_.find('<', pos_);
    if (lt == std::string_view::npos) break;
    auto skip_to = [&](std::string_view end, size_t from) {
      const size_t at = text_.find(end, from);
      pos_ = at == std::string_view::npos ? size : at + end.size();
    };
    if (StartsAt(text_, lt, "<!--")) {
      skip_to("-->", lt + 4);
      continue;
    }
    if (StartsAt(text_, lt, "<![CDATA[")) {
      skip_to("]]>", lt + 9);
      continue;
    }
    if (StartsAt(text_, lt, "<?")) {
      skip_to("?>", lt + 2);
      continue;
    }
    if (StartsAt(text_, lt, "<!")) {
      skip_to(">", lt + 2);
      continue;
    }
    size_t p = lt + 1;
    tag->closing = p < size && text_[p] == '/';
    if (tag->closing) ++p;
    const size_t name_start = p;
    while (p < size && !IsAsciiSpace(text_[p]) && text_[p] != '>' && text_[p] != '/') ++p;
    std::string_view name = text_.substr(name_start, p - name_start);
    if (const size_t colon = name.rfind(':'); colon != std::string_view::npos) name.remove_prefix(colon + 1);
    tag->name = name;
    // The end of the tag; a '>' inside a quoted attribute value does not end it.
    char quote = 0;
    for (; p < size; ++p) {
      const char c = text_[p];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        break;
      }
    }
    if (p >= size) break;  // a tag cut off by the end of the text
    tag->self_closing = !tag->closing && text_[p - 1] == '/';
    pos_ = p + 1;
    return true;
  }
  pos_ = size;
  return false;
}

std::string CKmlPlaceReader::ReadText() {
  std::string raw;
  const size_t size = text_.size();
  while (pos_ < size) {
    const size_t lt = text_.find('<', pos_);
    const size_t end = lt == std::string_view::npos ? size : lt;
    AppendDecoded(text_.substr(pos_, end - pos_), raw, kMaxScanBytes);
    if (lt == std::string_view::npos) {
      pos_ = size;
      break;
    }
    if (StartsAt(text_, lt, "<![CDATA[")) {
      const size_t close = text_.find("]]>", lt + 9);
      const size_t stop = close == std::string_view::npos ? size : close;
      const std::string_view data = text_.substr(lt + 9, stop - (lt + 9));
      if (raw.size() < kMaxScanBytes) raw.append(data.substr(0, kMaxScanBytes - raw.size()));
      pos_ = close == std::string_view::npos ? size : close + 3;
      continue;
    }
    if (StartsAt(text_, lt, "<!--")) {
      const size_t close = text_.find("-->", lt + 4);
      pos_ = close == std::string_view::npos ? size : close + 3;
      continue;
    }
    pos_ = lt;  // the next tag (usually the element's end) is read by NextTag
    break;
  }
  return raw;
}

bool CKmlPlaceReader::Next(KmlPlacemark* place) {
  auto finish = [&] {
    if (box_parts_ != 15) {
      current_.has_box = false;
      current_.north = current_.south = current_.east = current_.west = 0;
    } else {
      current_.has_box = true;
    }
    *place = std::move(current_);
  };
  auto start = [&] {
    in_placemark_ = true;
    current_ = KmlPlacemark{};
    has_coordinates_ = false;
    box_parts_ = 0;
  };
  Tag tag;
  while (NextTag(&tag)) {
    if (tag.name == "Placemark") {
      if (tag.closing) {
        if (!in_placemark_) continue;
        in_placemark_ = false;
        if (has_coordinates_) {
          finish();
          return true;
        }
      } else if (!tag.self_closing) {
        // A placemark that was never closed ends where the next one begins.
        const bool pending = in_placemark_ && has_coordinates_;
        if (pending) finish();
        start();
        if (pending) return true;
      }
      continue;
    }
    if (!in_placemark_ || tag.closing || tag.self_closing) continue;
    if (tag.name == "name") {
      std::string name = CleanText(ReadText(), kMaxTextBytes);
      if (current_.name.empty()) current_.name = std::move(name);
    } else if (tag.name == "styleUrl") {
      const std::string text = ReadText();
      std::string_view style = TrimAscii(text);
      if (const size_t colon = style.find(':'); colon != std::string_view::npos) style.remove_prefix(colon + 1);
      if (const size_t hash = style.rfind('#'); hash != std::string_view::npos) style.remove_prefix(hash + 1);
      current_.style = CleanText(style, kMaxTextBytes);
      if (const int level = PlaceLevelFromStyle(current_.style); level != 0) current_.level = level;
    } else if (tag.name == "north" || tag.name == "south" || tag.name == "east" || tag.name == "west") {
      const bool latitude = tag.name == "north" || tag.name == "south";
      const int bit = tag.name == "north" ? 1 : tag.name == "south" ? 2 : tag.name == "east" ? 4 : 8;
      const std::string text = ReadText();
      std::string_view rest = text;
      double value = 0;
      const bool ok = TakeNumber(rest, &value) && TrimAscii(rest).empty() && InRange(value, latitude ? 90 : 180);
      if (!ok) {
        box_parts_ |= 16;  // a bad value spoils the whole box
        continue;
      }
      box_parts_ |= bit;
      (tag.name == "north" ? current_.north : tag.name == "south" ? current_.south
                                             : tag.name == "east"  ? current_.east
                                                                   : current_.west) = value;
    } else if (tag.name == "coordinates") {
      const std::string text = ReadText();
      if (has_coordinates_) continue;
      has_coordinates_ = true;
      std::string_view rest = text;
      double lng = 0, lat = 0;
      bool ok = TakeNumber(rest, &lng);
      rest = TrimAscii(rest);
      ok = ok && !rest.empty() && rest.front() == ',';
      if (ok) rest.remove_prefix(1);
      ok = ok && TakeNumber(rest, &lat) && InRange(lng, 180) && InRange(lat, 90);
      current_.lng = ok ? lng + 0.0 : 0;
      current_.lat = ok ? lat + 0.0 : 0;
    }
  }
  // The text ended inside a placemark that has its position.
  if (in_placemark_ && has_coordinates_) {
    in_placemark_ = false;
    finish();
    return true;
  }
  in_placemark_ = false;
  return false;
}

}  // namespace velmora
