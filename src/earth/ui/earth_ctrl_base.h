// CEarthCtrlBase: what every earth view offers its callers without their knowing which earth
// they talk to: turn the view back to north-up and straight down, and turn a window point into
// longitude, latitude and terrain altitude.
#pragma once

namespace velmora {

// The record of GetCoordByPos' first form: the caller's own value, then longitude and latitude.
struct EarthCoordRecord {
  double value = 0;
  double lng = 0;
  double lat = 0;
};

class CEarthCtrlBase {
 public:
  CEarthCtrlBase() = default;
  virtual ~CEarthCtrlBase() = default;
  CEarthCtrlBase(const CEarthCtrlBase&) = delete;
  CEarthCtrlBase& operator=(const CEarthCtrlBase&) = delete;

  // North up and straight down.
  virtual void LookReset() = 0;
  // Window point (render-window pixels) to longitude and latitude, written into record's lng and
  // lat (its value stays as the caller set it).
  virtual void GetCoordByPos(int x, int y, EarthCoordRecord& record) = 0;
  // Window point to longitude, latitude (degrees) and terrain altitude (metres).
  virtual void GetCoordByPos(int x, int y, double out[3]) = 0;
};

}  // namespace velmora
