// Fuzz entry point: the address library readers of the three geocoders on arbitrary bytes. The
// first byte picks the geocoder (8, 111, 112); the rest is the reply. Checked: one position per
// name path, no empty path or name, names in UTF-8, coordinates in the world, and the tree the
// results merge into reads back from its archive as it was written.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/archive.h"
#include "places/address_library.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static constexpr int kIds[] = {8, 111, 112};
  const int id = kIds[data[0] % 3];
  const std::string_view reply(reinterpret_cast<const char*>(data + 1), size - 1);
  velmora::CAddressGroup group;
  velmora::CAddressItem item;
  velmora::ParseLibraryReply(id, reply, 12, group, item);
  if (group.paths.size() != item.records.size()) __builtin_trap();
  for (size_t i = 0; i < group.paths.size(); ++i) {
    if (group.paths[i].empty()) __builtin_trap();
    for (const std::string& name : group.paths[i])
      if (name.empty() || !velmora::IsValidUtf8(name)) __builtin_trap();
    const velmora::CAddressRecord& r = item.records[i];
    if (r.lat < -90 || r.lat > 90 || r.lng < -180 || r.lng > 180) __builtin_trap();
  }
  velmora::CAddressRecord root("root");
  velmora::MergeLibraryResults(root, group, item);
  velmora::ArchiveWriter out;
  root.Serialize(out);
  velmora::CAddressRecord back("root");
  velmora::ArchiveReader in(out.Bytes());
  back.Serialize(in);
  velmora::ArchiveWriter again;
  back.Serialize(again);
  if (again.Bytes() != out.Bytes()) __builtin_trap();
  return 0;
}
