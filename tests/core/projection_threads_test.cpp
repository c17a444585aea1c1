// PROJ transforms from several threads at once: each thread builds its own PROJ objects and
// gets the same results as a single thread.
#include "core/projection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace velmora {
namespace {

std::vector<double> Points(int n) {
  std::vector<double> pts(3 * n);
  for (int i = 0; i < n; ++i) {
    pts[3 * i] = 100 + (i % 400) * 0.1;
    pts[3 * i + 1] = -60 + (i % 1200) * 0.1;
  }
  return pts;
}

std::string Utm(int zone) {
  return "+proj=utm +zone=" + std::to_string(zone) + " +ellps=WGS84 +datum=WGS84";
}

TEST(ProjectionThreads, PerThreadCachesAgree) {
  const std::string lonlat = "+proj=lonlat +datum=WGS84";
  const std::vector<double> input = Points(5000);
  std::vector<std::vector<double>> expected;
  for (int zone = 48; zone < 52; ++zone) {
    std::vector<double> pts = input;
    ASSERT_TRUE(TransformDefinitions(lonlat, Utm(zone), pts.data(), 5000, 3));
    expected.push_back(pts);
  }
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        int k = (t + round) % 4;
        std::vector<double> pts = input;
        if (!TransformDefinitions(lonlat, Utm(48 + k), pts.data(), 5000, 3) || pts != expected[k])
          ++mismatches;
      }
      if (ThreadProjCacheSize() != 4) ++mismatches;
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace velmora
