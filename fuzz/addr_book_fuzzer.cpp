// Fuzz entry point: the address book's list file and its cards from arbitrary bytes.
// - As a list file: it reads whole or throws; once stored by us it reads and stores again to
//   the same bytes (the first pass may turn bytes that are not GBK into '?').
// - As a pop-up text: every parsed card, filled again, parses back to the same values (escaping
//   round-trips any bytes); rewriting the cards with the parsed values is idempotent: a second
//   rewrite with the same values changes nothing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "places/addr_book.h"

using velmora::AddrBookRecord;
using velmora::CAddrBookFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  try {
    std::vector<AddrBookRecord> records = CAddrBookFile::Decode(bytes);
    const std::vector<uint8_t> second = CAddrBookFile::Encode(CAddrBookFile::Decode(CAddrBookFile::Encode(records)));
    if (CAddrBookFile::Encode(CAddrBookFile::Decode(second)) != second) __builtin_trap();
  } catch (const velmora::ArchiveError&) {
  }

  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<AddrBookRecord> cards;
  velmora::ParseAddressCard(text, cards);
  for (const AddrBookRecord& card : cards) {
    std::vector<AddrBookRecord> again;
    if (velmora::ParseAddressCard(velmora::FillAddressCard(card), again) != 1 || !again[0].SameCard(card))
      __builtin_trap();
  }
  velmora::UpdateCardsInText(text, cards);
  const std::string once = text;
  if (velmora::UpdateCardsInText(text, cards) || text != once) __builtin_trap();
  return 0;
}
