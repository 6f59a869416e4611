// The device-resource registry and the picture loading rule: registration
// order, restoring and releasing, the scrambled twins and their restoration,
// and what a holder keeps when a picture cannot be read.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "qel/appbase/qeldeviceresource.h"
#include "qel/appbase/qelpicture.h"
#include "qel/appbase/qelquadsprite.h"
#include "tests/qel/appbase/appbase_test_util.h"

namespace {

using qeltest::Picture;

// Records its restores and releases in a shared journal.
class Recorder : public C_DeviceResource {
 public:
  Recorder(std::string name, std::vector<std::string>* journal) : m_name(std::move(name)), m_journal(journal) {}
  void Restore() override { m_journal->push_back("restore " + m_name); }
  void Release() override { m_journal->push_back("release " + m_name); }

 private:
  std::string m_name;
  std::vector<std::string>* m_journal;
};

TEST(DeviceResource, RestoresInRegistrationOrderAndForgetsTheDestroyed) {
  const size_t before = g_DeviceResources.Size();
  std::vector<std::string> journal;
  Recorder a("A", &journal);
  auto b = std::make_unique<Recorder>("B", &journal);
  Recorder c("C", &journal);
  ASSERT_EQ(g_DeviceResources.Size(), before + 3);

  auto* device = reinterpret_cast<IDirect3DDevice9*>(&journal);  // stored, never called
  NotifyDeviceCreated(device);
  EXPECT_EQ(GetGlobalDevice(), device);
  EXPECT_EQ(journal, (std::vector<std::string>{"restore A", "restore B", "restore C"}));

  b.reset();
  journal.clear();
  NotifyDeviceReleased();
  EXPECT_EQ(journal, (std::vector<std::string>{"release A", "release C"}));
  g_pDevice = nullptr;
}

TEST(DeviceResource, CopiesAreNotRegistered) {
  const size_t before = g_DeviceResources.Size();
  C_QuadSprite original;
  {
    C_QuadSprite copy(original);
    C_QuadSprite assigned;
    assigned = original;
    EXPECT_EQ(g_DeviceResources.Size(), before + 2);  // original and assigned
    std::vector<C_QuadSprite> list(3, original);
    EXPECT_EQ(g_DeviceResources.Size(), before + 2);
  }
  EXPECT_EQ(g_DeviceResources.Size(), before + 1);
  EXPECT_EQ(g_DeviceResources[before], &original);
}

TEST(DeviceResource, RoundsUpToTheNextPowerOfTwo) {
  const int cases[][2] = {{255, 256}, {256, 512}, {0, 2}, {1, 2}, {2, 4}, {3, 4}, {-7, 2}, {(1 << 29) + 1, 1 << 30},
                          {1 << 30, 1 << 30}};
  for (const auto& c : cases) {
    int w = c[0], h = c[0];
    RoundUpToPowerOfTwo(&w, &h);
    EXPECT_EQ(w, c[1]) << c[0];
    EXPECT_EQ(h, c[1]) << c[0];
  }
}

TEST(DeviceResourceTwin, TwinNamesReplaceTheLastThreeCharacters) {
  EXPECT_EQ(ScrambledTwinName("cg/TitleString.png"), "cg/TitleString.grp");
  EXPECT_EQ(ScrambledTwinName("cg/Logo.PNG"), "cg/Logo.grp");
  EXPECT_EQ(ScrambledTwinName("abc"), "grp");
  EXPECT_EQ(ScrambledTwinName("ab"), "");
}

TEST(DeviceResourceTwin, RestorationTouchesOnlyTheFirst256BytesInsideTheFile) {
  std::vector<unsigned char> bytes(300, 0);
  bytes[200] = 0xC8;
  bytes[256] = 0x5A;
  ScramblePictureBytes(bytes.data(), bytes.size());
  EXPECT_EQ(bytes[200], 0x00);
  EXPECT_EQ(bytes[255], 0xFF);
  EXPECT_EQ(bytes[256], 0x5A);
  EXPECT_EQ(bytes[299], 0x00);
  for (int i = 0; i < 256; ++i)
    if (i != 200) {
      EXPECT_EQ(bytes[i], i) << i;
    }

  // A block of 100 bytes: all restored, the bytes behind it untouched.
  std::vector<unsigned char> block(120, 0xEE);
  ScramblePictureBytes(block.data(), 100);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(block[i], 0xEE ^ i) << i;
  for (int i = 100; i < 120; ++i) EXPECT_EQ(block[i], 0xEE) << i;
  // Its own inverse.
  ScramblePictureBytes(block.data(), 100);
  EXPECT_EQ(block, std::vector<unsigned char>(120, 0xEE));
}

class DeviceResourcePicture : public qeltest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    std::filesystem::create_directory("cg");
  }
  // Loads and keeps the texture for inspection.
  Picture Load(const std::string& name, PictureRoad expectedRoad) {
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(LoadPictureTexture(m_dev, name, &texture), expectedRoad) << name;
    Picture p = qeltest::ReadTexture(texture);
    if (texture) texture->Release();
    return p;
  }
  bool LoadsNothing(const std::string& name, PictureRoad expectedRoad) {
    IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(this);
    EXPECT_EQ(LoadPictureTexture(m_dev, name, &texture), expectedRoad) << name;
    if (texture) texture->Release();
    return texture == nullptr;
  }
};

TEST_F(DeviceResourcePicture, APlainPictureAndItsTwinGiveIdenticalTexels) {
  const Picture picture = qeltest::NoisePicture(32, 16, 1, /*opaque=*/false);
  qeltest::WritePng("cg/plain.png", picture);
  qeltest::WriteTwin("cg/twin.grp", picture);
  const Picture plain = Load("cg/plain.png", PictureRoad::kFile);
  const Picture twin = Load("cg/twin.png", PictureRoad::kTwin);
  ASSERT_EQ(plain.width, 32);
  ASSERT_EQ(plain.height, 16);
  EXPECT_EQ(plain.argb, picture.argb);
  EXPECT_EQ(twin.argb, plain.argb);
}

TEST_F(DeviceResourcePicture, TheLogoIsAlwaysReadFromItsTwin) {
  const Picture plain = qeltest::NoisePicture(16, 16, 2);
  const Picture scrambled = qeltest::NoisePicture(16, 16, 3);
  qeltest::WritePng("cg/Logo.png", plain);
  qeltest::WriteTwin("cg/Logo.grp", scrambled);
  EXPECT_EQ(Load("cg/Logo.png", PictureRoad::kTwin).argb, scrambled.argb);
  // Only that exact name: another spelling is read as it stands.
  std::filesystem::copy_file("cg/Logo.png", "cg/logo.png");
  EXPECT_EQ(Load("cg/logo.png", PictureRoad::kFile).argb, plain.argb);
  // Without its twin the logo is not drawn, even though the plain file exists.
  std::filesystem::remove("cg/Logo.grp");
  EXPECT_TRUE(LoadsNothing("cg/Logo.png", PictureRoad::kTwin));
}

TEST_F(DeviceResourcePicture, AShortTwinIsRestoredOverItsOwnLength) {
  const Picture tiny = qeltest::NoisePicture(2, 2, 4);
  qeltest::WriteTwin("cg/tiny.grp", tiny);
  ASSERT_LT(nura::test::ReadFileBytes("cg/tiny.grp").size(), 256u);
  EXPECT_EQ(Load("cg/tiny.png", PictureRoad::kTwin).argb, tiny.argb);
}

TEST_F(DeviceResourcePicture, MissingOrUnreadablePicturesGiveNoTexture) {
  EXPECT_TRUE(LoadsNothing("cg/none.png", PictureRoad::kTwin));
  EXPECT_TRUE(LoadsNothing("", PictureRoad::kTwin));
  nura::test::WriteFileText("cg/broken.png", "not a picture");
  EXPECT_TRUE(LoadsNothing("cg/broken.png", PictureRoad::kFile));
  nura::test::WriteFileText("cg/garbage.grp", std::string(400, 'x'));
  EXPECT_TRUE(LoadsNothing("cg/garbage.png", PictureRoad::kTwin));
  nura::test::WriteFileText("cg/empty.grp", "");
  EXPECT_TRUE(LoadsNothing("cg/empty.png", PictureRoad::kTwin));
  // A folder of the picture's name is no picture; its twin is read instead.
  std::filesystem::create_directory("cg/folder.png");
  EXPECT_TRUE(LoadsNothing("cg/folder.png", PictureRoad::kTwin));
  // Without a device nothing is made.
  qeltest::WritePng("cg/ok.png", qeltest::NoisePicture(4, 4, 5));
  IDirect3DTexture9* texture = nullptr;
  EXPECT_EQ(LoadPictureTexture(nullptr, "cg/ok.png", &texture), PictureRoad::kFile);
  EXPECT_EQ(texture, nullptr);
}

TEST_F(DeviceResourcePicture, AQuadLoadsWhenTheDeviceExistsAndTakesTheTextureSize) {
  qeltest::WritePng("cg/wide.png", qeltest::NoisePicture(20, 12, 6));
  C_QuadSprite early;
  early.SetFile("cg/wide.png");
  EXPECT_EQ(early.GetTexture(), nullptr);
  EXPECT_FALSE(early.IsSized());

  NotifyDeviceCreated(m_dev);
  ASSERT_NE(early.GetTexture(), nullptr);
  // The library's default size: the picture's, rounded up to powers of two.
  const QuadVertex* v = early.GetVertices();
  EXPECT_TRUE(early.IsSized());
  EXPECT_EQ(v[3].x, 32.0f);
  EXPECT_EQ(v[3].y, 16.0f);
  EXPECT_EQ(v[3].color, 0xFFFFFFFFu);
  EXPECT_EQ(v[3].z, 0.0f);

  C_QuadSprite late;
  late.SetFile("cg/wide.png");
  EXPECT_NE(late.GetTexture(), nullptr);
  // A name that loads nothing keeps the previous size and drops the texture.
  late.SetFile("cg/none.png");
  EXPECT_EQ(late.GetTexture(), nullptr);
  EXPECT_EQ(late.GetVertices()[3].x, 32.0f);
}

}  // namespace
