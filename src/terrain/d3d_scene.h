// CD3DScene: what every 3D window embeds to render one frame of its scene through the shared
// device: the projection, view and world matrices, the viewport, the arcball camera and the
// render steps a window may replace (states, camera, scene drawing). Beside it the shared text
// and light helpers of the 3D views.
#pragma once
#include <cstdint>

#include "platform/gfx/bitmap.h"
#include "platform/r3d/device.h"
#include "terrain/arc_ball.h"

namespace velmora {

class CD3DScene {
 public:
  // Projection and world identity; view from (0, 0, 50) toward (0, 0, -10), up +y; viewport all
  // zero; aspect 1; the arcball not placed yet.
  CD3DScene();
  virtual ~CD3DScene() = default;

  // Renders one frame into the window's frame under the device lock:
  //   1 without a device (the window paints its fallback);
  //   0 without drawing while the window's device-lost flag holds and the device is still lost;
  //   1 after a reset of a device that asked for one (the next frame draws);
  //   the device's result when it is lost, when the frame's surfaces cannot be made or when
  //   the present fails (a present that reports the loss sets the flag);
  //   0 for a frame drawn.
  // The flag is cleared once the device works again, so the window draws again after a reset.
  HRESULT Render(R3dWindow window);
  // Viewport (0, 0, width, height, 0, 1), aspect width / height (1 while the height is 0), and
  // the arcball's window size.
  void Resize(uint32_t width, uint32_t height);
  // Render, then the presented frame copied into the canvas (of the viewport's size); where no
  // frame could be had, the canvas is painted grey with the result in hexadecimal and *drawn is
  // false. Returns Render's result.
  HRESULT RenderInto(R3dWindow window, CBitmap& canvas, bool* drawn);

  // The owning window's mouse, shared by every window that shows a scene: a left-button press
  // starts an arcball drag; a move with the left button down within 50 ms of the previous move
  // turns the arcball (true: the window repaints), a later one only starts over from there.
  void SceneButtonDown(int x, int y);
  bool SceneMouseMove(bool left_down, int x, int y, uint32_t now_ms);

  virtual void RestoreDeviceObjects() {}
  virtual void InvalidateDeviceObjects() {}
  // Lighting on with white ambient light and specular highlights; stage 0 modulates the texture
  // by the diffuse colour and takes the texture's alpha; linear filters; depth test and writes
  // on; no fog.
  virtual void SetupRenderStates();
  // View from the arcball; perspective of pi/4 with near and far at 0.1 and 10 times the
  // arcball's radius.
  virtual void SetupCamera();
  // Clears to black and depth 1, and draws the product name at the top left.
  virtual void DrawScene();

  const D3DXMATRIX& Projection() const { return projection_; }
  const D3DXMATRIX& View() const { return view_; }
  const D3DXMATRIX& World() const { return world_; }
  const D3DVIEWPORT9& Viewport() const { return viewport_; }
  float Aspect() const { return aspect_; }
  bool IsDeviceLost() const { return device_lost_ != 0; }
  CArcBall& ArcBall() { return arcball_; }

 protected:
  D3DXMATRIX projection_;
  D3DXMATRIX view_;
  D3DXMATRIX world_;
  float aspect_ = 1.0f;
  int device_lost_ = 0;
  D3DVIEWPORT9 viewport_;
  CArcBall arcball_;
  // The owning window's last mouse position and the tick of its last mouse move.
  int last_x_ = 0;
  int last_y_ = 0;
  uint32_t last_tick_ = 0;
};

// The grey of a window whose frame could not be rendered.
inline constexpr Argb kRenderFallbackColor = 0xFFC8C8C8u;
// Paints the canvas in kRenderFallbackColor with the code in hexadecimal at the top left.
void PaintRenderFallback(CBitmap& canvas, HRESULT result);

// The rectangle text gets: 20 pixels per byte wide and 20 pixels per line high.
R3dRect Text3DRect(const char* text, int x, int y);
// Draws UTF-8 text with the shared font inside a frame; the font's result (the text's height),
// 0 when there is no font.
int DrawText3D(const char* text, int x, int y, D3DCOLOR color);
// Ambient light 0xFF888888 and one white directional light, on the shared device.
void SetupDefaultLight();

}  // namespace velmora
