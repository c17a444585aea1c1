// C3DObject: the base of every object placed in a 3D scene (globe, meshes, lines, satellites,
// terrain, models), with the centre and size of its bounding box, a name and a world matrix; and
// C3DTexture, the texture holder that meshes and the terrain model carry beside it.
#pragma once
#include <string>

#include "platform/r3d/d3dx_math.h"
#include "platform/r3d/resources.h"

namespace velmora {

class C3DObject {
 public:
  C3DObject();
  virtual ~C3DObject() = default;
  // Draws the object on the shared device inside a frame; the base draws nothing.
  virtual void Draw() {}

  // The middle of the bounding box and the length of its diagonal, as the builders set them.
  D3DXVECTOR3 Centre() const { return D3DXVECTOR3(centre_[0], centre_[1], centre_[2]); }
  float BoundingSize() const { return bounding_size_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  const D3DXMATRIX& World() const { return world_; }
  void SetWorld(const D3DXMATRIX& world) { world_ = world; }

 protected:
  // Centre and size from the corners of a bounding box.
  void SetBounds(const D3DXVECTOR3& min, const D3DXVECTOR3& max);

  float centre_[3] = {0, 0, 0};
  float bounding_size_ = 0;
  std::string name_;
  D3DXMATRIX world_;
};

class C3DTexture {
 public:
  C3DTexture() = default;
  // Releases the texture.
  virtual ~C3DTexture();
  C3DTexture(const C3DTexture&) = delete;
  C3DTexture& operator=(const C3DTexture&) = delete;
  IDirect3DTexture9* Texture() const { return texture_; }

 protected:
  IDirect3DTexture9* texture_ = nullptr;
};

}  // namespace velmora
