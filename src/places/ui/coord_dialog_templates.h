// The templates of the coordinate tools' dialogs (control ids, captions and sizes in dialog
// units): the format converter 305, the system converter 290, the system choice 291, the zone
// dialog 292, the point list 272 and the batch correction 307.
#pragma once

namespace velmora {

inline constexpr int kCoordFormatTemplateId = 305;
inline constexpr int kCoordSysConvertTemplateId = 290;
inline constexpr int kCoordSysSelectTemplateId = 291;
inline constexpr int kDatumParamsTemplateId = 292;
inline constexpr int kCoordListTemplateId = 272;
inline constexpr int kCoordBatchFixTemplateId = 307;

// Registers all six templates (once; later calls do nothing) and returns `id`, so that a dialog
// constructor can pass it to its base.
int RegisterCoordDialogTemplates(int id = 0);

}  // namespace velmora
