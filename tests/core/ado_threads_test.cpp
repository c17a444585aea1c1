// One CAdoConnection shared by several threads: its lock keeps statements and rows apart.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/ado_connection.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

TEST(AdoThreads, SharedConnectionLosesNothing) {
  test::TempDir dir;
  CAdoConnection ado;
  ASSERT_TRUE(ado.Open(dir.File("shared.db")));
  ASSERT_TRUE(ado.ExecuteSQL("CREATE TABLE t (thread INTEGER, n INTEGER)"));
  constexpr int kThreads = 4, kEach = 100;
  std::vector<std::thread> threads;
  std::atomic<int> bad{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        if (i % 2) {
          // Without the lock another thread's AddNew could interleave between these calls.
          auto lock = ado.Lock();
          ado.AddNew("t");
          ado.SetField("thread", int64_t{t});
          ado.SetField("n", int64_t{i});
          if (ado.Update() <= 0) ++bad;
        } else if (ado.ExecuteNonQuery("INSERT INTO t VALUES (?, ?)", {int64_t{t}, int64_t{i}}) != 1) {
          ++bad;
        }
        auto lock = ado.Lock();
        if (ado.QueryParams("SELECT count(*) AS c FROM t WHERE thread = ?", {int64_t{t}})) {
          if (ado.GetInt("c") != i + 1) ++bad;
        } else {
          ++bad;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
  ASSERT_TRUE(ado.Query("SELECT count(*) AS c, sum(n) AS s FROM t"));
  EXPECT_EQ(ado.GetInt("c"), kThreads * kEach);
  EXPECT_EQ(ado.GetInt("s"), kThreads * (kEach * (kEach - 1) / 2));
}

}  // namespace
}  // namespace velmora
