// CWeatherPane: the weather tool window (template 262): a tree (1536) of regions and cities of
// the weather service. Command 32780 loads the top region "china" and starts watching the city
// kept in the settings; a click on an item fetches its region file on a worker thread (the item
// shows "正在获取气象数据..." meanwhile) and the user-interface thread inserts the children; a
// right click offers "监视" (watch that city on the 2D map) and "设置" (32760, the display
// settings). Item texts are "%s %s %s-%s " of the name, the weather, tem2 and temNow.
#pragma once
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/work_thread.h"
#include "places/weather.h"
#include "platform/ui/tree_ctrl.h"
#include "shell/dialog_ex.h"

namespace velmora {

class CWeatherPane : public CDialogEx {
 public:
  static constexpr int kTemplateId = 262;
  static constexpr int kIdTree = 1536;
  static constexpr UINT ID_WEATHER_CHINA = 32780;
  static constexpr UINT ID_WEATHER_SETTINGS = 32760;
  static constexpr UINT kCmdWatch = 0x9E10;
  static constexpr const char* kTopRegion = "china";
  static constexpr const char* kFetching = "正在获取气象数据...";
  static constexpr UINT kMsgExpanded = WM_USER + 6;

  explicit CWeatherPane(CWnd* parent = nullptr);
  ~CWeatherPane() override;

  // 32780: the top region afresh, and the watch started.
  void OnChina();
  // A click on an item: fetches its children once (nothing while another fetch runs).
  bool ExpandItem(HTREEITEM item);
  // "监视": watches the item's city.
  bool WatchItem(HTREEITEM item);
  void OnSettings();

  CTreeCtrl& Tree() { return tree_; }
  // The record of an item (null for none).
  const WeatherItem* ItemRecord(HTREEITEM item) const;
  bool IsFetching() const { return fetching_ != 0; }

 protected:
  bool OnInitDialog() override;
  void OnDestroy() override;

 private:
  struct Record {
    WeatherItem item;
    std::string region;  // the region file its element came from
  };
  HTREEITEM Insert(Record record, HTREEITEM parent);
  void OnExpanded();
  void OnContextMenu(HTREEITEM item);

  CTreeCtrl tree_;
  std::deque<Record> records_;
  HTREEITEM fetching_ = 0;
  HTREEITEM placeholder_ = 0;
  CWorkThread worker_;
  std::mutex result_mutex_;
  std::optional<std::vector<WeatherItem>> result_;  // result_mutex_
};

}  // namespace velmora
