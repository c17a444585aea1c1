// CDataObject: the common base of the program's small serialisable data classes (address
// records, address-pane items and groups, bus-line records). It holds nothing; a derived class
// stores itself into an archive writer and loads itself from an archive reader.
#pragma once
#include "core/archive.h"

namespace velmora {

class CDataObject {
 public:
  CDataObject() = default;
  virtual ~CDataObject();
  CDataObject(const CDataObject&) = default;
  CDataObject& operator=(const CDataObject&) = default;

  // Stores the object; the base stores nothing.
  virtual void Serialize(ArchiveWriter& ar) const;
  // Loads the object; the base reads nothing. Throws ArchiveError on damaged bytes.
  virtual void Serialize(ArchiveReader& ar);
};

}  // namespace velmora
