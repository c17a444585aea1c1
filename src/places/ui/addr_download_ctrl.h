// CAddrDownloadCtrl: the task panel of the address data download (CAddressDownload on the
// panel's worker "AddressDownloadThread"), and CDlgAddressDownload, the modeless task dialog
// ("地址下载", task kind 4) that holds it.
#pragma once
#include <vector>

#include "exchange/ui/task_static.h"
#include "places/address_download.h"
#include "shell/dlg_worker_base.h"

namespace velmora {

class CTileManager;

class CAddrDownloadCtrl : public CTaskStatic, public IAddressDownloadSink {
 public:
  // `tiles` null: the program's tile manager.
  explicit CAddrDownloadCtrl(CTileManager* tiles = nullptr);
  ~CAddrDownloadCtrl() override;

  // Stores the region and the levels zoom[0] to zoom[1], sets the counters to 0, starts the
  // worker and sets the owning dialog's caption ("地址下载 - zoom:%d-%d", or "地址下载 - zoom:%d"
  // for one level). The projection kind is the current 2D view's (kind 1 without a view). False
  // while a download runs or when the thread cannot start.
  bool Start(const std::vector<LngLatF>& region, const int zoom[2]);
  // The task: the download over the levels, then the finished text.
  void Run();
  static unsigned AddressDownloadThreadProc(void* param);
  // True while the worker runs.
  bool IsRunning() const { return CTaskStatic::IsRunning(); }
  int FirstLevel() const { return first_; }
  int LastLevel() const { return last_; }

  // ---- IAddressDownloadSink (the worker) ----
  bool ResetProgress(int64_t width, int64_t height) override;
  void SetProgress(int64_t x, int64_t y, Argb colour) override;
  void SetStatus(const std::string& text, int done, int failed) override;
  bool SaveProgressPng(const std::string& path, std::string* error) override;

  // The caption for a level range.
  static std::string Caption(int first, int last);

 private:
  CTileManager* tiles_;
  int first_ = 0, last_ = 0, kind_ = 1;
};

class CDlgAddressDownload : public CDlgWorkerBase {
 public:
  static constexpr int kTemplateId = 279;
  static constexpr int kIdPanel = 1511;
  static constexpr int kTaskKind = 4;

  explicit CDlgAddressDownload(CWnd* parent = nullptr, CTileManager* tiles = nullptr);
  ~CDlgAddressDownload() override;

  CWorkThread* GetWorker() override { return &panel_.Worker(); }
  virtual int GetTaskKind() const { return kTaskKind; }
  CAddrDownloadCtrl& Panel() { return panel_; }

 protected:
  bool OnInitDialog() override;

 private:
  CAddrDownloadCtrl panel_;
};

}  // namespace velmora
