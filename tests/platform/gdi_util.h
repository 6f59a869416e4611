// Shared pieces of the GDI text tests: the font folders of the packages the
// project installs, and a memory DC with a 32-bit DIB selected.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/testing.h"
#include "platform/win_gdi.h"
#include "tests/support/package_fonts.h"

namespace gdi_test {

using nura::test::kDejaVuDir;
using nura::test::kIpaGothicDir;
using nura::test::kLiberationDir;
using nura::test::PinPackageFonts;

inline std::string BaseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

class Canvas {
 public:
  Canvas(int width, int height, bool topDown = true) : m_width(width), m_height(height) {
    m_dc = CreateCompatibleDC(nullptr);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = topDown ? -height : height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    m_bitmap = CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    m_bits = static_cast<std::uint32_t*>(bits);
    m_topDown = topDown;
    m_oldBitmap = SelectObject(m_dc, m_bitmap);
  }
  ~Canvas() {
    if (m_font) {
      SelectObject(m_dc, m_oldFont);
      DeleteObject(m_font);
    }
    SelectObject(m_dc, m_oldBitmap);
    DeleteObject(m_bitmap);
    DeleteDC(m_dc);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  // Selects a font the canvas owns from now on.
  void Use(HFONT font) {
    ASSERT_NE(font, nullptr);
    HGDIOBJ old = SelectObject(m_dc, font);
    if (m_font) {
      DeleteObject(m_font);
    } else {
      m_oldFont = old;
    }
    m_font = font;
  }

  HDC dc() const { return m_dc; }
  HFONT font() const { return m_font; }
  bool ok() const { return m_dc && m_bitmap && m_bits; }
  int width() const { return m_width; }
  int height() const { return m_height; }
  // The pixel at (x, y) from the top, as stored (0x00RRGGBB).
  std::uint32_t At(int x, int y) const {
    const int row = m_topDown ? y : m_height - 1 - y;
    return m_bits[static_cast<size_t>(row) * m_width + x];
  }
  void FillAll(std::uint32_t value) {
    for (int i = 0; i < m_width * m_height; ++i) m_bits[i] = value;
  }

 private:
  int m_width, m_height;
  bool m_topDown = true;
  HDC m_dc = nullptr;
  HBITMAP m_bitmap = nullptr;
  HGDIOBJ m_oldBitmap = nullptr;
  HFONT m_font = nullptr;
  HGDIOBJ m_oldFont = nullptr;
  std::uint32_t* m_bits = nullptr;
};

inline HFONT MakeFont(int height, const char* face, int weight = FW_NORMAL, bool italic = false,
                      DWORD quality = ANTIALIASED_QUALITY, DWORD charset = DEFAULT_CHARSET) {
  return CreateFontA(height, 0, 0, 0, weight, italic, FALSE, FALSE, charset, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, quality, VARIABLE_PITCH, face);
}

}  // namespace gdi_test
