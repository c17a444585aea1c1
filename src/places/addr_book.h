// The address book's domain: one contact (AddrBookRecord), the list file "addrboook.dat" and the
// HTML cards that contacts become in a mark's pop-up (fill, parse, rewrite in a text).
//
// File "addrboook.dat" (archive stream): u32 count; then per entry five strings (GBK, length
// prefixed): name, contact, picture path, group, note. The marked flag is not stored.
//
// A card is the fragment kCardTemplate with its three values filled in. Values are HTML-escaped
// when filled (&, <, >, ', ") and unescaped when parsed, so that a "<" in a name neither cuts the
// name at parsing nor becomes markup in the pop-up; values without those characters give the
// same bytes as a plain fill.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/archive.h"
#include "places/data_object.h"

namespace velmora {

struct AddrBookRecord : public CDataObject {
  std::string name;     // "姓名"
  std::string contact;  // "联系方式" (the card's address)
  std::string group;    // "组别"
  std::string note;     // "备注"
  std::string picture;  // "照片": picture path
  uint32_t marked = 0;  // "已标注" while non-zero; not stored

  AddrBookRecord() = default;
  AddrBookRecord(std::string name_, std::string contact_, std::string picture_)
      : name(std::move(name_)), contact(std::move(contact_)), picture(std::move(picture_)) {}

  // The five strings in file order (name, contact, picture, group, note).
  void Serialize(ArchiveWriter& ar) const override;
  void Serialize(ArchiveReader& ar) override;

  // True when name, contact and note are all empty (such an entry is dropped by the editor).
  bool IsBlank() const { return name.empty() && contact.empty() && note.empty(); }
  // Name, contact and picture equal (the marked check).
  bool SameCard(const AddrBookRecord& other) const {
    return name == other.name && contact == other.contact && picture == other.picture;
  }
};

inline constexpr const char* kAddrBookFileName = "addrboook.dat";
inline constexpr const char* kCardTemplate =
    "<!ADDRBOOK><table><tr><td width=180 rowspan=2><!PIC><img width=180 src='$$PIC$$'></td><td "
    "width=150><font color=#000000 size=7><!NAME>$$NAME$$</font></td></tr><tr><td width=150><font "
    "color=#0000ff><!ADDR>$$ADDR$$</font></td></tr></table>";
inline constexpr const char* kCardMarker = "<!ADDRBOOK>";

// The list file of file mode. Load remembers whether the file could be read, so that Save never
// replaces a file that was damaged unless the list was changed, and then keeps the damaged bytes
// as "<path>.damaged" first. Writes go to a temporary file renamed over the old one.
class CAddrBookFile {
 public:
  explicit CAddrBookFile(std::string path) : path_(std::move(path)) {}
  const std::string& Path() const { return path_; }

  // Reads the entries (all or none: a damaged file appends nothing). kMissing and kDamaged leave
  // `out` as it was; the reason of a damage is in LastError().
  ArchiveLoad Load(std::vector<AddrBookRecord>& out);
  bool WasDamaged() const { return damaged_; }
  const std::string& LastError() const { return error_; }

  // Closing the list: an empty list deletes the file; otherwise the file is rewritten when
  // `modified`. A file that could not be read is left alone unless `modified`, and is then
  // copied to "<path>.damaged" before it is deleted or replaced. False when a write failed (the
  // old file is then untouched).
  bool SaveOnClose(const std::vector<AddrBookRecord>& records, bool modified);

  // The stored bytes of a list.
  static std::vector<uint8_t> Encode(const std::vector<AddrBookRecord>& records);
  // Throws ArchiveError when the bytes are not a whole list (counts checked against the bytes
  // left, nothing may follow the last entry).
  static std::vector<AddrBookRecord> Decode(const std::vector<uint8_t>& bytes);

 private:
  std::string path_;
  bool damaged_ = false;
  std::string error_;
};

// "<data folder>addrboook.dat".
std::string AddrBookPath();

// HTML text escaping of the card values (&, <, >, ', ") and its inverse (the five entities and
// "&apos;"; anything else is kept as it is).
std::string HtmlEscapeText(std::string_view text);
std::string HtmlUnescapeText(std::string_view text);

// The card of one entry: kCardTemplate with the escaped name, contact and picture path.
std::string FillAddressCard(const AddrBookRecord& record);

// Appends one record (name, contact, picture; group and note empty) per complete card of the
// text, in order; an incomplete card ends the parse. Returns how many were appended.
size_t ParseAddressCard(std::string_view text, std::vector<AddrBookRecord>& records);

// Rewrites the cards of `text` so that they carry the records' values: the n-th card takes the
// n-th record, records beyond the cards are appended as new cards each after "\r\n", and cards
// beyond the records are removed (each up to its "</table>", or the end when it has none, and a
// "\r\n" right after it; what follows is kept). No records removes every card and keeps the rest
// of the text. A card whose markers are incomplete leaves the text unchanged (false). True when the text changed.
bool UpdateCardsInText(std::string& text, const std::vector<AddrBookRecord>& records);

}  // namespace velmora
