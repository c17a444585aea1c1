// The batch correction dialog driven headless against the test web server: its list, the worker
// count check, the button texts set on the user-interface thread while up to 100 workers run,
// stopping during requests, the result handed back after "是否替换原坐标?", and the shell's
// command that loads points from a file and saves the corrected ones.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "core/format.h"
#include "core/settings.h"
#include "places/coord_batch_fix.h"
#include "places/ui/coord_dialog_templates.h"
#include "places/ui/coord_tool_commands.h"
#include "places/ui/dlg_coord_batch_fix.h"
#include "platform/text.h"
#include "platform/ui/controls.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/list_ctrl.h"
#include "platform/ui/ui_dispatcher.h"
#include "support/coord_fix_replies.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

// The service moves every point 0.01° east and 0.005° north.
test::HttpReply ShiftReply(const test::HttpRequestRecord& r) {
  double x = test::QueryValue(r.query, "x") + 0.01, y = test::QueryValue(r.query, "y") + 0.005;
  return test::HttpReply::Ok(test::CoordFixReply(x, y, "%.8f"));
}

class CoordBatchFixDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    SetUiHost(&host);
    WriteProfileString(kCoordFixProfileSection, kCoordFixHostKey, server.BaseUrl());
    ProgramSettings().Remove(kFixThreadsKey);
  }
  void TearDown() override { SetUiHost(nullptr); }

  static std::string Button(CDialog& d) { return d.GetDlgItemText(CDlgCoordBatchFix::kIdStart); }
  static void Click(CDialog& d, int id) { d.GetDlgItemAs<CButton>(id)->Click(); }

  CHeadlessUiHost host;
  test::HttpTestServer server;
};

TEST_F(CoordBatchFixDialogTest, HundredWorkersCorrectTheListAndTheButtonSaysSo) {
  server.RoutePrefix("/ag/coord/convert", ShiftReply);
  std::vector<PointF> points;
  for (int i = 0; i < 500; ++i) points.push_back({110.0f + i * 0.02f, 20.0f + i * 0.01f});
  CDlgCoordBatchFix dlg;
  dlg.SetPoints(points);
  host.AnswerDialog(kCoordBatchFixTemplateId, [&](CDialog& d) {
    auto* list = d.GetDlgItemAs<CListCtrl>(CDlgCoordBatchFix::kIdList);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->GetColumnHeading(0), "序号");
    EXPECT_EQ(list->GetColumnWidth(1), 150);
    EXPECT_EQ(list->GetItemCount(), 500);
    EXPECT_EQ(list->GetItemText(1, 1), "110.019997,20.010000");
    EXPECT_EQ(list->GetItemImage(1), kFixWaiting);
    EXPECT_EQ(d.GetDlgItemText(CDlgCoordBatchFix::kIdThreads), "5");
    EXPECT_EQ(Button(d), "开始");

    d.GetDlgItemAs<CEdit>(CDlgCoordBatchFix::kIdThreads)->Type("101");
    Click(d, CDlgCoordBatchFix::kIdStart);
    EXPECT_EQ(host.LastMessage(), "请输入一个介于 1 和 100 之间的整数。");
    EXPECT_EQ(Button(d), "开始");

    d.GetDlgItemAs<CEdit>(CDlgCoordBatchFix::kIdThreads)->Type("100");
    Click(d, CDlgCoordBatchFix::kIdStart);
    EXPECT_EQ(Button(d), "停止");
    // The last worker's end reaches the dialog through the UI queue; the text is set there.
    ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return Button(d) == "完毕"; }, 120000));
    EXPECT_EQ(list->GetItemImage(499), kFixDone);
    EXPECT_EQ(list->GetItemText(0, 1), "109.989998,19.995001");
    Click(d, IDCANCEL);
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(ProgramSettings().GetInt(kFixThreadsKey, 0), 100);
  EXPECT_EQ(server.RequestCount(), 500u);

  // The caller's points are replaced only after a yes.
  std::vector<PointF> result = points;
  host.AnswerMessageBox(IDNO);
  EXPECT_FALSE(dlg.GetResult(&result, true));
  EXPECT_EQ(result[0].x, points[0].x);
  host.AnswerMessageBox(IDYES);
  ASSERT_TRUE(dlg.GetResult(&result, true));
  EXPECT_EQ(host.LastMessage(), "是否替换原坐标?");
  EXPECT_NEAR(result[0].x, 109.99f, 1e-4);
  EXPECT_NEAR(result[0].y, 19.995f, 1e-4);
}

TEST_F(CoordBatchFixDialogTest, StopDuringRequestsAndFailedPoints) {
  std::atomic<bool> slow{true};
  server.RoutePrefix("/ag/coord/convert", [&](const test::HttpRequestRecord& r) {
    if (slow.load()) return test::HttpReply::Delayed(120000, ShiftReply(r));
    if (test::QueryValue(r.query, "x") < 0) return test::HttpReply::Ok("{\"x\":\"YWJj\",\"y\":\"YWJj\"}");  // "abc"
    return ShiftReply(r);
  });
  std::vector<PointF> points;
  for (int i = 0; i < 200; ++i) points.push_back({i % 2 ? 100.0f + i * 0.1f : -100.0f - i * 0.1f, 10.0f});
  CDlgCoordBatchFix dlg;
  dlg.SetPoints(points);
  host.AnswerDialog(kCoordBatchFixTemplateId, [&](CDialog& d) {
    d.GetDlgItemAs<CEdit>(CDlgCoordBatchFix::kIdThreads)->Type("50");
    Click(d, CDlgCoordBatchFix::kIdStart);
    ASSERT_TRUE(server.WaitForRequests(50, 60000));
    auto t0 = std::chrono::steady_clock::now();
    Click(d, CDlgCoordBatchFix::kIdStart);  // stop: every worker at once, fetches cancelled
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 10.0);
    EXPECT_EQ(Button(d), "开始");
    EXPECT_EQ(dlg.Fixer().CountState(kFixFailed), 0u);

    slow = false;
    Click(d, CDlgCoordBatchFix::kIdStart);
    ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return Button(d) == "完毕"; }, 120000));
    auto* list = d.GetDlgItemAs<CListCtrl>(CDlgCoordBatchFix::kIdList);
    EXPECT_EQ(list->GetItemImage(0), kFixFailed);  // "abc" is not a number: the point failed
    EXPECT_EQ(list->GetItemImage(1), kFixDone);
    EXPECT_EQ(list->GetItemText(0, 1), "-100.000000,10.000000");
  });
  dlg.DoModal();
  EXPECT_EQ(dlg.Fixer().CountState(kFixFailed), 100u);
  // A list with a failed point is not handed back when the caller asks.
  std::vector<PointF> result = points;
  EXPECT_FALSE(dlg.GetResult(&result, true));
  EXPECT_TRUE(host.MessageTexts().empty());
  ASSERT_TRUE(dlg.GetResult(&result, false));
  EXPECT_EQ(result[0].x, -100.0f);
}

TEST_F(CoordBatchFixDialogTest, WithoutAHostNothingStarts) {
  WriteProfileString(kCoordFixProfileSection, kCoordFixHostKey, " ");
  CDlgCoordBatchFix dlg;
  dlg.SetPoints({{120.0f, 36.0f}});
  host.AnswerDialog(kCoordBatchFixTemplateId, [&](CDialog& d) {
    Click(d, CDlgCoordBatchFix::kIdStart);
    EXPECT_EQ(Button(d), "开始");
  });
  dlg.DoModal();
  EXPECT_EQ(host.LastMessage(), "未设置坐标纠正服务的地址");
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(CoordBatchFixDialogTest, ShellCommandLoadsAFileAndSavesTheCorrectedPoints) {
  server.RoutePrefix("/ag/coord/convert", ShiftReply);
  test::TempDir dir;
  test::WriteTestFile(dir.File("pts.txt"), "120.5,36.25\r\n\r\nname only\r\n121,37\r\n");
  CWnd frame;
  ASSERT_TRUE(frame.Create(nullptr, 0, "frame", 0));
  host.AnswerDialog(kCoordBatchFixTemplateId, [&](CDialog& d) {
    host.AnswerFile({dir.File("pts.txt")});
    Click(d, CDlgCoordBatchFix::kIdLoad);
    EXPECT_EQ(host.LastMessage(), "1行无法转换: 第3行(缺少分隔符)");
    EXPECT_EQ(d.GetDlgItemAs<CListCtrl>(CDlgCoordBatchFix::kIdList)->GetItemCount(), 2);
    Click(d, CDlgCoordBatchFix::kIdStart);
    ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return Button(d) == "完毕"; }, 60000));
    // What the person answers once the dialog is closed.
    host.AnswerMessageBox(IDYES);
    host.AnswerFile({dir.File("fixed.txt")});
    Click(d, IDCANCEL);
  });
  RunCoordBatchFixCommand(&frame);
  EXPECT_EQ(host.LastMessage(), "是否替换原坐标?");
  EXPECT_EQ(test::ReadTestFile(dir.File("fixed.txt")), "120.48999786,36.24499893\r\n120.98999786,36.99499893\r\n");
  frame.DestroyWindow();
}

}  // namespace
}  // namespace velmora
