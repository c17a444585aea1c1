// The window side of DXF output: the question whether to add to an existing drawing, asked
// through the UiHost, and the messages of a target that is refused.
#pragma once
#include <string>

#include "exchange/dxf_export.h"

namespace velmora {

class CWnd;

// The question "指定DXF文件已存在，是：添加，否：覆盖" as a Yes/No/Cancel message box.
CDxfExport::AskAddOrOverwrite AskAddOrOverwriteByMessageBox(CWnd* owner = nullptr);

// OpenTarget with that question; a drawing that cannot be read for adding is reported as
// "无法读取DXF文件,不能添加:\n<reason>".
bool OpenDxfTarget(CDxfExport& dxf, const std::string& path, CWnd* owner = nullptr);

}  // namespace velmora
