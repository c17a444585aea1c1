// Templates of the coordinate tools' dialogs.
#include "places/ui/coord_dialog_templates.h"

#include <mutex>

#include "platform/ui/dialog_template.h"
#include "platform/ui/ui_types.h"

namespace velmora {
namespace {

using K = ControlKind;

DialogTemplate CoordFormatTemplate() {
  DialogTemplate t;
  t.id = kCoordFormatTemplateId;
  t.caption = "坐标格式转换工具";
  t.cx = 502;
  t.cy = 262;
  t.controls = {
      // source side
      {K::kStatic, -1, "源格式:", 7, 9, 30, 8, 0},
      {K::kComboBox, 1313, "", 40, 7, 62, 60, 0},
      {K::kCheckBox, 1370, "纬度在前", 108, 8, 48, 10, 0},
      {K::kStatic, -1, "分隔符:", 160, 9, 28, 8, 0},
      {K::kEdit, 1322, "", 190, 7, 25, 12, 0},
      {K::kStatic, -1, "度分秒:", 7, 26, 30, 8, 0},
      {K::kEdit, 1323, "", 40, 24, 20, 12, 0},
      {K::kEdit, 1324, "", 64, 24, 20, 12, 0},
      {K::kEdit, 1328, "", 88, 24, 20, 12, 0},
      {K::kStatic, -1, "忽略列数", 116, 26, 34, 8, 0},
      {K::kEdit, 1379, "0", 152, 24, 24, 12, 0},
      {K::kCustom, 1303, "", 176, 24, 10, 12, 0},  // the up-down arrows of 1379
      {K::kStatic, -1, "西东南北:", 7, 43, 32, 8, 0},
      {K::kEdit, 1331, "", 40, 41, 20, 12, 0},
      {K::kEdit, 1330, "", 64, 41, 20, 12, 0},
      {K::kEdit, 1333, "", 88, 41, 20, 12, 0},
      {K::kEdit, 1332, "", 112, 41, 20, 12, 0},
      {K::kEdit, 1317, "", 7, 58, 208, 178, 0},
      // commands
      {K::kButton, 1314, "转换 ==>>", 222, 110, 56, 14, 0},
      {K::kButton, 1316, "文件转换...", 222, 130, 56, 14, 0},
      // target side
      {K::kStatic, -1, "目标格式:", 285, 9, 36, 8, 0},
      {K::kComboBox, 1315, "", 322, 7, 62, 60, 0},
      {K::kCheckBox, 1371, "纬度在前", 390, 8, 48, 10, 0},
      {K::kStatic, -1, "分隔符:", 440, 9, 28, 8, 0},
      {K::kEdit, 1325, "", 470, 7, 25, 12, 0},
      {K::kStatic, -1, "度分秒:", 285, 26, 30, 8, 0},
      {K::kEdit, 1326, "", 322, 24, 20, 12, 0},
      {K::kEdit, 1327, "", 346, 24, 20, 12, 0},
      {K::kEdit, 1329, "", 370, 24, 20, 12, 0},
      {K::kStatic, -1, "西东南北:", 285, 43, 32, 8, 0},
      {K::kEdit, 1335, "", 322, 41, 28, 12, 0},
      {K::kEdit, 1334, "", 354, 41, 28, 12, 0},
      {K::kEdit, 1337, "", 386, 41, 28, 12, 0},
      {K::kEdit, 1336, "", 418, 41, 28, 12, 0},
      {K::kEdit, 1318, "", 285, 58, 210, 178, 0},
      {K::kButton, IDCANCEL, "关闭", 445, 242, 50, 14, 0},
  };
  return t;
}

DialogTemplate CoordSysConvertTemplate() {
  DialogTemplate t;
  t.id = kCoordSysConvertTemplateId;
  t.caption = "坐标系转换工具";
  t.cx = 430;
  t.cy = 240;
  t.controls = {
      {K::kStatic, -1, "源坐标系:", 7, 9, 36, 8, 0},
      {K::kComboBox, 1313, "", 45, 7, 100, 60, 0},
      {K::kStatic, -1, "分隔符:", 7, 26, 36, 8, 0},
      {K::kEdit, 1322, "", 45, 24, 25, 12, 0},
      {K::kStatic, -1, "忽略列数", 78, 26, 34, 8, 0},
      {K::kEdit, 1379, "0", 114, 24, 24, 12, 0},
      {K::kCustom, 1303, "", 138, 24, 10, 12, 0},  // the up-down arrows of 1379
      {K::kEdit, 1317, "", 7, 42, 180, 172, 0},
      {K::kButton, 1314, "转换 ==>>", 193, 100, 44, 14, 0},
      {K::kButton, 1316, "文件转换...", 193, 120, 44, 14, 0},
      {K::kButton, 1321, "缺省设置", 193, 140, 44, 14, 0},
      {K::kStatic, -1, "目标坐标系:", 243, 9, 44, 8, 0},
      {K::kComboBox, 1315, "", 289, 7, 100, 60, 0},
      {K::kEdit, 1318, "", 243, 42, 180, 172, 0},
      {K::kButton, IDCANCEL, "关闭", 373, 220, 50, 14, 0},
  };
  return t;
}

DialogTemplate CoordSysSelectTemplate() {
  DialogTemplate t;
  t.id = kCoordSysSelectTemplateId;
  t.caption = "坐标系选择";
  t.cx = 186;
  t.cy = 72;
  t.controls = {
      {K::kStatic, -1, "坐标系:", 7, 9, 30, 8, 0},
      {K::kComboBox, 1320, "", 40, 7, 139, 60, 0},
      {K::kCheckBox, 1319, "转换前提醒", 40, 26, 80, 10, 0},
      {K::kDefButton, IDOK, "确定", 75, 51, 50, 14, 0},
      {K::kButton, IDCANCEL, "取消", 129, 51, 50, 14, 0},
  };
  return t;
}

DialogTemplate DatumParamsTemplate() {
  DialogTemplate t;
  t.id = kDatumParamsTemplateId;
  t.caption = "坐标系设置";
  t.cx = 206;
  t.cy = 122;
  t.controls = {
      {K::kStatic, -1, "带号", 7, 9, 40, 8, 0},
      {K::kEdit, 1323, "", 50, 7, 40, 12, 0},
      {K::kCheckBox, 1336, "Y轴+500km", 100, 8, 60, 10, 0},
      {K::kStatic, -1, "中央子午线", 7, 26, 40, 8, 0},
      {K::kEdit, 1324, "", 50, 24, 40, 12, 0},
      {K::kGroupBox, -1, "计算带号", 7, 42, 192, 52, 0},
      {K::kComboBox, 1368, "", 14, 54, 50, 40, 0},
      {K::kStatic, -1, "经度", 70, 56, 18, 8, 0},
      {K::kEdit, 1331, "", 90, 54, 50, 12, 0},
      {K::kButton, 3, "计算", 146, 53, 46, 14, 0},
      {K::kStatic, 1369, "", 14, 74, 178, 16, 0},  // the Gauss-Krüger band, for information
      {K::kDefButton, IDOK, "确定", 95, 101, 50, 14, 0},
      {K::kButton, IDCANCEL, "取消", 149, 101, 50, 14, 0},
  };
  return t;
}

DialogTemplate CoordListTemplate() {
  DialogTemplate t;
  t.id = kCoordListTemplateId;
  t.caption = "坐标";
  t.cx = 300;
  t.cy = 200;
  t.controls = {{K::kListView, 1262, "", 0, 0, 300, 200, 0}};
  return t;
}

DialogTemplate CoordBatchFixTemplate() {
  DialogTemplate t;
  t.id = kCoordBatchFixTemplateId;
  t.caption = "坐标批量纠正";
  t.cx = 240;
  t.cy = 214;
  t.controls = {
      {K::kListView, 1380, "", 7, 7, 226, 180, 0},
      {K::kStatic, -1, "线程数", 7, 196, 26, 8, 0},
      {K::kEdit, 1381, "", 35, 194, 30, 12, 0},
      {K::kButton, 1024, "加载...", 72, 193, 50, 14, 0},
      {K::kButton, 1039, "开始", 127, 193, 50, 14, 0},
      {K::kButton, IDCANCEL, "关闭", 183, 193, 50, 14, 0},
  };
  return t;
}

}  // namespace

int RegisterCoordDialogTemplates(int id) {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const DialogTemplate& t : {CoordFormatTemplate(), CoordSysConvertTemplate(), CoordSysSelectTemplate(),
                                    DatumParamsTemplate(), CoordListTemplate(), CoordBatchFixTemplate()})
      RegisterDialogTemplate(t);
  });
  return id;
}

}  // namespace velmora
