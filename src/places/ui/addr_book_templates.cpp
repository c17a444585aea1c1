// Templates of the address book's dialogs.
#include "places/ui/addr_book_templates.h"

#include <mutex>

#include "platform/ui/dialog_template.h"
#include "platform/ui/ui_types.h"

namespace velmora {
namespace {

using K = ControlKind;

DialogTemplate AddressBookTemplate() {
  DialogTemplate t;
  t.id = kAddressBookTemplateId;
  t.caption = "通讯录";
  t.cx = 400;
  t.cy = 220;
  t.controls = {
      {K::kStatic, -1, "图标:", 7, 9, 20, 8, 0},
      {K::kComboBox, 1216, "", 28, 7, 46, 120, 0},
      {K::kCheckBox, 1360, "显示标签", 82, 8, 44, 10, 0},
      {K::kEdit, 1361, "", 128, 7, 100, 12, 0},
      {K::kStatic, 1515, "", 236, 4, 157, 18, 0},
      {K::kListView, 1402, "", 0, 26, 400, 194, 0},
  };
  return t;
}

DialogTemplate AddressEntryTemplate() {
  DialogTemplate t;
  t.id = kAddressEntryTemplateId;
  t.caption = "通讯录";
  t.cx = 250;
  t.cy = 120;
  t.controls = {
      {K::kCustom, 1352, "", 7, 7, 80, 84, 0},
      {K::kStatic, -1, "名字", 95, 9, 24, 8, 0},
      {K::kEdit, 1339, "", 122, 7, 121, 12, 0},
      {K::kStatic, -1, "地址", 95, 27, 24, 8, 0},
      {K::kEdit, 1343, "", 122, 25, 121, 42, 0},
      {K::kDefButton, IDOK, "确定", 139, 99, 50, 14, 0},
      {K::kButton, IDCANCEL, "取消", 193, 99, 50, 14, 0},
  };
  return t;
}

DialogTemplate TemplateEditorTemplate() {
  DialogTemplate t;
  t.id = kTemplateEditorTemplateId;
  t.caption = "模板编辑器";
  t.cx = 320;
  t.cy = 240;
  t.controls = {
      {K::kEdit, 1355, "", 0, 0, 320, 240, 0},
  };
  return t;
}

}  // namespace

int RegisterAddrBookTemplates(int id) {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterDialogTemplate(AddressBookTemplate());
    RegisterDialogTemplate(AddressEntryTemplate());
    RegisterDialogTemplate(TemplateEditorTemplate());
  });
  return id;
}

}  // namespace velmora
