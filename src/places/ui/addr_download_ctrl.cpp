// The address download's task panel and dialog.
#include "places/ui/addr_download_ctrl.h"

#include "core/format.h"
#include "core/settings.h"
#include "platform/gfx/image_codec.h"
#include "tiles/layer_manager.h"
#include "tiles/map_view_state.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

DialogTemplate AddressDownloadTemplate() {
  DialogTemplate t;
  t.id = CDlgAddressDownload::kTemplateId;
  t.caption = "地址下载";
  t.cx = 236;
  t.cy = 140;
  t.controls = {{ControlKind::kCustom, CDlgAddressDownload::kIdPanel, "", 0, 0, 236, 140, 0}};
  return t;
}

}  // namespace

CAddrDownloadCtrl::CAddrDownloadCtrl(CTileManager* tiles) : tiles_(tiles) {}

CAddrDownloadCtrl::~CAddrDownloadCtrl() {
  // The procedure uses this object's members: it ends before they do.
  if (CTaskStatic::IsRunning()) StopTask();
}

std::string CAddrDownloadCtrl::Caption(int first, int last) {
  return last > first ? FormatC("地址下载 - zoom:%d-%d", first, last) : FormatC("地址下载 - zoom:%d", first);
}

bool CAddrDownloadCtrl::Start(const std::vector<LngLatF>& region, const int zoom[2]) {
  if (CTaskStatic::IsRunning()) return false;
  SetRegion(region);
  first_ = zoom[0];
  last_ = zoom[1];
  done = 0;
  failed = 0;
  IMapViewState* view = CurrentMapView();
  kind_ = view ? view->GetCamera().kind : 1;
  if (!StartTask("AddressDownloadThread", &CAddrDownloadCtrl::AddressDownloadThreadProc, this)) return false;
  if (CWnd* dialog = GetParent()) dialog->SetWindowText(Caption(first_, last_));
  return true;
}

unsigned CAddrDownloadCtrl::AddressDownloadThreadProc(void* param) {
  auto* self = static_cast<CAddrDownloadCtrl*>(param);
  self->Run();
  self->TaskEnded();
  return 1;
}

void CAddrDownloadCtrl::Run() {
  const std::vector<LngLatF> region = Region();
  const int first = first_, last = last_, kind = kind_;
  Worker().SignalReady();
  AddressDownloadOptions options;
  options.download_threads = AppOptions().download_threads;
  CAddressDownload task(tiles_ ? *tiles_ : TileManager(), LayerManager(), *this, options);
  task.Run(region, first, last, kind, Worker());
}

bool CAddrDownloadCtrl::ResetProgress(int64_t width, int64_t height) {
  return CTaskStatic::ResetProgress(width, height);
}

void CAddrDownloadCtrl::SetProgress(int64_t x, int64_t y, Argb colour) {
  CTaskStatic::SetProgress(x, y, colour);
  Invalidate();
}

void CAddrDownloadCtrl::SetStatus(const std::string& text, int done_count, int failed_count) {
  {
    std::lock_guard lock(Mutex());
    done = done_count;
    failed = failed_count;
  }
  CTaskStatic::SetStatus(text);
}

bool CAddrDownloadCtrl::SaveProgressPng(const std::string& path, std::string* error) {
  CBitmap picture;
  {
    std::lock_guard lock(Mutex());
    const int64_t w = ProgressWidth(), h = ProgressHeight();
    const int scale = ProgressScale();
    const int pw = static_cast<int>((w + scale - 1) / scale), ph = static_cast<int>((h + scale - 1) / scale);
    // A task that never sized its picture (no tile at all) leaves a picture of its frame alone.
    if (!picture.Create(pw + 2, ph + 2, 0)) {
      if (error) *error = "no memory for the progress picture";
      return false;
    }
    for (int x = 0; x < pw + 2; ++x) picture.SetPixel(x, 0, 0xFFFFFFFFu), picture.SetPixel(x, ph + 1, 0xFFFFFFFFu);
    for (int y = 0; y < ph + 2; ++y) picture.SetPixel(0, y, 0xFFFFFFFFu), picture.SetPixel(pw + 1, y, 0xFFFFFFFFu);
    for (int y = 0; y < ph; ++y)
      for (int x = 0; x < pw; ++x) picture.SetPixel(x + 1, y + 1, ProgressAt(int64_t(x) * scale, int64_t(y) * scale));
  }
  return SaveImageFile(picture, path, ImageType::kPng, {}, error);
}

CDlgAddressDownload::CDlgAddressDownload(CWnd* parent, CTileManager* tiles)
    : CDlgWorkerBase(AddressDownloadTemplate(), parent), panel_(tiles) {
  BindControl(kIdPanel, panel_);
}

CDlgAddressDownload::~CDlgAddressDownload() {
  if (panel_.IsRunning()) panel_.StopTask();
  DestroyWindow();
}

bool CDlgAddressDownload::OnInitDialog() {
  SetWindowIconFromImage(this, "address.png");
  return true;
}

}  // namespace velmora
