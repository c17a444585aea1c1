// CDlgDemFetch: the elevation fetch dialog. It asks the web elevation service (through the
// elevation cache) for one point, for evenly spaced samples on the line between two points, or
// again for every point of an imported list, and shows the outcomes in its point list with the
// time the fetch took. The sample distance, the number of samples and the reload flag are kept
// in the program settings.
//
// Threads: user-interface thread only; the fetches run on the list's worker.
#pragma once
#include <cstdint>

#include "shell/dlg_worker_base.h"
#include "platform/ui/controls.h"
#include "terrain/ui/dem_point_list.h"

namespace velmora {

class CDlgDemFetch : public CDlgWorkerBase {
 public:
  static constexpr int kTemplateId = 224;
  static constexpr const char* kCaption = "获取高程";
  static constexpr int kIdList = 1402;
  static constexpr int kIdDistance = 1315;
  static constexpr int kIdSamples = 1350;
  static constexpr int kIdReload = 1229;
  static constexpr int kIdSnap = 1230;
  static constexpr int kIdElapsed = 1386;
  static constexpr int kIdFirstLon = 1332, kIdFirstLat = 1327;
  static constexpr int kIdSecondLon = 1333, kIdSecondLat = 1328;
  static constexpr int kIdStart = 1035;
  static constexpr UINT_PTR kTimer = 1;
  static constexpr unsigned kTimerMs = 1000;
  static constexpr int kMaxDistance = 999999999;
  static constexpr int kMaxSamples = 1000;
  static constexpr const char* kBadNumber = "请输入一个数字。";

  explicit CDlgDemFetch(CWnd* parent = nullptr);
  ~CDlgDemFetch() override;

  CWorkThread* GetWorker() override { return &list_.Worker(); }
  CDemPointList& List() { return list_; }
  // The two points before the dialog opens (the map centre 0.1 degree west and east of it).
  void SetPoints(float lon1, float lat1, float lon2, float lat2);

  int distance = 90;
  int samples = 1;
  bool reload = true;
  bool snap = false;
  float first[2] = {0, 0};
  float second[2] = {0, 0};

  // Button 1035.
  void OnStart();
  // Message 0x404 and the end of a fetch that could not start: the timer stops, the final time
  // is shown and the button is enabled again.
  void OnFetchDone();
  static std::string FormatElapsedMs(uint64_t ms);

 protected:
  bool OnInitDialog() override;
  void OnDestroy() override;

 private:
  // Reads the controls; false (the user told) when one cannot be read.
  bool ReadControls();
  void ShowPoints();
  void EnablePointInputs(bool enable);
  void ShowElapsed();

  CDemPointList list_;
  CStatic elapsed_;
  uint64_t start_tick_ = 0;
  bool timing_ = false;
};

}  // namespace velmora
