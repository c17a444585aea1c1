// The 3D scene objects on the headless device: map polylines lifted with their heights and the
// height factor, drawn in their colour; satellites whose track lies on the orbit model's
// positions and whose icon is drawn where they are; COLLADA models we wrote read with their
// vertex counts (checked against assimp), transforms, axes and materials, drawn lit; and COLLADA
// files that are missing, cut short or hostile refused with a reason, leaving no model.
#include <assimp/cimport.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>

#include "core/geodesy.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "platform/gfx/image_codec.h"
#include "support/isolated_folders.h"
#include "support/render_artefacts.h"
#include "shapes/polyline_shape.h"
#include "terrain/3d_line.h"
#include "terrain/3d_model.h"
#include "terrain/3d_satellite.h"
#include "terrain/collada_reader.h"
#include "terrain/d3d_context.h"
#include "terrain/d3d_scene.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();
constexpr float kPi = 3.14159265358979323846f;

class DeviceEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(g_D3DContext.CreateD3DDevice(1)) << Direct3DLastError(); }
};
[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new DeviceEnvironment);

// A scene with the camera and the drawing given by the test.
class LambdaScene : public CD3DScene {
 public:
  void SetupCamera() override {
    D3DXMatrixLookAtLH(&view_, &eye, &at, &up);
    D3DXMatrixPerspectiveFovLH(&projection_, kPi / 4, aspect_, near_plane, far_plane);
  }
  void DrawScene() override {
    g_pD3DDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    draw();
  }
  CBitmap Frame(R3dWindow window, const char* name) {
    EXPECT_EQ(Render(window), D3D_OK);
    CBitmap frame;
    EXPECT_TRUE(g_pD3DDevice->CopyPresentedFrame(window, &frame));
    test::SaveTestArtefact(frame, "scene_objects", name);
    return frame;
  }
  D3DXVECTOR3 eye{0, 0, -5}, at{0, 0, 0}, up{0, 1, 0};
  float near_plane = 0.1f, far_plane = 100.0f;
  std::function<void()> draw = [] {};
};

D3DXVECTOR3 Xyz(float lng, float lat, float km) {
  D3DXVECTOR3 p;
  LngLatToXYZ(lng, lat, km, &p.x, &p.y, &p.z);
  return p;
}

std::vector<LineVertex> Vertices(IDirect3DVertexBuffer9* buffer, size_t count) {
  std::vector<LineVertex> out(count);
  void* data = nullptr;
  EXPECT_EQ(buffer->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
  std::memcpy(out.data(), data, count * sizeof(LineVertex));
  buffer->Unlock();
  return out;
}

// ---- lines --------------------------------------------------------------------------------------

TEST(Line3D, PointsLiftedWithTheirHeightsAndTheFactor) {
  ProgramSettings().SetIntPair("REG_DEM_FACTOR", IntPair{2, 100});
  PolylinePoints points;
  points.lnglat = {116.0f, 39.5f, 116.5f, 39.5f, 117.0f, 39.5f};
  points.heights = {1000.0f};  // fewer heights than points
  points.color = 0xFF00FF00u;
  C3DLine line(points);
  ProgramSettings().Remove("REG_DEM_FACTOR");
  ASSERT_EQ(line.PointCount(), 3u);
  const std::vector<LineVertex> v = Vertices(line.Buffer(), 3);
  const D3DXVECTOR3 first = Xyz(116.0f, 39.5f, 2.1f), second = Xyz(116.5f, 39.5f, 0.1f);
  EXPECT_NEAR(v[0].x, first.x, 1e-3);
  EXPECT_NEAR(v[0].y, first.y, 1e-3);
  EXPECT_NEAR(v[0].z, first.z, 1e-3);
  EXPECT_NEAR(v[1].x, second.x, 1e-3);  // no height: the offset alone
  EXPECT_EQ(v[2].color, 0xFF00FF00u);
  // The bounding box's middle and diagonal.
  const D3DXVECTOR3 lo(std::min({v[0].x, v[1].x, v[2].x}), std::min({v[0].y, v[1].y, v[2].y}),
                       std::min({v[0].z, v[1].z, v[2].z}));
  const D3DXVECTOR3 hi(std::max({v[0].x, v[1].x, v[2].x}), std::max({v[0].y, v[1].y, v[2].y}),
                       std::max({v[0].z, v[1].z, v[2].z}));
  EXPECT_NEAR(line.Centre().x, (lo.x + hi.x) / 2, 1e-3);
  const D3DXVECTOR3 diagonal = hi - lo;
  EXPECT_NEAR(line.BoundingSize(), D3DXVec3Length(&diagonal), 1e-3);

  // Drawn from above: a green line through the middle of the picture.
  LambdaScene scene;
  scene.Resize(96, 96);
  scene.at = Xyz(116.5f, 39.5f, 0);
  scene.eye = Xyz(116.5f, 39.5f, 300);
  scene.near_plane = 1, scene.far_plane = 1000;
  scene.draw = [&] { line.Draw(); };
  const CBitmap frame = scene.Frame(31, "line");
  int green = 0;
  for (int y = 40; y < 56; ++y) green += frame.GetPixel(48, y) == 0xFF00FF00u ? 1 : 0;
  EXPECT_GE(green, 1);
  EXPECT_EQ(frame.GetPixel(48, 10), 0xFF000000u);
  EXPECT_EQ(frame.GetPixel(48, 86), 0xFF000000u);

  // One point: a buffer of one vertex and no segment; no point: no buffer.
  PolylinePoints one;
  one.lnglat = {116.5f, 39.5f};
  C3DLine dot(one);
  EXPECT_EQ(dot.PointCount(), 1u);
  scene.draw = [&] { dot.Draw(); };
  const CBitmap empty = scene.Frame(31, "line_one_point");
  for (int y = 0; y < 96; y += 3)
    for (int x = 0; x < 96; x += 3) ASSERT_EQ(empty.GetPixel(x, y), 0xFF000000u);
  C3DLine none{PolylinePoints{}};
  EXPECT_EQ(none.Buffer(), nullptr);
  none.Draw();

  // A map polyline: its points, its values as heights, its colour.
  CPolylineShape shape;
  shape.AddPoint(116.0f, 39.5f);
  shape.AddPoint(116.5f, 39.5f);
  shape.Values() = {500.0f};
  shape.line_color = 0xFF123456u;
  const PolylinePoints from_shape = PolylinePointsOf(shape);
  EXPECT_EQ(from_shape.lnglat, (std::vector<float>{116.0f, 39.5f, 116.5f, 39.5f}));
  EXPECT_EQ(from_shape.heights, std::vector<float>{500.0f});
  C3DLine lifted(shape);
  ASSERT_EQ(lifted.PointCount(), 2u);
  const std::vector<LineVertex> lv = Vertices(lifted.Buffer(), 2);
  const D3DXVECTOR3 at = Xyz(116.0f, 39.5f, 0.5f);
  EXPECT_NEAR(lv[0].x, at.x, 1e-3);
  EXPECT_EQ(lv[1].color, 0xFF123456u);
}

// ---- satellites ---------------------------------------------------------------------------------

SatElements Iss() {
  CSatOrbit orbit;
  EXPECT_EQ(orbit.ParseTle("ISS (ZARYA)\n1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927\n"
                           "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537\n"),
            1);
  SatElements e = orbit.Elements();
  e.color = 0xFFFF8000u;
  return e;
}

TEST(Satellite3D, TrackOnTheOrbitModelsPositionsAndIconAtItsPlace) {
  SatElements elements = Iss();
  CBitmap icon;
  ASSERT_TRUE(icon.Create(16, 16, 0xFF00FFFFu));
  elements.icon_path = kFolders.File("iss.png");
  ASSERT_TRUE(SaveImageFile(icon, elements.icon_path, ImageType::kPng));
  C3DSatellite sat(elements);
  EXPECT_EQ(sat.Name(), "ISS (ZARYA)");
  const double jd = TleEpochToJulian(08264.51782528) + 0.25;
  ASSERT_TRUE(sat.UpdatePosition(jd));
  ASSERT_NE(sat.Icon(), nullptr);

  // 360 points a 360th of a period apart, the 120th at the date.
  const double step = 2 * 3.14159265358979323846 / elements.mean_motion / 1440.0 / 360.0;
  const std::vector<LineVertex> track = Vertices(sat.TrackBuffer(), kSatelliteTrackPoints);
  CSatOrbit orbit(elements);
  for (int i = 0; i < kSatelliteTrackPoints; i += 7) {
    ASSERT_TRUE(orbit.ComputeAt(jd + (i - 120) * step));
    float x, y, z;
    orbit.GetXYZ(&x, &y, &z);
    EXPECT_NEAR(track[size_t(i)].x, x, 0.05) << i;
    EXPECT_NEAR(track[size_t(i)].y, y, 0.05) << i;
    EXPECT_NEAR(track[size_t(i)].z, z, 0.05) << i;
    EXPECT_EQ(track[size_t(i)].color, 0xFFFF8000u);
  }
  // Neighbouring points are a 360th of the orbit apart (about 117 km at the station's height).
  for (int i = 1; i < kSatelliteTrackPoints; ++i) {
    const D3DXVECTOR3 a(track[size_t(i)].x, track[size_t(i)].y, track[size_t(i)].z),
        b(track[size_t(i) - 1].x, track[size_t(i) - 1].y, track[size_t(i) - 1].z);
    const D3DXVECTOR3 gap = a - b;
    ASSERT_GT(D3DXVec3Length(&gap), 90.0f) << i;
    ASSERT_LT(D3DXVec3Length(&gap), 130.0f) << i;
  }

  // Placed where the model says it is now.
  ASSERT_TRUE(orbit.ComputeAt(jd));
  float x, y, z;
  orbit.GetXYZ(&x, &y, &z);
  sat.SetPosition(x, y, z);
  EXPECT_FLOAT_EQ(sat.ModelMatrix()(3, 0), x);
  EXPECT_FLOAT_EQ(sat.ModelMatrix()(3, 2), z);
  float stored[3];
  void* data = nullptr;
  ASSERT_EQ(sat.PositionBuffer()->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
  std::memcpy(stored, data, 12);
  sat.PositionBuffer()->Unlock();
  EXPECT_EQ(stored[0], x);
  EXPECT_EQ(stored[1], y);

  // Seen from 2000 km: the icon, 797 km wide, covers the middle of the picture (about 51 of
  // its 128 rows); the track runs through it.
  LambdaScene scene;
  scene.Resize(128, 128);
  scene.at = D3DXVECTOR3(x, y, z);
  D3DXVECTOR3 out;
  D3DXVec3Normalize(&out, &scene.at);
  scene.eye = scene.at + out * 2000.0f;
  scene.near_plane = 10, scene.far_plane = 20000;
  scene.draw = [&] { sat.Draw(); };
  const CBitmap frame = scene.Frame(32, "satellite");
  EXPECT_EQ(frame.GetPixel(64, 64), 0xFF00FFFFu);
  EXPECT_EQ(frame.GetPixel(64 + 18, 64 - 18), 0xFF00FFFFu);
  EXPECT_NE(frame.GetPixel(64 + 40, 64 + 40), 0xFF00FFFFu);
  int orange = 0;
  for (int py = 0; py < 128; ++py)
    for (int px = 0; px < 128; ++px) orange += frame.GetPixel(px, py) == 0xFFFF8000u ? 1 : 0;
  EXPECT_GT(orange, 20);

  // Elements without a period give no track; the old one stays.
  SatElements still = elements;
  still.mean_motion = 0;
  sat.SetElements(still);
  EXPECT_FALSE(sat.UpdatePosition(jd));
  EXPECT_TRUE(sat.HasTrack());
}

// ---- COLLADA models ----------------------------------------------------------------------------

// A cube of side 2 about the origin, one normal per face, as <triangles>, counter-clockwise seen
// from outside, red, with its +z face green; `transforms` are the node's, `up` the up axis.
std::string CubeDocument(const std::string& up, const std::string& transforms) {
  std::ostringstream positions, normals, p, front;
  for (int i = 0; i < 8; ++i) positions << ((i & 4) ? 1 : -1) << ' ' << ((i & 2) ? 1 : -1) << ' ' << ((i & 1) ? 1 : -1) << ' ';
  // Normal axis, then u and v with u x v = n.
  const int faces[6][3][3] = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},  {{-1, 0, 0}, {0, 0, 1}, {0, 1, 0}},
                              {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}},  {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},
                              {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},  {{0, 0, -1}, {0, 1, 0}, {1, 0, 0}}};
  for (int f = 0; f < 6; ++f) {
    const auto& n = faces[f][0];
    const auto& u = faces[f][1];
    const auto& v = faces[f][2];
    normals << n[0] << ' ' << n[1] << ' ' << n[2] << ' ';
    int corner[4];
    const int su[4] = {-1, 1, 1, -1}, sv[4] = {-1, -1, 1, 1};
    for (int k = 0; k < 4; ++k) {
      int c[3];
      for (int a = 0; a < 3; ++a) c[a] = n[a] + su[k] * u[a] + sv[k] * v[a];
      corner[k] = (c[0] > 0 ? 4 : 0) + (c[1] > 0 ? 2 : 0) + (c[2] > 0 ? 1 : 0);
    }
    for (int k : {0, 1, 2, 0, 2, 3}) (f == 4 ? front : p) << corner[k] << ' ' << f << ' ';
  }
  return R"(<?xml version="1.0" encoding="utf-8"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
  <asset><up_axis>)" + up + R"(</up_axis></asset>
  <library_effects>
    <effect id="red-fx"><profile_COMMON><technique sid="common"><phong>
      <ambient><color>1 0 0 1</color></ambient>
      <diffuse><color>1 0 0 1</color></diffuse>
      <specular><color>0 0 0 1</color></specular>
      <shininess><float>8</float></shininess>
    </phong></technique></profile_COMMON></effect>
    <effect id="green-fx"><profile_COMMON><technique sid="common"><lambert>
      <ambient><color>0 1 0 1</color></ambient><diffuse><color>0 1 0 1</color></diffuse>
    </lambert></technique></profile_COMMON></effect>
  </library_effects>
  <library_materials><material id="red" name="Red"><instance_effect url="#red-fx"/></material>
    <material id="green" name="Green"><instance_effect url="#green-fx"/></material></library_materials>
  <library_geometries>
    <geometry id="cube" name="cube"><mesh>
      <source id="cube-pos"><float_array id="cube-pos-a" count="24">)" + positions.str() + R"(</float_array>
        <technique_common><accessor source="#cube-pos-a" count="8" stride="3">
          <param name="X" type="float"/><param name="Y" type="float"/><param name="Z" type="float"/>
        </accessor></technique_common></source>
      <source id="cube-nrm"><float_array id="cube-nrm-a" count="18">)" + normals.str() + R"(</float_array>
        <technique_common><accessor source="#cube-nrm-a" count="6" stride="3">
          <param name="X" type="float"/><param name="Y" type="float"/><param name="Z" type="float"/>
        </accessor></technique_common></source>
      <vertices id="cube-vtx"><input semantic="POSITION" source="#cube-pos"/></vertices>
      <triangles material="mat" count="10">
        <input semantic="VERTEX" source="#cube-vtx" offset="0"/>
        <input semantic="NORMAL" source="#cube-nrm" offset="1"/>
        <p>)" + p.str() + R"(</p>
      </triangles>
      <triangles material="mat2" count="2">
        <input semantic="VERTEX" source="#cube-vtx" offset="0"/>
        <input semantic="NORMAL" source="#cube-nrm" offset="1"/>
        <p>)" + front.str() + R"(</p>
      </triangles>
    </mesh></geometry>
  </library_geometries>
  <library_visual_scenes><visual_scene id="scene"><node id="box">)" + transforms + R"(
    <instance_geometry url="#cube"><bind_material><technique_common>
      <instance_material symbol="mat" target="#red"/>
      <instance_material symbol="mat2" target="#green"/>
    </technique_common></bind_material></instance_geometry>
  </node></visual_scene></library_visual_scenes>
  <scene><instance_visual_scene url="#scene"/></scene>
</COLLADA>
)";
}

std::string WriteDocument(const std::string& name, const std::string& text) {
  const std::string path = kFolders.File(name);
  EXPECT_TRUE(WriteFileAtomic(path, text.data(), text.size()));
  return path;
}

TEST(ColladaModel, CubeWeWroteLoadsWithItsVertexCount) {
  const std::string path = WriteDocument(
      "cube.dae", CubeDocument("Z_UP", "<translate>10 20 30</translate><scale>2 2 2</scale>"));
  ColladaModel model;
  std::string error;
  ASSERT_TRUE(ReadColladaFile(path, &model, &error)) << error;
  // 8 corners with 6 face normals: each corner once per face it touches.
  EXPECT_EQ(model.VertexCount(), 24u);
  EXPECT_EQ(model.TriangleCount(), 12u);
  ASSERT_EQ(model.materials.size(), 2u);
  EXPECT_EQ(model.materials[0].name, "Red");
  EXPECT_EQ(model.materials[0].diffuse[0], 1.0f);
  EXPECT_EQ(model.materials[0].diffuse[1], 0.0f);
  EXPECT_EQ(model.materials[0].power, 8.0f);

  // Another reader agrees on the counts.
  const aiScene* scene = aiImportFile(path.c_str(), aiProcess_JoinIdenticalVertices | aiProcess_Triangulate);
  ASSERT_NE(scene, nullptr) << aiGetErrorString();
  ASSERT_EQ(scene->mNumMeshes, 2u);
  size_t vertices = 0, faces = 0;
  for (unsigned i = 0; i < scene->mNumMeshes; ++i) {
    vertices += scene->mMeshes[i]->mNumVertices;
    faces += scene->mMeshes[i]->mNumFaces;
  }
  // assimp keeps one mesh per material: the green face's 4 corners apart from the red 20.
  EXPECT_EQ(vertices, 24u);
  EXPECT_EQ(faces, 12u);
  aiReleaseImport(scene);

  // Scaled, moved, and turned from z-up into the views' y-up frame: the corner (1, 1, 1) is at
  // (12, 22, 32) in the file's frame and at (12, 32, 22) here; its normals stay unit vectors.
  bool corner_found = false;
  for (size_t i = 0; i < model.VertexCount(); ++i) {
    const float* p = &model.positions[i * 3];
    const float* n = &model.normals[i * 3];
    EXPECT_NEAR(std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]), 1.0f, 1e-5f);
    if (std::fabs(p[0] - 12) < 1e-4 && std::fabs(p[1] - 32) < 1e-4 && std::fabs(p[2] - 22) < 1e-4) corner_found = true;
  }
  EXPECT_TRUE(corner_found);

  C3DModel object;
  ASSERT_TRUE(object.Load(path, &error)) << error;
  ASSERT_NE(object.Mesh(), nullptr);
  EXPECT_EQ(object.Mesh()->GetNumVertices(), 24u);
  EXPECT_EQ(object.Mesh()->GetNumFaces(), 12u);
  EXPECT_EQ(object.Mesh()->GetFVF(), kModelFvf);
  EXPECT_EQ(object.MaterialCount(), 2u);
  EXPECT_NEAR(object.Centre().x, 10.0f, 1e-4);
  EXPECT_NEAR(object.Centre().y, 30.0f, 1e-4);
  EXPECT_NEAR(object.Centre().z, 20.0f, 1e-4);
}

TEST(ColladaModel, DrawnLitWithItsMaterialFrontFacesOut) {
  const std::string path = WriteDocument("cube_y.dae", CubeDocument("Y_UP", "<rotate>0 1 0 30</rotate>"));
  C3DModel cube;
  std::string error;
  ASSERT_TRUE(cube.Load(path, &error)) << error;
  LambdaScene scene;
  scene.Resize(96, 96);
  scene.draw = [&] {
    SetupDefaultLight();
    cube.Draw();
  };
  const CBitmap frame = scene.Frame(33, "collada_cube");
  // The face toward the eye is the file's +z face (the views' z points away from the eye): green,
  // lit by the grey ambient light at least. Were the faces wound the wrong way, the front faces
  // would be culled and the red far face seen from inside. The side face in view is red; the sky
  // around stays black.
  const Argb centre = frame.GetPixel(48, 48);
  EXPECT_GE((centre >> 8) & 0xFF, 0x80u);
  EXPECT_EQ((centre >> 16) & 0xFF, 0u);
  EXPECT_EQ(centre & 0xFF, 0u);
  int red = 0;
  for (int x = 0; x < 96; ++x) red += ((frame.GetPixel(x, 48) >> 16) & 0xFF) >= 0x40 ? 1 : 0;
  EXPECT_GT(red, 3);
  EXPECT_EQ(frame.GetPixel(2, 2), 0xFF000000u);
}

TEST(ColladaModel, PolygonsPolylistsAndDocumentsWithoutGeometry) {
  const std::string doc = R"(<COLLADA><library_geometries><geometry id="g"><mesh>
    <source id="s"><float_array id="a" count="15">0 0 0 1 0 0 1 1 0 0 1 0 2 2 0</float_array>
      <technique_common><accessor source="#a" count="5" stride="3"/></technique_common></source>
    <vertices id="v"><input semantic="POSITION" source="#s"/></vertices>
    <polylist count="2"><input semantic="VERTEX" source="#v" offset="0"/><vcount>4 3</vcount><p>0 1 2 3 1 4 2</p></polylist>
    <polygons count="1"><input semantic="VERTEX" source="#v" offset="0"/><p>0 1 4</p></polygons>
    <lines count="1"><input semantic="VERTEX" source="#v" offset="0"/><p>0 1</p></lines>
  </mesh></geometry></library_geometries></COLLADA>)";
  ColladaModel model;
  std::string error;
  ASSERT_TRUE(ReadCollada(doc, &model, &error)) << error;
  EXPECT_EQ(model.TriangleCount(), 4u);  // the quad as two, the triangle, the polygon; no line
  EXPECT_EQ(model.VertexCount(), 5u);
  // Normals made from the faces where the file has none: the flat square faces -z here.
  EXPECT_NEAR(model.normals[2], -1.0f, 1e-5);

  ASSERT_TRUE(ReadCollada("<COLLADA><asset/></COLLADA>", &model, &error)) << error;
  EXPECT_EQ(model.VertexCount(), 0u);
  C3DModel empty;
  ASSERT_TRUE(empty.Build(model, &error));
  EXPECT_EQ(empty.Mesh(), nullptr);
  empty.Draw();
}

TEST(ColladaModel, MissingCutShortAndHostileFilesGiveNoModel) {
  const std::string good = CubeDocument("Y_UP", "");
  C3DModel model;
  std::string error;
  ASSERT_TRUE(model.Load(WriteDocument("good.dae", good), &error));
  ID3DXMesh* kept = model.Mesh();

  EXPECT_FALSE(model.Load(kFolders.File("none.dae"), &error));
  EXPECT_NE(error.find("cannot be opened"), std::string::npos) << error;
  EXPECT_EQ(model.Mesh(), kept);

  auto refused = [&](const std::string& text, const std::string& why) {
    ColladaModel out;
    out.positions = {1, 2, 3};
    error.clear();
    EXPECT_FALSE(ReadCollada(text, &out, &error)) << why;
    EXPECT_NE(error.find(why), std::string::npos) << "got: " << error;
    EXPECT_EQ(out.VertexCount(), 0u);
  };
  // Cut short anywhere inside the document.
  for (size_t cut = 1; cut + 20 < good.size(); cut += good.size() / 37) refused(good.substr(0, cut), "");
  refused(good.substr(0, good.size() / 2), "not a COLLADA file");
  refused("<html><body/></html>", "no COLLADA element");

  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string t = good;
    const size_t at = t.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return t.replace(at, from.size(), to);
  };
  refused(replaced("<p>4 0 ", "<p>99 0 "), "position index out of range");
  refused(replaced("<p>4 0 ", "<p>4 77 "), "normal index out of range");
  refused(replaced("count=\"8\" stride=\"3\"", "count=\"9\" stride=\"3\""), "reaches past its array");
  refused(replaced("count=\"8\" stride=\"3\"", "count=\"8\" stride=\"0\""), "reaches past its array");
  refused(replaced("count=\"24\"", "count=\"25\""), "fewer numbers than its count");
  refused(replaced("count=\"24\"", "count=\"4000000000\""), "too large");
  refused(replaced("<triangles material=\"mat\" count=\"10\"", "<triangles material=\"mat\" count=\"11\""),
          "shorter than its triangles");
  refused(replaced("1 -1 -1", "1 nan -1"), "not a number");
  refused(replaced("1 -1 -1", "1 -1e60 -1"), "out of range");  // a double, but no float
  refused(replaced("url=\"#cube\"", "url=\"#nowhere\""), "geometry 'nowhere' is missing");
  refused(replaced("offset=\"1\"", "offset=\"4000000000\""), "offset out of range");
  // Nodes that instance themselves twice over: refused long before they multiply.
  std::string looping = replaced("<node id=\"box\">", "<node id=\"box\"><instance_node url=\"#loop\"/>");
  looping.replace(looping.find("<library_visual_scenes>"), 0,
                  "<library_nodes><node id=\"loop\"><instance_node url=\"#loop\"/><instance_node url=\"#loop\"/>"
                  "</node></library_nodes>");
  refused(looping, "too");
  // Limits of the output.
  ColladaLimits small;
  small.max_vertices = 10;
  ColladaModel out;
  EXPECT_FALSE(ReadCollada(good, &out, &error, small));
  EXPECT_NE(error.find("too many vertices"), std::string::npos) << error;
  EXPECT_EQ(model.Mesh(), kept);
}

}  // namespace
}  // namespace velmora
