// The shared 3D device and the scene base rendered headless: device creation once with the fill
// mode from the profile, frames of a window (the product name at the top left), a window of no
// size, the frame after a device loss and the recovery after the reset, text with and without
// the font, the default light; the frustum's planes and cube test against hand-computed planes;
// the arcball's sphere points, drags, wheel steps, key steps and placement against its formulas.
#include "terrain/d3d_scene.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/settings.h"
#include "support/isolated_folders.h"
#include "support/render_artefacts.h"
#include "terrain/arc_ball.h"
#include "terrain/d3d_context.h"
#include "terrain/frustum.h"
#include "tiles/map_view_state.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();
constexpr float kPi = 3.14159265358979323846f;

void ExpectMatrixNear(const D3DXMATRIX& a, const D3DXMATRIX& b, float tolerance) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(a(i, j), b(i, j), tolerance) << "element " << i << j;
}

class DeviceEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // The profile holds no fill mode: the device starts solid.
    ASSERT_TRUE(g_D3DContext.CreateD3DDevice(1)) << Direct3DLastError();
  }
};
[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new DeviceEnvironment);

// A scene that clears to a colour of its own, and can report a device loss during its frame.
class TestScene : public CD3DScene {
 public:
  void DrawScene() override {
    g_pD3DDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear, 1.0f, 0);
    text_result = DrawText3D("Velmora", 0, 0, 0xFFFF00FFu);
    ++drawn;
    if (lose_during_frame) {
      g_pD3DDevice->NotifyDeviceLost();
      lose_during_frame = false;
    }
  }
  D3DCOLOR clear = 0xFF000000u;
  bool lose_during_frame = false;
  int drawn = 0;
  int text_result = -1;
};

CBitmap FrameOf(R3dWindow window) {
  CBitmap frame;
  EXPECT_TRUE(g_pD3DDevice->CopyPresentedFrame(window, &frame));
  return frame;
}

TEST(D3DContext, MadeOnceWithTheFillModeOfTheProfile) {
  IDirect3DDevice9* device = g_pD3DDevice;
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(g_D3DContext.Device(), device);
  EXPECT_EQ(g_D3DContext.FillMode(), kFillModeSolid);
  EXPECT_EQ(g_D3DContext.PresentParameters().BackBufferWidth, 400u);
  EXPECT_EQ(g_D3DContext.PresentParameters().BackBufferHeight, 300u);
  EXPECT_EQ(g_D3DContext.PresentParameters().hDeviceWindow, 1u);
  EXPECT_NE(g_D3DContext.Font(), nullptr);

  // A second call with another window changes nothing, not even with a fill mode in the profile.
  ASSERT_TRUE(WriteProfileInt("3d", "fillmode", kFillModePoint));
  EXPECT_TRUE(g_D3DContext.CreateD3DDevice(2));
  EXPECT_EQ(g_pD3DDevice, device);
  EXPECT_EQ(g_D3DContext.PresentParameters().hDeviceWindow, 1u);
  EXPECT_EQ(g_D3DContext.FillMode(), kFillModeSolid);

  // A context made now reads it; the shared device stays the first one.
  {
    CD3DContext other;
    ASSERT_TRUE(other.CreateD3DDevice(3));
    EXPECT_EQ(other.FillMode(), kFillModePoint);
    EXPECT_NE(other.Device(), device);
    EXPECT_EQ(g_pD3DDevice, device);
  }
  EXPECT_EQ(g_pD3DDevice, device);
  ASSERT_TRUE(WriteProfileString("3d", "fillmode", ""));
}

TEST(D3DScene, FrameShowsTheProductNameOnBlack) {
  TestScene scene;
  scene.Resize(160, 120);
  EXPECT_FLOAT_EQ(scene.Aspect(), 160.0f / 120.0f);
  const float centre[3] = {0, 0, 0}, angles[2] = {0, 0};
  scene.ArcBall().Init(centre, 10, angles);
  ASSERT_EQ(scene.Render(11), D3D_OK);
  const CBitmap frame = FrameOf(11);
  test::SaveTestArtefact(frame, "d3d_scene", "product_name");
  ASSERT_EQ(frame.Width(), 160);
  ASSERT_EQ(frame.Height(), 120);
  int magenta = 0, other = 0;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 160; ++x) {
      const Argb p = frame.GetPixel(x, y);
      if (p == 0xFF000000u) continue;
      if (x >= 140 || y >= 20 || ArgbG(p) > ArgbR(p) / 2) ++other;
      if (ArgbR(p) > 128 && ArgbB(p) > 128) ++magenta;
    }
  EXPECT_GT(magenta, 40);
  EXPECT_EQ(other, 0);
  EXPECT_GT(scene.text_result, 0);
  // After the frame the scene's matrices are identity again.
  D3DXMATRIX id;
  D3DXMatrixIdentity(&id);
  EXPECT_EQ(scene.View(), id);
  EXPECT_EQ(scene.Projection(), id);
}

TEST(D3DScene, WithoutDeviceOrSizeNoFrameIsDrawn) {
  TestScene scene;
  IDirect3DDevice9* device = g_pD3DDevice;
  g_pD3DDevice = nullptr;
  EXPECT_EQ(scene.Render(12), 1);
  g_pD3DDevice = device;
  // A window of no size asks for a frame of no size: the depth surface is refused and the
  // window paints its fallback with the code.
  scene.Resize(0, 0);
  EXPECT_FLOAT_EQ(scene.Aspect(), 1.0f);
  EXPECT_EQ(scene.Render(12), D3DERR_INVALIDCALL);
  EXPECT_EQ(scene.drawn, 0);
}

TEST(D3DScene, FramesResumeAfterTheDeviceIsReset) {
  TestScene scene, other;
  scene.Resize(32, 32);
  other.Resize(32, 32);
  const float centre[3] = {0, 0, 0}, angles[2] = {0, 0};
  scene.ArcBall().Init(centre, 10, angles);
  other.ArcBall().Init(centre, 10, angles);

  // The device is lost while a frame is drawn: its present reports it and the flag is set.
  scene.lose_during_frame = true;
  EXPECT_EQ(scene.Render(13), D3DERR_DEVICELOST);
  EXPECT_TRUE(scene.IsDeviceLost());
  // While the loss lasts a frame draws nothing and reports success, so no fallback is painted;
  // a window without the flag reports the loss.
  EXPECT_EQ(scene.Render(13), D3D_OK);
  EXPECT_EQ(scene.drawn, 1);
  EXPECT_EQ(other.Render(14), D3DERR_DEVICELOST);

  // The loss ends: the first window to render resets the device and asks for another frame.
  g_pD3DDevice->NotifyDeviceRestorable();
  EXPECT_EQ(scene.Render(13), 1);
  EXPECT_FALSE(scene.IsDeviceLost());
  EXPECT_EQ(g_pD3DDevice->TestCooperativeLevel(), D3D_OK);
  // The next frames draw again, in this window and in the others.
  scene.clear = 0xFF204060u;
  EXPECT_EQ(scene.Render(13), D3D_OK);
  EXPECT_EQ(FrameOf(13).GetPixel(31, 31), 0xFF204060u);
  other.clear = 0xFF602040u;
  EXPECT_EQ(other.Render(14), D3D_OK);
  EXPECT_EQ(FrameOf(14).GetPixel(31, 31), 0xFF602040u);

  // A window whose flag is set draws again once another window has reset the device.
  scene.lose_during_frame = true;
  EXPECT_EQ(scene.Render(13), D3DERR_DEVICELOST);
  g_pD3DDevice->NotifyDeviceRestorable();
  EXPECT_EQ(other.Render(14), 1);
  scene.clear = 0xFF0000FFu;
  EXPECT_EQ(scene.Render(13), D3D_OK);
  EXPECT_FALSE(scene.IsDeviceLost());
  EXPECT_EQ(FrameOf(13).GetPixel(0, 31), 0xFF0000FFu);
}

TEST(D3DScene, TextRectangleAndMissingFont) {
  const R3dRect r = Text3DRect("a\nb", 5, 7);
  EXPECT_EQ(r.left, 5);
  EXPECT_EQ(r.top, 7);
  EXPECT_EQ(r.Width(), 60);
  EXPECT_EQ(r.Height(), 40);
  EXPECT_EQ(Text3DRect("地图", 0, 0).Width(), 120);  // bytes, not characters

  // Without a font nothing is drawn and the frame still renders.
  ID3DXFont* font = g_D3DContext.Font();
  font->AddRef();
  g_D3DContext.SetFont(nullptr);
  TestScene scene;
  scene.Resize(64, 24);
  const float centre[3] = {0, 0, 0}, angles[2] = {0, 0};
  scene.ArcBall().Init(centre, 10, angles);
  EXPECT_EQ(scene.Render(15), D3D_OK);
  EXPECT_EQ(scene.text_result, 0);
  const CBitmap frame = FrameOf(15);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_EQ(frame.GetPixel(x, y), 0xFF000000u) << x << "," << y;
  EXPECT_EQ(DrawText3D("Velmora", 0, 0, 0xFFFFFFFFu), 0);
  g_D3DContext.SetFont(font);
}

TEST(D3DScene, DefaultLight) {
  SetupDefaultLight();
  uint32_t v = 0;
  g_pD3DDevice->GetRenderState(D3DRS_AMBIENT, &v);
  EXPECT_EQ(v, 0xFF888888u);
  g_pD3DDevice->GetRenderState(D3DRS_LIGHTING, &v);
  EXPECT_EQ(v, 1u);
  D3DLIGHT9 light;
  ASSERT_EQ(g_pD3DDevice->GetLight(0, &light), D3D_OK);
  int on = 0;
  g_pD3DDevice->GetLightEnable(0, &on);
  EXPECT_EQ(on, 1);
  EXPECT_EQ(light.Type, D3DLIGHT_DIRECTIONAL);
  EXPECT_EQ(light.Range, 1000.0f);
  EXPECT_EQ(light.Diffuse.r, 1.0f);
  EXPECT_EQ(light.Diffuse.a, 0.0f);
  // (0, -1, 1) turned back by a yaw of one radian: (-sin 1, -1, cos 1) / sqrt 2.
  const float s = std::sqrt(2.0f);
  EXPECT_NEAR(light.Direction.x, -std::sin(1.0f) / s, 1e-6);
  EXPECT_NEAR(light.Direction.y, -1.0f / s, 1e-6);
  EXPECT_NEAR(light.Direction.z, std::cos(1.0f) / s, 1e-6);
}

TEST(Frustum, PlanesAndCubes) {
  D3DXMATRIX view, proj;
  D3DXMatrixIdentity(&view);
  D3DXMatrixPerspectiveFovLH(&proj, kPi / 2, 1.0f, 1.0f, 100.0f);
  CFrustum f;
  f.Build(&proj, &view);
  const float h = 1.0f / std::sqrt(2.0f);
  const float expected[6][4] = {
      {-h, 0, h, 0}, {h, 0, h, 0}, {0, h, h, 0}, {0, -h, h, 0}, {0, 0, -1, 100}, {0, 0, 1, -100.0f / 199.0f},
  };
  for (int p = 0; p < CFrustum::kPlaneCount; ++p)
    for (int i = 0; i < 4; ++i)
      EXPECT_NEAR(f.PlaneOf(p)[i], expected[p][i], 1e-5 * (1 + std::fabs(expected[p][i]))) << "plane " << p << " " << i;

  EXPECT_TRUE(f.CubeInFrustum(0, 0, 50, 1));
  EXPECT_FALSE(f.CubeInFrustum(0, 0, 150, 1));
  EXPECT_FALSE(f.CubeInFrustum(60, 0, 50, 1));  // right of the right plane
  EXPECT_TRUE(f.CubeInFrustum(50, 0, 50, 1));   // straddles it
  EXPECT_FALSE(f.CubeInFrustum(12, 0, 10, 1));  // a corner on the right plane counts as outside
  EXPECT_TRUE(f.CubeInFrustum(12, 0, 10, 1.01f));
  EXPECT_FALSE(f.CubeInFrustum(0, 0, -5, 1));   // behind the camera

  // The view moves the world: a camera 10 units back sees z = -5 and not z = 95.
  D3DXMatrixTranslation(&view, 0, 0, 10);
  f.Build(&proj, &view);
  EXPECT_TRUE(f.CubeInFrustum(0, 0, -5, 1));
  EXPECT_FALSE(f.CubeInFrustum(0, 0, 95, 1));

  // Without matrices the device's transforms are used.
  g_pD3DDevice->SetTransform(D3DTS_PROJECTION, &proj);
  g_pD3DDevice->SetTransform(D3DTS_VIEW, &view);
  CFrustum from_device;
  from_device.Build(nullptr, nullptr);
  for (int p = 0; p < CFrustum::kPlaneCount; ++p)
    for (int i = 0; i < 4; ++i) EXPECT_EQ(from_device.PlaneOf(p)[i], f.PlaneOf(p)[i]);
}

// The 2D map view as the arcball reads it: a camera at a zoom.
class MapAtZoom : public IMapViewState {
 public:
  explicit MapAtZoom(double zoom) { camera_.zoom = zoom; }
  MapCamera GetCamera() const override { return camera_; }
  void GetViewBounds(float top_left[2], float bottom_right[2]) const override {
    top_left[0] = top_left[1] = bottom_right[0] = bottom_right[1] = 0;
  }
  std::vector<MapLayer> CopyLayerList() const override { return {}; }

 private:
  MapCamera camera_;
};

TEST(ArcBall, SpherePoints) {
  CArcBall ball;
  ball.SetWindowSize(200, 100);
  auto near = [](const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return std::fabs(a.x - b.x) < 1e-6f && std::fabs(a.y - b.y) < 1e-6f && std::fabs(a.z - b.z) < 1e-6f;
  };
  EXPECT_TRUE(near(ball.ScreenToSphere(100, 50), D3DXVECTOR3(0, 0, 1)));
  EXPECT_TRUE(near(ball.ScreenToSphere(150, 50), D3DXVECTOR3(-0.5f, 0, std::sqrt(0.75f))));
  EXPECT_TRUE(near(ball.ScreenToSphere(100, 75), D3DXVECTOR3(0, 0.5f, std::sqrt(0.75f))));
  // Outside the disc: on the rim.
  const float r = 1.0f / std::sqrt(2.0f);
  EXPECT_TRUE(near(ball.ScreenToSphere(0, 0), D3DXVECTOR3(r, -r, 0)));
  // Halves in whole pixels: 201 / 2 = 100.
  ball.SetWindowSize(201, 101);
  EXPECT_TRUE(near(ball.ScreenToSphere(100, 50), D3DXVECTOR3(0, 0, 1)));
  // No window size: the front of the sphere, never a division by zero.
  ball.SetWindowSize(0, 0);
  EXPECT_TRUE(near(ball.ScreenToSphere(10, 10), D3DXVECTOR3(0, 0, 1)));

  const float a[3] = {0.6f, 0, 0.8f};
  const D3DXQUATERNION same = CArcBall::QuatFromVectors(a, a);
  EXPECT_NEAR(same.x, 0, 1e-7);
  EXPECT_NEAR(same.y, 0, 1e-7);
  EXPECT_NEAR(same.z, 0, 1e-7);
  EXPECT_NEAR(same.w, 1, 1e-6);
}

TEST(ArcBall, DragTurnsTheRotationAndRestarts) {
  CArcBall ball;
  ball.SetWindowSize(200, 100);
  const float centre[3] = {0, 0, 0}, angles[2] = {-90, 0};
  SetCurrentMapView(nullptr);
  ball.Init(centre, 10, angles);  // yaw -90 + 90 and no pitch: identity
  D3DXMATRIX id;
  D3DXMatrixIdentity(&id);
  ExpectMatrixNear(ball.Rotation(), id, 1e-6f);

  // From the middle to half way right: (0, 0, 1) to (-0.5, 0, 0.866), the quaternion
  // (0, -0.5, 0, 0.866), a turn of -60 degrees about y.
  ball.BeginDrag(100, 50);
  ball.Drag(150, 50);
  D3DXMATRIX turn;
  D3DXMatrixRotationY(&turn, -kPi / 3);
  ExpectMatrixNear(ball.Rotation(), turn, 1e-5f);
  // The drag restarts at the new point with no turn of its own.
  EXPECT_EQ(ball.Quaternion().w, 1.0f);
  EXPECT_NEAR(ball.DragStart().x, -0.5f, 1e-6);
  // A move to the same point leaves the rotation as it is; the next one adds its turn.
  ball.Drag(150, 50);
  ExpectMatrixNear(ball.Rotation(), turn, 1e-5f);
  ball.Drag(100, 50);
  ExpectMatrixNear(ball.Rotation(), id, 1e-5f);
}

TEST(ArcBall, WheelKeysAndPlacement) {
  CArcBall ball;
  const float centre[3] = {1, 2, 3}, flat[2] = {-90, 0};
  SetCurrentMapView(nullptr);
  ball.Init(centre, 100, flat);
  EXPECT_FLOAT_EQ(ball.Radius(), 105.0f);
  // The centre is seen straight ahead at the radius.
  D3DXMATRIX view;
  ball.GetViewMatrix(&view);
  D3DXVECTOR3 seen;
  const D3DXVECTOR3 c(1, 2, 3);
  D3DXVec3TransformCoord(&seen, &c, &view);
  EXPECT_NEAR(seen.x, 0, 1e-5);
  EXPECT_NEAR(seen.y, 0, 1e-5);
  EXPECT_NEAR(seen.z, 105, 1e-4);

  // Ten wheel steps outward: 1.1^10; the scene's near and far planes follow.
  for (int i = 0; i < 10; ++i) ball.Zoom(true);
  EXPECT_NEAR(ball.Radius(), 105.0f * std::pow(1.1f, 10.0f), 1e-2);
  ball.Zoom(false);
  EXPECT_NEAR(ball.Radius(), 105.0f * std::pow(1.1f, 10.0f) * 0.9f, 1e-2);
  class CameraScene : public CD3DScene {
   public:
    using CD3DScene::SetupCamera;
  } scene;
  scene.Resize(100, 100);
  scene.ArcBall() = ball;
  scene.SetupCamera();
  const D3DXMATRIX& p = scene.Projection();
  const float zn = -p(3, 2) / p(2, 2), zf = zn * p(2, 2) / (p(2, 2) - 1);
  EXPECT_NEAR(zn, ball.Radius() * 0.1f, 1e-2);
  EXPECT_NEAR(zf, ball.Radius() * 10.0f, 1.0f);

  // Arrow keys: a hundredth of the distance per press.
  const float at200[3] = {0, 0, 0};
  ball.Init(at200, 200.0f / 1.05f, flat);
  ball.Pan(0.01f, 0);
  EXPECT_NEAR(ball.Centre().x, 2.0f, 1e-4);
  ball.Pan(0, -0.01f);
  EXPECT_NEAR(ball.Centre().y, -2.0f, 1e-4);

  // The pitch depends on the 2D map's zoom: below 6 the pitch is turned as given, from 6 on it
  // is taken from 45 degrees.
  const float angles[2] = {0, 30};
  D3DXMATRIX ry, rx, expected;
  D3DXMatrixRotationY(&ry, kPi / 2);
  MapAtZoom low(5.9), high(6.0);
  SetCurrentMapView(&low);
  ball.Init(centre, 10, angles);
  D3DXMatrixRotationX(&rx, -30 * kPi / 180);
  expected = ry * rx;
  ExpectMatrixNear(ball.Rotation(), expected, 1e-6f);
  SetCurrentMapView(&high);
  ball.Init(centre, 10, angles);
  D3DXMatrixRotationX(&rx, 15 * kPi / 180);
  expected = ry * rx;
  ExpectMatrixNear(ball.Rotation(), expected, 1e-6f);
  SetCurrentMapView(nullptr);
}

}  // namespace
}  // namespace velmora
