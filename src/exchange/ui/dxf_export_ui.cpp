// DXF target question and messages through the UiHost.
#include "exchange/ui/dxf_export_ui.h"

#include "platform/ui/ui_host.h"
#include "platform/ui/window.h"

namespace velmora {

CDxfExport::AskAddOrOverwrite AskAddOrOverwriteByMessageBox(CWnd* owner) {
  return [owner](const std::string& question) {
    int answer = GetUiHost().MessageBox(owner, question, kAppTitle, MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDYES) return CDxfExport::Answer::kAdd;
    if (answer == IDNO) return CDxfExport::Answer::kOverwrite;
    return CDxfExport::Answer::kCancel;
  };
}

bool OpenDxfTarget(CDxfExport& dxf, const std::string& path, CWnd* owner) {
  if (dxf.OpenTarget(path, AskAddOrOverwriteByMessageBox(owner))) return true;
  if (!dxf.Cancelled())
    GetUiHost().MessageBox(owner, "无法读取DXF文件,不能添加:\n" + dxf.LastError(), kAppTitle, MB_OK | MB_ICONERROR);
  return false;
}

}  // namespace velmora
