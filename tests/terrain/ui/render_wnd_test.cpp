// The 3D render window driven through its window procedure: the frame of the scene copied into
// the canvas at the canvas's size; the fill-mode commands and their check marks; wheel, arrow keys
// and drags reaching the arcball (a drag whose moves come more than 50 ms apart turns nothing);
// and the grey fallback with the result code while the device is lost, tried again by a timer
// instead of a tight repaint loop, until the device is back.
#include "terrain/ui/render_wnd.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/ui/ui_dispatcher.h"
#include "support/isolated_folders.h"
#include "support/render_artefacts.h"
#include "terrain/d3d_context.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    ASSERT_TRUE(g_D3DContext.CreateD3DDevice(1)) << Direct3DLastError();
  }
};
[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new Environment);

// The base window with the scene's own drawing (black and the product name).
class TestRenderWnd : public CRenderWnd {
 public:
  int GetViewKind() const override { return kViewGlobe3D; }
  std::string GetName() const override { return "TestRender"; }
};

class RenderWndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(wnd.CreateView(0, nullptr));
    wnd.SetClock([this] { return now; });
    float centre[3] = {0, 0, 0}, angles[2] = {0, 0};
    wnd.ArcBall().Init(centre, 10.0f, angles);
  }
  void TearDown() override { g_D3DContext.SetFillMode(kFillModeSolid); }
  LRESULT Send(UINT msg, WPARAM w = 0, LPARAM l = 0) { return wnd.SendMessage(msg, w, l); }
  CBitmap Paint(int width, int height) {
    CBitmap canvas;
    EXPECT_TRUE(canvas.Create(width, height));
    EXPECT_TRUE(wnd.OnPaint(canvas));
    return canvas;
  }

  TestRenderWnd wnd;
  uint64_t now = 1000;
};

TEST_F(RenderWndTest, PaintsTheScenesFrameAtTheCanvasSize) {
  const CBitmap canvas = Paint(160, 90);
  test::SaveTestArtefact(canvas, "render_wnd", "scene");
  EXPECT_EQ(wnd.LastRenderResult(), D3D_OK);
  EXPECT_EQ(wnd.Viewport().Width, 160u);
  EXPECT_EQ(wnd.Viewport().Height, 90u);
  EXPECT_FLOAT_EQ(wnd.Aspect(), 160.0f / 90.0f);
  EXPECT_EQ(canvas.GetPixel(100, 60), 0xFF000000u);
  int magenta = 0;  // "Velmora" at the top left
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 80; ++x) {
      const Argb p = canvas.GetPixel(x, y);
      magenta += ((p >> 16) & 0xFF) > 0x80 && (p & 0xFF) > 0x80 && ((p >> 8) & 0xFF) < 0x40 ? 1 : 0;
    }
  EXPECT_GT(magenta, 10);
  // WM_SIZE tells the scene and the arcball.
  Send(WM_SIZE, 0, MAKELPARAM(200, 100));
  EXPECT_EQ(wnd.Viewport().Width, 200u);
  EXPECT_EQ(wnd.ArcBall().ScreenToSphere(100, 50), D3DXVECTOR3(0, 0, 1));
  EXPECT_EQ(Send(WM_ERASEBKGND), 1);
}

TEST_F(RenderWndTest, FillModeCommands) {
  g_D3DContext.SetFillMode(kFillModeSolid);
  const unsigned before = wnd.InvalidateCount();
  Send(WM_COMMAND, ID_FILLMODE_CYCLE);
  EXPECT_EQ(g_D3DContext.FillMode(), kFillModePoint);  // solid cycles to points
  Send(WM_COMMAND, ID_FILLMODE_CYCLE);
  EXPECT_EQ(g_D3DContext.FillMode(), kFillModeWireframe);
  EXPECT_GT(wnd.InvalidateCount(), before);
  Send(WM_COMMAND, ID_FILLMODE_SOLID);
  EXPECT_EQ(g_D3DContext.FillMode(), kFillModeSolid);
  Send(WM_COMMAND, ID_FILLMODE_POINT);
  EXPECT_EQ(g_D3DContext.FillMode(), kFillModePoint);
  for (UINT id = ID_FILLMODE_POINT; id <= ID_FILLMODE_SOLID; ++id) {
    CCmdUI ui(id);
    wnd.UpdateCommandUI(ui);
    EXPECT_EQ(ui.Checked(), id == ID_FILLMODE_POINT ? 1 : 0) << id;
  }
  // Points: the product name's glyphs become scattered dots.
  const CBitmap points = Paint(160, 90);
  test::SaveTestArtefact(points, "render_wnd", "points");
}

TEST_F(RenderWndTest, WheelKeysAndDragsReachTheArcball) {
  const float radius = wnd.ArcBall().Radius();
  Send(WM_MOUSEWHEEL, MAKEWPARAM(0, 0), 0);  // a delta of 0 counts as inward
  EXPECT_FLOAT_EQ(wnd.ArcBall().Radius(), radius * 0.9f);
  Send(WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
  EXPECT_FLOAT_EQ(wnd.ArcBall().Radius(), radius * 0.9f * 1.1f);

  const D3DXVECTOR3 centre = wnd.ArcBall().Centre();
  const float r = wnd.ArcBall().Radius();
  Send(WM_KEYDOWN, VK_RIGHT);
  EXPECT_FLOAT_EQ(wnd.ArcBall().Centre().x, centre.x + 0.01f * r);
  Send(WM_KEYDOWN, VK_UP);
  EXPECT_FLOAT_EQ(wnd.ArcBall().Centre().y, centre.y - 0.01f * r);
  const unsigned count = wnd.InvalidateCount();
  Send(WM_KEYDOWN, 'A');  // another key only repaints
  EXPECT_FLOAT_EQ(wnd.ArcBall().Centre().x, centre.x + 0.01f * r);
  EXPECT_GT(wnd.InvalidateCount(), count);

  Send(WM_SIZE, 0, MAKELPARAM(200, 200));
  const D3DXMATRIX start = wnd.ArcBall().Rotation();
  Send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 100));
  EXPECT_TRUE(wnd.HasCapture());
  // Every move 60 ms after the one before: nothing turns.
  for (int i = 1; i <= 5; ++i) {
    now += 60;
    Send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(100 + 10 * i, 100));
  }
  EXPECT_EQ(std::memcmp(&start, &wnd.ArcBall().Rotation(), sizeof start), 0);
  // Moves 10 ms apart turn the view.
  for (int i = 1; i <= 5; ++i) {
    now += 10;
    Send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(150 + 5 * i, 100));
  }
  EXPECT_NE(std::memcmp(&start, &wnd.ArcBall().Rotation(), sizeof start), 0);
  Send(WM_LBUTTONUP, 0, MAKELPARAM(175, 100));
  EXPECT_FALSE(wnd.HasCapture());
  // The mouse takes the keyboard focus.
  EXPECT_EQ(GetFocusWindow(), &wnd);
}

TEST_F(RenderWndTest, GreyFallbackWhileTheDeviceIsLostTriedAgainByATimer) {
  ASSERT_EQ(Paint(120, 60).GetPixel(60, 30), 0xFF000000u);
  g_pD3DDevice->NotifyDeviceLost();
  const size_t timers = UiDispatcher().TimerCount();
  CBitmap canvas = Paint(120, 60);
  test::SaveTestArtefact(canvas, "render_wnd", "device_lost");
  EXPECT_EQ(wnd.LastRenderResult(), D3DERR_DEVICELOST);
  EXPECT_EQ(canvas.GetPixel(100, 50), kRenderFallbackColor);
  int ink = 0;  // the result code in hexadecimal at the top left
  for (int y = 0; y < 14; ++y)
    for (int x = 0; x < 60; ++x) ink += (canvas.GetPixel(x, y) & 0xFF) < 0x80 ? 1 : 0;
  EXPECT_GT(ink, 10);
  // Not a tight loop: one timer, and the window does not ask for its own repaint.
  EXPECT_EQ(UiDispatcher().TimerCount(), timers + 1);
  const unsigned count = wnd.InvalidateCount();
  Paint(120, 60);
  EXPECT_EQ(wnd.InvalidateCount(), count);
  EXPECT_EQ(UiDispatcher().TimerCount(), timers + 1);

  // Back: the timer's repaint resets the device (a grey "1" once), then the scene draws again.
  g_pD3DDevice->NotifyDeviceRestorable();
  Send(WM_TIMER, ID_RENDER_RETRY_TIMER);
  EXPECT_EQ(UiDispatcher().TimerCount(), timers);
  EXPECT_GT(wnd.InvalidateCount(), count);
  canvas = Paint(120, 60);
  EXPECT_EQ(wnd.LastRenderResult(), 1);
  canvas = Paint(120, 60);
  EXPECT_EQ(wnd.LastRenderResult(), D3D_OK);
  EXPECT_EQ(canvas.GetPixel(100, 50), 0xFF000000u);
}

}  // namespace
}  // namespace velmora
