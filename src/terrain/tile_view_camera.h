// The camera of the 3D tile view and the choice of the tiles in its sight.
//
// The camera is a point on the earth (longitude, latitude) with a fractional level like the 2D
// map's: the eye is d = R / 2^(level - 4) × 0.9587628865979382 km away from the point (the
// distance halves with each level), over the point (longitude + pitch, latitude + yaw), looking
// at the point with north up. The tiles in sight are those of the integer level whose corners
// the view frustum holds (cubes of R / 2^zoom about each corner), among the columns and rows
// about the centre tile that the window can show.
//
// Everything is computed in double precision in a frame centred on the looked-at point, so that
// at level 22.9 (an eye 12 m from the ground, 6378 km from the earth's centre) neither the view
// nor the frustum test loses the metres that matter.
#pragma once
#include <cstddef>
#include <vector>

#include "platform/r3d/d3dx_math.h"
#include "tiles/tile_key.h"

namespace velmora {

struct TileViewCamera {
  double lng = 0;
  double lat = 0;
  double level = 0;
  float yaw = 0;    // degrees added to the eye's latitude
  float pitch = 0;  // degrees added to the eye's longitude
  float roll = 0;   // kept, not drawn
};

// Levels at which the view shows tiles (above 4) and the range of levels.
inline constexpr double kTileViewGlobeLevel = 4.0;
inline constexpr double kTileViewMinLevel = 2.0;
inline constexpr double kTileViewMaxLevel = 22.9;
// The far plane of the projection at the usual levels: the earth's diameter.
inline constexpr float kTileViewFarKm = 12756.2744140625f;

// The view's clamp: the longitude wrapped into [-180, 180), the latitude kept within what the
// projection kind's tiles cover (±85.05° for the Mercator kinds, ±90° for kind 5), the level at
// least 2 and below 23 (23 and above become 22.9). NaN becomes 0 (level 2).
void ClampTileViewCamera(int kind, double* lng, double* lat, double* level);

// Distance in km from the eye to the looked-at point.
double TileViewDistance(double level);

struct TileViewFrame {
  // Row-vector, left-handed view and projection of the scene in world coordinates.
  D3DXMATRIX view;
  D3DXMATRIX projection;
  // The same view with the world's origin moved to the looked-at point (the frustum's frame).
  D3DXMATRIX view_local;
  double target[3] = {0, 0, 0};
  double eye[3] = {0, 0, 0};
  // The camera's right, up and forward axes in world coordinates.
  double right[3] = {1, 0, 0};
  double up[3] = {0, 1, 0};
  double forward[3] = {0, 0, 1};
  float near_plane = 0;
  float far_plane = 0;
};

// The camera's view and projection for a window of that aspect: eye and target as above, up the
// world's +y (north), or the local north or east when the eye looks along +y; projection of π/4
// with the near plane at a hundredth of the eye's height above the sphere (at least 1 m) and the
// far plane behind the earth (at least the earth's diameter).
TileViewFrame BuildTileViewFrame(const TileViewCamera& camera, float aspect);

// The ray through window pixel (x, y) of a width x height window, in world coordinates.
void TileViewScreenToRay(const TileViewFrame& frame, int x, int y, int width, int height, D3DXVECTOR3* origin,
                         D3DXVECTOR3* direction);

// The point of the sphere of the earth's radius that window pixel (x, y) shows (the nearest
// crossing of its ray), as longitude and latitude; false when the ray misses the earth.
bool TileViewPickEarth(const TileViewFrame& frame, int x, int y, int width, int height, double* lng, double* lat);

// The keys of the tiles of zoom truncate(level) in sight for a window of width x height pixels,
// for the source `source_id` drawn in projection kind `kind`: columns and rows within
// min(window side / 256, 2^zoom) / 2 + 15 of the centre tile (columns wrap around the world,
// rows beyond its top or bottom are skipped), a tile being in sight when the frustum holds the
// cube of half-size R / 2^zoom about one of its corners. Nearest to the centre tile first,
// without duplicates, at most `max_tiles`. Empty at level 4 or below and for a window of no size.
std::vector<TileKey> ChooseTilesInSight(const TileViewCamera& camera, int width, int height, int kind,
                                        int source_id, size_t max_tiles);

}  // namespace velmora
