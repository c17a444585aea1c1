// The sound shape: its stored form (two floats and a GBK path) read back and played on the null
// sound device, damaged bytes refused without change, a missing sound leaving it silent; its
// bounds, bound rectangle, info text and the place its sound is heard from; drawing with the
// icon of the program folder; and the icon file reader on PNG and bitmap entries and damage.
#include "velmora_build_paths.h"
#include "shapes/sound_shape.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/archive.h"
#include "core/geodesy.h"
#include "platform/fs.h"
#include "platform/gfx/graphics.h"
#include "platform/gfx/image_codec.h"
#include "support/isolated_folders.h"
#include "support/render_artefacts.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

const char kProgramDir[] = VELMORA_BUILD_DIR "/test-artefacts/sound_shape_program/";
const test::TempDir& kFolders = test::IsolatedFolders(kProgramDir);

std::vector<uint8_t> IconWithEntry(const std::vector<uint8_t>& entry, int side) {
  std::vector<uint8_t> ico = {0, 0, 1, 0, 1, 0};
  std::vector<uint8_t> dir(16, 0);
  dir[0] = static_cast<uint8_t>(side), dir[1] = static_cast<uint8_t>(side);
  dir[4] = 1, dir[6] = 32;
  const uint32_t size = static_cast<uint32_t>(entry.size()), offset = 22;
  std::memcpy(&dir[8], &size, 4);
  std::memcpy(&dir[12], &offset, 4);
  ico.insert(ico.end(), dir.begin(), dir.end());
  ico.insert(ico.end(), entry.begin(), entry.end());
  return ico;
}

CBitmap Speaker(int side) {
  CBitmap b;
  EXPECT_TRUE(b.Create(side, side, 0));
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x)
      if (x >= side / 4 && x < side * 3 / 4 && y >= side / 4 && y < side * 3 / 4) b.SetPixel(x, y, 0xFF0000C0u);
  return b;
}

class SoundShapeEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_EQ(SoundDevice().Open(SoundDeviceChoice::kNull), SoundBackend::kNull);
    std::vector<uint8_t> png;
    ASSERT_TRUE(EncodeImage(Speaker(32), ImageType::kPng, &png));
    ASSERT_TRUE(WriteFileAtomic(std::string(kProgramDir) + kSoundIconFile, IconWithEntry(png, 32)));
    WaveData wave;
    wave.format = WaveFormat{2, 8000, 16};
    wave.samples.assign(8000 * 4, 0x10);
    ASSERT_TRUE(WriteFileAtomic(Wave(), BuildWaveFile(wave.format, wave.samples)));
  }
  static std::string Wave() { return kFolders.File("海浪声.wav"); }
};
[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new SoundShapeEnvironment);

TEST(SoundShape, StoredFormReadsBackAndPlays) {
  CSoundShape shape;
  EXPECT_EQ(shape.GetType(), 40027);
  EXPECT_TRUE(shape.AddPoint(116.25f, 39.5f));
  std::string error;
  ASSERT_TRUE(shape.SetSoundPath(SoundShapeEnvironment::Wave(), &error)) << error;
  EXPECT_TRUE(shape.IsPlaying());
  EXPECT_EQ(shape.SoundBuffer()->GetStatus(), kSoundPlaying | kSoundLooping);
  EXPECT_EQ(shape.GetInfoText(), "海浪声.wav");

  ArchiveWriter out;
  shape.Serialize(out);
  const std::vector<uint8_t>& bytes = out.Bytes();
  // Two floats, then the path as GBK bytes behind a one-byte length.
  float lng, lat;
  std::memcpy(&lng, bytes.data(), 4);
  std::memcpy(&lat, bytes.data() + 4, 4);
  EXPECT_EQ(lng, 116.25f);
  EXPECT_EQ(lat, 39.5f);
  ArchiveWriter path_only;
  path_only.String(SoundShapeEnvironment::Wave());
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 8, bytes.end()), path_only.Bytes());

  CSoundShape loaded;
  ArchiveReader in(bytes);
  loaded.Serialize(in);
  EXPECT_TRUE(in.AtEnd());
  EXPECT_EQ(loaded.Longitude(), 116.25f);
  EXPECT_EQ(loaded.Latitude(), 39.5f);
  EXPECT_EQ(loaded.SoundPath(), SoundShapeEnvironment::Wave());
  ASSERT_TRUE(loaded.IsPlaying());
  // Positional: the stereo file plays mixed to mono, from its start, looping.
  EXPECT_EQ(loaded.SoundBuffer()->Format().channels, 1);
  EXPECT_EQ(loaded.SoundBuffer()->Flags() & kSoundPositional, kSoundPositional);

  // Heard from where it lies in the window: left of the centre, a little above it.
  loaded.ProjectPoints(100.0f, 250.0f, 800, 600);
  float x, y, z;
  loaded.SoundBuffer()->GetPosition(&x, &y, &z);
  EXPECT_FLOAT_EQ(x, -0.75f);
  EXPECT_FLOAT_EQ(y, 50.0f / 300.0f);
  EXPECT_EQ(loaded.ScreenX(), 100.0f);
  const SoundShapeRect rect = loaded.GetBoundRect();
  EXPECT_EQ(rect.left, 100);
  EXPECT_EQ(rect.top, 250);
  EXPECT_EQ(rect.right, 132);
  EXPECT_EQ(rect.bottom, 282);
}

TEST(SoundShape, DamagedBytesAndMissingSounds) {
  CSoundShape shape;
  ASSERT_TRUE(shape.AddPoint(10.0f, 20.0f));
  ArchiveWriter out;
  CSoundShape source;
  source.AddPoint(-70.5f, -33.25f);
  source.SetSoundPath(kFolders.File("none.wav"));
  EXPECT_FALSE(source.IsPlaying());
  source.Serialize(out);

  // Cut anywhere, the bytes are refused and the shape keeps what it had.
  for (size_t cut = 0; cut < out.Bytes().size(); ++cut) {
    ArchiveReader in(out.Bytes().data(), cut);
    EXPECT_THROW(shape.Serialize(in), ArchiveError) << cut;
    EXPECT_EQ(shape.Longitude(), 10.0f);
    EXPECT_EQ(shape.SoundPath(), "");
  }
  std::string why;
  EXPECT_FALSE(shape.LoadStored(std::vector<uint8_t>(out.Bytes().begin(), out.Bytes().begin() + 10), &why));
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(shape.Longitude(), 10.0f);
  // A position that is not a number is refused too.
  ArchiveWriter nan;
  nan.F32(std::nanf(""));
  nan.F32(1.0f);
  nan.String("a.wav");
  ArchiveReader nan_in(nan.Bytes());
  EXPECT_THROW(shape.Serialize(nan_in), ArchiveError);
  EXPECT_EQ(shape.Latitude(), 20.0f);

  // A sound file that is missing or is no wave leaves the shape silent; the load itself holds.
  ArchiveReader in(out.Bytes());
  shape.Serialize(in);
  EXPECT_EQ(shape.Longitude(), -70.5f);
  EXPECT_FALSE(shape.IsPlaying());
  EXPECT_EQ(shape.SoundBuffer(), nullptr);
  ASSERT_TRUE(WriteFileAtomic(kFolders.File("text.wav"), std::vector<uint8_t>{'h', 'i'}));
  std::string error;
  EXPECT_FALSE(shape.SetSoundPath(kFolders.File("text.wav"), &error));
  EXPECT_NE(error.find("not a wave file"), std::string::npos) << error;
  EXPECT_EQ(shape.GetInfoText(), "text.wav");
  shape.SetSoundPath("C:\\sounds\\bell.wav");
  EXPECT_EQ(shape.GetInfoText(), "bell.wav");

  EXPECT_FALSE(shape.AddPoint(std::nanf(""), 0));
  EXPECT_FALSE(shape.AddPoint(0, 90.5f));
  EXPECT_EQ(shape.Longitude(), -70.5f);
}

TEST(SoundShape, AMemberOfTheShapeFamily) {
  // Made by the family's factory, stored with the common fields and the path, read back playing.
  std::unique_ptr<CMapShape> made = CreateShape(kShapeSound);
  ASSERT_TRUE(made);
  auto* sound = dynamic_cast<CSoundShape*>(made.get());
  ASSERT_TRUE(sound);
  EXPECT_EQ(sound->GetType(), 40027);
  EXPECT_EQ(sound->Name(), "声音");
  ASSERT_TRUE(sound->AddPoint(121.5f, 31.25f));
  ASSERT_TRUE(sound->AddPoint(121.75f, 31.5f));  // one position: the second replaces the first
  EXPECT_EQ(sound->PointCount(), 1u);
  sound->SetSoundPath(SoundShapeEnvironment::Wave());
  sound->min_zoom = 8;
  std::string error;
  std::unique_ptr<CMapShape> back = CMapShape::FromStored(kShapeSound, sound->Store(), &error);
  ASSERT_TRUE(back) << error;
  auto* loaded = dynamic_cast<CSoundShape*>(back.get());
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->SoundPath(), SoundShapeEnvironment::Wave());
  EXPECT_EQ(loaded->Longitude(), 121.75f);
  EXPECT_EQ(loaded->min_zoom, 8.0f);
  EXPECT_TRUE(loaded->IsPlaying());
  // A record cut short is refused by the family's loader without an exception.
  std::vector<uint8_t> cut = sound->Store();
  cut.resize(cut.size() - 3);
  EXPECT_FALSE(CMapShape::FromStored(kShapeSound, cut, &error));

  // Drawn and hit through the view's projector; placed in the window as it is drawn.
  CMapProjector p(kKindMercator, 10, 121.75, 31.5, 200, 100);
  CBitmap canvas;
  ASSERT_TRUE(canvas.Create(200, 100, 0xFFFFFFFFu));
  {
    CGraphics g(canvas);
    loaded->Draw(g, p);
  }
  EXPECT_NEAR(loaded->ScreenX(), 100.0f, 0.01f);
  EXPECT_NEAR(loaded->ScreenY(), 50.0f, 0.01f);
  EXPECT_EQ(canvas.GetPixel(100 - 14 + 12, 50 - 31 + 12), 0xFF0000C0u);
  EXPECT_TRUE(loaded->HitTest(p, 100, 40));
  EXPECT_FALSE(loaded->HitTest(p, 160, 90));
  float x, y, z;
  loaded->SoundBuffer()->GetPosition(&x, &y, &z);
  EXPECT_NEAR(x, 0.0f, 1e-4f);
  // Below its zoom range it draws nothing.
  CMapProjector far_out(kKindMercator, 5, 121.75, 31.5, 200, 100);
  EXPECT_FALSE(loaded->HitTest(far_out, 100, 40));

  test::TempDir dir;
  FILE* kml = std::fopen(dir.File("s.kml").c_str(), "w");
  ASSERT_TRUE(kml);
  EXPECT_TRUE(loaded->ExportKml(kml));
  std::fclose(kml);
  const std::optional<std::vector<uint8_t>> text = ReadFileBytes(dir.File("s.kml"));
  ASSERT_TRUE(text);
  const std::string kml_text(text->begin(), text->end());
  EXPECT_NE(kml_text.find("<name>海浪声.wav</name>"), std::string::npos) << kml_text;
  EXPECT_NE(kml_text.find("<coordinates>121.75,31.5,0</coordinates>"), std::string::npos) << kml_text;
}

TEST(SoundShape, BoundsAtTheMiddleOfItsZoomRange) {
  CSoundShape shape;
  shape.AddPoint(116.0f, 40.0f);
  shape.min_zoom = 10;
  shape.max_zoom = 13;  // z = 11, n = 256 * 2048
  shape.UpdateBounds();
  const double span = 360.0 / (256.0 * 2048.0) * 10.0;
  EXPECT_DOUBLE_EQ(shape.IconBounds().west, 116.0 - span / 2);
  EXPECT_DOUBLE_EQ(shape.IconBounds().east, 116.0 + span / 2);
  EXPECT_DOUBLE_EQ(shape.IconBounds().top, 40.0);
  EXPECT_DOUBLE_EQ(shape.IconBounds().bottom, 40.0 - span);
}

TEST(SoundShape, DrawsTheIconAboveItsPoint) {
  CSoundShape shape;
  shape.ProjectPoints(60.0f, 70.0f, 0, 0);
  CBitmap canvas;
  ASSERT_TRUE(canvas.Create(128, 128, 0xFFFFFFFFu));
  {
    CGraphics g(canvas);
    shape.Draw(g);
  }
  test::SaveTestArtefact(canvas, "sound_shape", "icon");
  ASSERT_FALSE(CSoundShape::Icon().IsEmpty());
  // The icon's 16 x 16 blue square starts 8 pixels into it; its top-left is at (60 - 14, 70 - 31).
  EXPECT_EQ(canvas.GetPixel(46 + 8, 39 + 8), 0xFF0000C0u);
  EXPECT_EQ(canvas.GetPixel(46 + 23, 39 + 23), 0xFF0000C0u);
  EXPECT_EQ(canvas.GetPixel(46 + 4, 39 + 4), 0xFFFFFFFFu);  // transparent part
  EXPECT_EQ(canvas.GetPixel(60, 70), 0xFFFFFFFFu);
}

TEST(IconFile, PngAndBitmapEntriesAndDamage) {
  CBitmap out;
  std::string error;
  // The icon that ships.
  const std::optional<std::vector<uint8_t>> shipped = ReadFileBytes(std::string(test::kSourceDataDir) + kSoundIconFile);
  ASSERT_TRUE(shipped);
  ASSERT_TRUE(DecodeIconFile(shipped->data(), shipped->size(), &out, &error)) << error;
  EXPECT_EQ(out.Width(), 32);
  test::SaveTestArtefact(out, "sound_shape", "shipped_icon");

  // A 32-bit bitmap entry: header, rows bottom-up, then the mask.
  const int side = 4;
  std::vector<uint8_t> dib(40, 0);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&dib[at], &v, 4); };
  put32(0, 40);
  put32(4, side);
  put32(8, side * 2);
  dib[12] = 1;
  dib[14] = 32;
  for (int y = side - 1; y >= 0; --y)
    for (int x = 0; x < side; ++x) {
      const uint8_t px[4] = {static_cast<uint8_t>(x * 60), static_cast<uint8_t>(y * 60), 0x11, 0xFF};
      dib.insert(dib.end(), px, px + 4);
    }
  dib.insert(dib.end(), size_t(side) * 4, 0);
  std::vector<uint8_t> ico = IconWithEntry(dib, side);
  ASSERT_TRUE(DecodeIconFile(ico.data(), ico.size(), &out, &error)) << error;
  ASSERT_EQ(out.Width(), side);
  EXPECT_EQ(out.GetPixel(3, 1), 0xFF113CB4u);  // red 0x11, green 1*60, blue 3*60

  // Larger entries win; every cut or lie is refused with a reason.
  for (size_t cut = 0; cut < ico.size(); ++cut) {
    error.clear();
    EXPECT_FALSE(DecodeIconFile(ico.data(), cut, &out, &error)) << cut;
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(out.IsEmpty());
  }
  std::vector<uint8_t> lying = ico;
  const uint32_t huge = 0x7FFFFFF0u;
  std::memcpy(&lying[6 + 8], &huge, 4);
  EXPECT_FALSE(DecodeIconFile(lying.data(), lying.size(), &out, &error));
  std::vector<uint8_t> wide = ico;
  const uint32_t big_side = 1u << 20;
  std::memcpy(&wide[22 + 4], &big_side, 4);
  EXPECT_FALSE(DecodeIconFile(wide.data(), wide.size(), &out, &error));
  EXPECT_NE(error.find("out of range"), std::string::npos) << error;
}

}  // namespace
}  // namespace velmora
