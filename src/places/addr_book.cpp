// The address book's records, list file and cards.
#include "places/addr_book.h"

#include <filesystem>

#include "core/log.h"
#include "core/settings.h"

namespace velmora {

void AddrBookRecord::Serialize(ArchiveWriter& ar) const {
  ar.String(name);
  ar.String(contact);
  ar.String(picture);
  ar.String(group);
  ar.String(note);
}

void AddrBookRecord::Serialize(ArchiveReader& ar) {
  name = ar.String();
  contact = ar.String();
  picture = ar.String();
  group = ar.String();
  note = ar.String();
}

// ---- the list file ------------------------------------------------------------------------

std::vector<uint8_t> CAddrBookFile::Encode(const std::vector<AddrBookRecord>& records) {
  ArchiveWriter ar;
  ar.U32(static_cast<uint32_t>(records.size()));
  for (const auto& r : records) r.Serialize(ar);
  return ar.Bytes();
}

std::vector<AddrBookRecord> CAddrBookFile::Decode(const std::vector<uint8_t>& bytes) {
  ArchiveReader ar(bytes);
  uint32_t count = ar.Count(5);  // five strings of at least their length byte each
  std::vector<AddrBookRecord> records(count);
  for (auto& r : records) r.Serialize(ar);
  if (!ar.AtEnd()) throw ArchiveError("bytes after the last entry");
  return records;
}

ArchiveLoad CAddrBookFile::Load(std::vector<AddrBookRecord>& out) {
  damaged_ = false;
  error_.clear();
  std::vector<AddrBookRecord> read;
  ArchiveLoad result = LoadArchiveFile(
      path_,
      [&](ArchiveReader& ar) {
        std::vector<uint8_t> bytes(ar.Remaining());
        if (!bytes.empty()) ar.Raw(bytes.data(), bytes.size());
        read = Decode(bytes);
      },
      &error_);
  if (result == ArchiveLoad::kDamaged) damaged_ = true;
  if (result == ArchiveLoad::kOk) out.insert(out.end(), read.begin(), read.end());
  return result;
}

bool CAddrBookFile::SaveOnClose(const std::vector<AddrBookRecord>& records, bool modified) {
  std::error_code ec;
  if (damaged_) {
    // The list shown was not the file's: the file stays unless the person changed the list.
    if (!modified) return true;
    std::filesystem::copy_file(path_, path_ + ".damaged", std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) {
      AppLog("%s cannot be kept as %s.damaged (%s); it is left as it was", path_.c_str(), path_.c_str(),
             ec.message().c_str());
      return false;
    }
    AppLog("%s could not be read; it is kept as %s.damaged", path_.c_str(), path_.c_str());
  }
  if (records.empty()) {
    std::filesystem::remove(path_, ec);
    damaged_ = false;
    return !ec;
  }
  if (!modified) return true;
  ArchiveWriter ar;
  ar.Bytes() = Encode(records);
  std::string why;
  if (!ar.SaveToFile(path_, &why)) return false;
  damaged_ = false;
  return true;
}

std::string AddrBookPath() { return ResolveFolders().data + kAddrBookFileName; }

// ---- cards ----------------------------------------------------------------------------------

std::string HtmlEscapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\'': out += "&#39;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string HtmlUnescapeText(std::string_view text) {
  static constexpr std::pair<std::string_view, char> kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&#39;", '\''}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    bool done = false;
    if (text[i] == '&') {
      for (const auto& [entity, c] : kEntities) {
        if (text.substr(i, entity.size()) == entity) {
          out += c;
          i += entity.size();
          done = true;
          break;
        }
      }
    }
    if (!done) out += text[i++];
  }
  return out;
}

namespace {

void ReplaceAll(std::string& text, std::string_view from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// Where one card's three values lie in a text (offsets of the value's first byte and its end).
struct CardSpans {
  size_t pic_begin, pic_end, name_begin, name_end, addr_begin, addr_end;
};

// The value spans of the card whose search starts at `from`; false when a marker or a
// delimiter is missing.
bool FindCardSpans(std::string_view text, size_t from, CardSpans& s) {
  constexpr auto npos = std::string_view::npos;
  size_t at = text.find("<!PIC>", from);
  if (at == npos) return false;
  at = text.find("src='", at + 6);
  if (at == npos) return false;
  s.pic_begin = at + 5;
  s.pic_end = text.find('\'', s.pic_begin);
  if (s.pic_end == npos) return false;
  at = text.find("<!NAME>", s.pic_end + 1);
  if (at == npos) return false;
  s.name_begin = at + 7;
  s.name_end = text.find('<', s.name_begin);
  if (s.name_end == npos) return false;
  at = text.find("<!ADDR>", s.name_end);
  if (at == npos) return false;
  s.addr_begin = at + 7;
  s.addr_end = text.find('<', s.addr_begin);
  return s.addr_end != npos;
}

// Removes the cards starting at or after `from`: each from its marker through its "</table>"
// (the end of the text when it has none) and a "\r\n" right after it.
void RemoveCards(std::string& text, size_t from) {
  for (size_t at = text.find(kCardMarker, from); at != std::string::npos; at = text.find(kCardMarker, at)) {
    size_t end = text.find("</table>", at);
    end = end == std::string::npos ? text.size() : end + 8;
    if (text.compare(end, 2, "\r\n") == 0) end += 2;
    text.erase(at, end - at);
  }
}

}  // namespace

std::string FillAddressCard(const AddrBookRecord& record) {
  std::string card = kCardTemplate;
  ReplaceAll(card, "$$NAME$$", HtmlEscapeText(record.name));
  ReplaceAll(card, "$$ADDR$$", HtmlEscapeText(record.contact));
  ReplaceAll(card, "$$PIC$$", HtmlEscapeText(record.picture));
  return card;
}

size_t ParseAddressCard(std::string_view text, std::vector<AddrBookRecord>& records) {
  size_t count = 0;
  CardSpans s;
  for (size_t pos = 0; FindCardSpans(text, pos, s); pos = s.addr_end) {
    AddrBookRecord r;
    r.picture = HtmlUnescapeText(text.substr(s.pic_begin, s.pic_end - s.pic_begin));
    r.name = HtmlUnescapeText(text.substr(s.name_begin, s.name_end - s.name_begin));
    r.contact = HtmlUnescapeText(text.substr(s.addr_begin, s.addr_end - s.addr_begin));
    records.push_back(std::move(r));
    ++count;
  }
  return count;
}

bool UpdateCardsInText(std::string& text, const std::vector<AddrBookRecord>& records) {
  std::string copy = text;
  size_t pos = 0;
  size_t placed = 0;
  for (; placed < records.size(); ++placed) {
    size_t at = copy.find(kCardMarker, pos);
    if (at == std::string::npos) break;
    CardSpans s;
    if (!FindCardSpans(copy, at, s)) return false;
    const AddrBookRecord& r = records[placed];
    // Back to front, so that the earlier offsets stay right.
    std::string addr = HtmlEscapeText(r.contact);
    std::string name = HtmlEscapeText(r.name);
    std::string pic = HtmlEscapeText(r.picture);
    copy.replace(s.addr_begin, s.addr_end - s.addr_begin, addr);
    copy.replace(s.name_begin, s.name_end - s.name_begin, name);
    copy.replace(s.pic_begin, s.pic_end - s.pic_begin, pic);
    // Behind the new address: its start moved by the growth of the picture path and the name.
    pos = s.addr_begin + addr.size() + name.size() + pic.size() - (s.name_end - s.name_begin) -
          (s.pic_end - s.pic_begin);
  }
  if (placed < records.size()) {
    for (; placed < records.size(); ++placed) copy += "\r\n" + FillAddressCard(records[placed]);
  } else {
    RemoveCards(copy, pos);
  }
  if (copy == text) return false;
  text = std::move(copy);
  return true;
}

}  // namespace velmora
