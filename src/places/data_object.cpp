// CDataObject: the empty base of the serialisable data classes.
#include "places/data_object.h"

namespace velmora {

CDataObject::~CDataObject() = default;

void CDataObject::Serialize(ArchiveWriter&) const {}

void CDataObject::Serialize(ArchiveReader&) {}

}  // namespace velmora
