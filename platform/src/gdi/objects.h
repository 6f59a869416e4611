// GDI objects behind the handles: memory DCs, DIB sections and fonts. A handle
// is the object's address, checked against the table of live objects. One
// recursive lock guards the area (FreeType faces are not thread-safe).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "gdi/font_instance.h"
#include "platform/win_gdi.h"

namespace platform::gdi {

enum class Kind { Dc, Bitmap, Font };

struct DcObject;

struct GdiObject {
  explicit GdiObject(Kind k) : kind(k) {}
  virtual ~GdiObject() = default;
  Kind kind;
  bool stock = false;  // the default font and bitmap of new DCs: never deleted
};

struct BitmapObject : GdiObject {
  BitmapObject() : GdiObject(Kind::Bitmap) {}
  int width = 0;
  int height = 0;
  bool topDown = true;
  std::unique_ptr<std::uint32_t[]> pixels;  // 0x00RRGGBB in memory order B, G, R, X
  DcObject* selectedInto = nullptr;
  // Row y counted from the top of the picture.
  std::uint32_t* Row(int y) const {
    const int row = topDown ? y : height - 1 - y;
    return pixels.get() + static_cast<size_t>(row) * width;
  }
};

struct FontObject : GdiObject {
  FontObject() : GdiObject(Kind::Font) {}
  LOGFONTW logfont{};
  std::unique_ptr<FontInstance> instance;
  int selections = 0;  // DCs it is selected into
};

struct DcObject : GdiObject {
  DcObject() : GdiObject(Kind::Dc) {}
  BitmapObject* bitmap = nullptr;
  FontObject* font = nullptr;
  COLORREF textColor = 0x000000;
  COLORREF bkColor = 0xFFFFFF;
  int bkMode = OPAQUE;
  UINT align = TA_TOP | TA_LEFT;
  POINT position = {0, 0};
  int mapMode = MM_TEXT;
};

std::recursive_mutex& Lock();
using Guard = std::lock_guard<std::recursive_mutex>;

// The live object behind a handle, or null.
DcObject* FindDc(HDC dc);
FontObject* FindFont(HGDIOBJ font);
BitmapObject* FindBitmap(HGDIOBJ bitmap);
// Takes ownership; returns the object.
GdiObject* AddObject(std::unique_ptr<GdiObject> object);

// A font object for a LOGFONT; its realisation is null when no face serves.
std::unique_ptr<FontObject> NewFont(const LOGFONTW& font);

// The selected font's realisation, or null (invalid DC or unusable font).
FontInstance* DcFont(HDC dc, DcObject** dcOut = nullptr);

}  // namespace platform::gdi
