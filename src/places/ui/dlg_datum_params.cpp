// The zone dialog of a conversion slot.
#include "places/ui/dlg_datum_params.h"

#include "core/format.h"
#include "core/projection.h"
#include "places/coord_sys_convert.h"
#include "places/ui/coord_dialog_templates.h"
#include "platform/ui/controls.h"
#include "shell/menu_combo_box.h"

namespace velmora {

CDlgDatumParams::CDlgDatumParams(int system_index, int slot, CWnd* parent)
    : CDialogEx(RegisterCoordDialogTemplates(kDatumParamsTemplateId), parent), system_(system_index), slot_(slot) {
  MapCommand(kIdCompute, [this] { OnCompute(); });
}

bool CDlgDatumParams::OnInitDialog() {
  if (auto* kinds = GetDlgItemAs<CComboBox>(kIdBandKind)) {
    kinds->ResetContent();
    kinds->AddString("3度带");
    kinds->AddString("6度带");
    kinds->SetCurSel(band_kind_);
  }
  if (system_ == kCoordUtm) {
    zone_ = UtmZoneOfSlot(slot_);
    meridian_ = UtmCentralMeridian(zone_);
    // UTM has a fixed false easting and a meridian given by the zone.
    if (CWnd* w = GetDlgItem(kIdFalseEasting)) w->EnableWindow(false);
    if (CWnd* w = GetDlgItem(kIdMeridian)) w->EnableWindow(false);
  }
  SetDlgItemInt(kIdZone, zone_);
  SetDlgItemText(kIdMeridian, FormatNumber14(meridian_));
  SetDlgItemText(kIdLongitude, FormatNumber14(longitude_));
  SetDlgItemText(kIdBandInfo, "");
  return true;
}

bool CDlgDatumParams::TakeLongitude() {
  auto lng = ParseDouble(GetDlgItemText(kIdLongitude));
  if (!lng || *lng < -180.0 || *lng > 180.0) {
    MessageBox("请输入一个介于 -180 和 180 之间的数。", kAppTitle, MB_OK | MB_ICONWARNING);
    return false;
  }
  longitude_ = *lng;
  return true;
}

void CDlgDatumParams::OnCompute() {
  if (!TakeLongitude()) return;
  if (auto* kinds = GetDlgItemAs<CComboBox>(kIdBandKind); kinds && kinds->GetCurSel() >= 0)
    band_kind_ = kinds->GetCurSel();
  bool three = band_kind_ == 0;
  GaussKrugerBand band = GaussKrugerBandOf(longitude_, three);
  std::string info = FormatC("%s: 第%d带, 中央子午线%s°", three ? "3度带" : "6度带", band.band,
                             FormatNumber14(band.central_meridian).c_str());
  if (system_ == kCoordUtm) {
    // The zone box holds what OK stores: the UTM zone, not the band number.
    zone_ = UtmZoneOfLongitude(longitude_);
    meridian_ = UtmCentralMeridian(zone_);
  } else {
    zone_ = band.band;
    meridian_ = band.central_meridian;
  }
  SetDlgItemInt(kIdZone, zone_);
  SetDlgItemText(kIdMeridian, FormatNumber14(meridian_));
  SetDlgItemText(kIdBandInfo, info);
}

void CDlgDatumParams::OnOK() {
  if (!TakeLongitude()) return;
  auto zone = ParseInt(GetDlgItemText(kIdZone));
  if (system_ == kCoordUtm) {
    if (!zone || *zone < kMinUtmZone || *zone > kMaxUtmZone) {
      MessageBox("UTM带号必须在1到60之间", kAppTitle, MB_OK | MB_ICONWARNING);
      return;
    }
    zone_ = static_cast<int>(*zone);
    SetUtmZoneOfSlot(slot_, zone_);
  }
  EndDialog(IDOK);
}

void InstallDatumParamsOpener() {
  if (CMenuComboBox::HasSystemSettingsOpener()) return;
  CMenuComboBox::SetSystemSettingsOpener([](CWnd* owner, int system_index, int slot) {
    // Only UTM of the table has settings of its own.
    if (system_index != kCoordUtm) return;
    CDlgDatumParams dlg(system_index, slot, owner);
    dlg.DoModal();
  });
}

}  // namespace velmora
