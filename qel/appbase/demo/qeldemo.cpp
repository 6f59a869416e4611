// qel_demo [picture] [--frames N]
//
// Opens the 640 x 480 window and shows the picture (default "cg/Logo.png",
// loaded by the framework's picture rule, so a scrambled twin serves as well)
// centred on a band, with a small copy and a small turning copy beside it, with the frame rate
// in the corner and in the title, paced at 60 frames per second. Escape or
// closing the window ends it; with --frames N it ends after N frames.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gxl/math/matrix.h"
#include "platform/win_kernel.h"
#include "qel/appbase/qeldxappbase.h"
#include "qel/appbase/qelframelimiter.h"
#include "qel/appbase/qelquadsprite.h"
#include "qel/appbase/qelspritetexture.h"

namespace {

class C_DemoApp : public C_DxAppBase {
 public:
  C_DemoApp(const char* picture, long frames) : m_nFrames(frames) {
    m_nWidth = 640;
    m_nHeight = 480;
    m_pszTitle = "qel demo";
    m_bFullScreen = 0;
    m_Limiter.SetFps(60);
    m_Band.SetSize(640.0f, 160.0f, 0xFF203060, 0.0f);
    m_Picture.SetFile(picture);
  }

  HRESULT OneTimeInit() override { return S_OK; }

  HRESULT UpdateFrame() override {
    ++m_nCount;
    if (m_nFrames > 0 && m_nCount >= m_nFrames) PostQuitMessage(0);
    if (!m_bActive) return S_OK;
    m_fFps = static_cast<float>(m_Limiter.GetMeasuredFps());
    return S_OK;
  }

  HRESULT DrawFrame() override {
    if (!m_bActive) return S_OK;
    m_Band.Draw(0.0f, 160.0f);
    D3DSURFACE_DESC desc{};
    if (m_Picture.GetTexture() && SUCCEEDED(m_Picture.GetTexture()->GetLevelDesc(0, &desc))) {
      const float w = static_cast<float>(desc.Width), h = static_cast<float>(desc.Height);
      m_Picture.Draw((640.0f - w) / 2.0f, (480.0f - h) / 2.0f);
      const float angle = static_cast<float>(m_nCount % 360) * 0.017453292f;
      m_Picture.DrawScaled(40.0f, 360.0f, 0.25f, 0.25f, 0.0f, 0.0f, 160);
      Matrix4 toCentre, scale, turn, place, m;
      MatrixTranslation(&toCentre, -w / 2.0f, -h / 2.0f, 0.0f);
      MatrixScaling(&scale, 0.25f, 0.25f, 1.0f);
      MatrixRotationZ(&turn, angle);
      MatrixTranslation(&place, 560.0f, 400.0f, 0.0f);
      MatrixMultiply(&m, &toCentre, &scale);
      MatrixMultiply(&m, &m, &turn);
      MatrixMultiply(&m, &m, &place);
      m_Picture.DrawTransformed(m, 192);
    }
    m_Limiter.Wait();
    return S_OK;
  }

 private:
  long m_nFrames;
  long m_nCount = 0;
  C_FrameLimiter m_Limiter;
  C_QuadSprite m_Band;
  C_SpriteTexture m_Picture;
};

}  // namespace

int main(int argc, char** argv) {
  const char* picture = "cg/Logo.png";
  long frames = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
      frames = std::strtol(argv[++i], nullptr, 10);
    } else if (argv[i][0] == '-') {
      std::fprintf(stderr, "usage: %s [picture] [--frames N]\n", argv[0]);
      return 2;
    } else {
      picture = argv[i];
    }
  }
  C_DemoApp app(picture, frames);
  if (FAILED(app.Create(GetModuleHandleA(nullptr), SW_SHOWDEFAULT))) return 1;
  return app.Run();
}
