// Fuzz entry point: loading an address record tree from arbitrary archive bytes. Whatever
// loads must store; once stored by us, a tree loads and stores again to the same bytes (the
// first pass may change keys that are not GBK, and merge keys that become equal).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/archive.h"
#include "places/address_record.h"

namespace {

std::vector<uint8_t> Store(const velmora::CAddressRecord& r) {
  velmora::ArchiveWriter ar;
  r.Serialize(ar);
  return ar.Bytes();
}

std::vector<uint8_t> Reload(const std::vector<uint8_t>& bytes) {
  velmora::CAddressRecord r;
  velmora::ArchiveReader reader(bytes);
  r.Serialize(reader);  // must not throw: these are our own bytes
  if (!reader.AtEnd()) __builtin_trap();
  return Store(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmora::CAddressRecord root("root");
  try {
    velmora::ArchiveReader reader(data, size);
    root.Serialize(reader);
  } catch (const velmora::ArchiveError&) {
    return 0;
  }
  const std::vector<uint8_t> second = Reload(Store(root));
  if (Reload(second) != second) __builtin_trap();
  return 0;
}
