// What the front-end programs that run the real earth page share: the hill the height files
// carry, the dotted tiles the page is fed, the program folder with the built page and an X server
// of its own, the program's log collected from every thread, work on a worker while the
// user-interface loop runs, and the dark blobs (the tiles' dots) of a picture.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "earth/ui/html_document_engine.h"
#include "support/temp_dir.h"
#include "support/xvfb_server.h"

namespace velmora::test {

// The hill of the height files: kHillTop metres at its top, falling off as a Gaussian of 0.3
// degrees.
inline constexpr double kHillLng = 117.5, kHillLat = 37.5, kHillTop = 4000.0;
double Hill(double lng, double lat);

// Degrees between the dots of the tiles.
inline constexpr double kDotSpacing = 0.5;

// The source of the page's "tile" host, "/<source>/<z>/<x>/<y>" (zoom 0 to 12): a white 256 px
// tile, with a black disc of radius 3 pixels on every grid point of kDotSpacing degrees from zoom
// 5 on (where the dots stand at least 12 pixels apart).
std::optional<PageResource> DotTile(const std::string& path);

struct EarthFolderOptions {
  int screen_width = 1024, screen_height = 768;  // the X server's screen
  bool page = true;     // the page's folder ("earth/") there from the start
  bool images = false;  // the built "images/" folder too
  bool heights = true;  // height files of the hill in "data/"
};

// The program folder (VELMORA_PROGRAM_DIR): the page's library, the page and the map sources from
// the build, linked; "data/" made here. Starts the X server.
struct EarthProgramFolder {
  explicit EarthProgramFolder(const EarthFolderOptions& options);
  // Puts the page's folder there or takes it away.
  void SetPage(bool present);

  EarthFolderOptions options;
  TempDir dir;
  XvfbServer xvfb;
  std::string xvfb_error;  // empty when the X server runs
};

// The test program's folder, made by the first call with that call's options: make it from a
// namespace-scope initialiser after the front end's folders, so that the X server is there before
// the desktop session makes the QApplication.
EarthProgramFolder& EarthProgram(const EarthFolderOptions& options = {});

// For a test suite's start: collects the log, serves DotTile on the page's "tile" host and makes
// the earth window the size of the X server's screen.
void StartDotTileSuite();

// The program's log lines, from every thread, from CollectLog until StopCollectingLog.
void CollectLog();
void StopCollectingLog();
std::vector<std::string> CollectedLog();
// Writes the collected lines to stderr (for a test that failed).
void PrintCollectedLog();

// Runs `work` on a worker while this thread serves the user-interface loop, at most `ms`; an
// exception of the work fails the test.
void OnWorker(const std::function<void()>& work, int ms = 120000);

// The centres of the dark blobs (`dark(x, y)`) of a w x h picture that hold 8 to `max_pixels`
// pixels and do not touch the border, found by flood fill.
struct DarkBlob {
  double x, y;
  int pixels;
};
template <typename Dark>
std::vector<DarkBlob> DarkBlobCentres(int w, int h, Dark dark, int max_pixels) {
  std::vector<DarkBlob> dots;
  std::vector<char> seen(size_t(w) * h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (seen[size_t(y) * w + x] || !dark(x, y)) continue;
      std::vector<std::pair<int, int>> stack{{x, y}};
      seen[size_t(y) * w + x] = 1;
      double sx = 0, sy = 0;
      int n = 0;
      bool edge = false;
      while (!stack.empty()) {
        auto [px, py] = stack.back();
        stack.pop_back();
        sx += px, sy += py, ++n;
        edge = edge || px == 0 || py == 0 || px == w - 1 || py == h - 1;
        for (auto [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
          const int qx = px + dx, qy = py + dy;
          if (qx < 0 || qy < 0 || qx >= w || qy >= h || seen[size_t(qy) * w + qx] || !dark(qx, qy)) continue;
          seen[size_t(qy) * w + qx] = 1;
          stack.push_back({qx, qy});
        }
      }
      if (!edge && n >= 8 && n <= max_pixels) dots.push_back({sx / n, sy / n, n});
    }
  return dots;
}

}  // namespace velmora::test
