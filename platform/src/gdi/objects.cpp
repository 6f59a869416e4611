// Memory DCs, DIB sections, selection and deletion. A bitmap lives in at most
// one DC; objects still selected refuse deletion, so no DC ever points at freed
// memory. The stock font and 1 x 1 bitmap of new DCs are made on first need.
#include "gdi/objects.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>

#include "gdi/faces.h"
#include "kernel/utf.h"
#include "platform/testing.h"
#include "platform/win_kernel.h"
#include "testing/failure.h"

namespace platform::gdi {
namespace {

constexpr std::int64_t kMaxDibPixels = std::int64_t{1} << 26;  // 256 MB of 32-bit pixels

struct Table {
  std::unordered_map<const GdiObject*, std::unique_ptr<GdiObject>> objects;
  BitmapObject* stockBitmap = nullptr;
  FontObject* stockFont = nullptr;
};

Table& Objects() {
  static Table* table = new Table;  // kept for the process, like the faces it holds
  return *table;
}

GdiObject* Find(const void* handle, Kind kind) {
  if (!handle) return nullptr;
  Table& t = Objects();
  auto it = t.objects.find(static_cast<const GdiObject*>(handle));
  if (it == t.objects.end() || it->second->kind != kind) return nullptr;
  return it->second.get();
}

BitmapObject* StockBitmap() {
  Table& t = Objects();
  if (!t.stockBitmap) {
    auto b = std::make_unique<BitmapObject>();
    b->stock = true;
    b->width = b->height = 1;
    b->pixels.reset(new std::uint32_t[1]());
    t.stockBitmap = static_cast<BitmapObject*>(AddObject(std::move(b)));
  }
  return t.stockBitmap;
}

FontObject* StockFont() {
  Table& t = Objects();
  if (!t.stockFont) {
    LOGFONTW lf{};  // the default face at 16 pixels
    std::unique_ptr<FontObject> f = NewFont(lf);
    f->stock = true;
    t.stockFont = static_cast<FontObject*>(AddObject(std::move(f)));
  }
  return t.stockFont;
}

void ResetGdi() {
  Guard guard(Lock());
  Table& t = Objects();
  t.objects.clear();
  t.stockBitmap = nullptr;
  t.stockFont = nullptr;
  ResetFaces();
}
[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetGdi), true);

void Deselect(DcObject* dc) {
  if (dc->bitmap && !dc->bitmap->stock) dc->bitmap->selectedInto = nullptr;
  if (dc->font) --dc->font->selections;
  dc->bitmap = nullptr;
  dc->font = nullptr;
}

}  // namespace

std::recursive_mutex& Lock() {
  static std::recursive_mutex* mutex = new std::recursive_mutex;
  return *mutex;
}

DcObject* FindDc(HDC dc) { return static_cast<DcObject*>(Find(dc, Kind::Dc)); }
FontObject* FindFont(HGDIOBJ font) { return static_cast<FontObject*>(Find(font, Kind::Font)); }
BitmapObject* FindBitmap(HGDIOBJ bitmap) { return static_cast<BitmapObject*>(Find(bitmap, Kind::Bitmap)); }

GdiObject* AddObject(std::unique_ptr<GdiObject> object) {
  GdiObject* raw = object.get();
  Objects().objects.emplace(raw, std::move(object));
  return raw;
}

FontInstance* DcFont(HDC dc, DcObject** dcOut) {
  DcObject* d = FindDc(dc);
  if (dcOut) *dcOut = d;
  if (!d || !d->font) return nullptr;
  return d->font->instance.get();
}

}  // namespace platform::gdi

using namespace platform::gdi;

HDC CreateCompatibleDC(HDC dc) {
  Guard guard(Lock());
  if (dc && !FindDc(dc)) return nullptr;
  if (platform::detail::ShouldFail("CreateCompatibleDC", nullptr)) return nullptr;
  auto d = std::make_unique<DcObject>();
  d->bitmap = StockBitmap();
  d->font = StockFont();
  ++d->font->selections;
  return reinterpret_cast<HDC>(AddObject(std::move(d)));
}

BOOL DeleteDC(HDC dc) {
  Guard guard(Lock());
  DcObject* d = FindDc(dc);
  if (!d) return FALSE;
  Deselect(d);
  Objects().objects.erase(d);
  return TRUE;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  Guard guard(Lock());
  DcObject* d = FindDc(dc);
  if (!d) return nullptr;
  if (FontObject* f = FindFont(object)) {
    FontObject* previous = d->font;
    --previous->selections;
    ++f->selections;
    d->font = f;
    return previous;
  }
  if (BitmapObject* b = FindBitmap(object)) {
    if (b->selectedInto && b->selectedInto != d) return nullptr;  // in another DC
    BitmapObject* previous = d->bitmap;
    if (!previous->stock) previous->selectedInto = nullptr;
    if (!b->stock) b->selectedInto = d;
    d->bitmap = b;
    return previous;
  }
  return nullptr;
}

BOOL DeleteObject(HGDIOBJ object) {
  Guard guard(Lock());
  GdiObject* o = nullptr;
  bool selected = false;
  if (FontObject* f = FindFont(object)) {
    o = f;
    selected = f->selections > 0;
  } else if (BitmapObject* b = FindBitmap(object)) {
    o = b;
    selected = b->selectedInto != nullptr;
  }
  if (!o) return FALSE;
  if (o->stock) return TRUE;
  if (selected) {
    platform::detail::CountDiagnostic("gdi.delete-selected");
    return FALSE;
  }
  Objects().objects.erase(o);
  return TRUE;
}

namespace {

int CopyOut(const void* record, int recordSize, int size, LPVOID buffer) {
  if (!buffer) return recordSize;
  if (size <= 0) return 0;
  const int n = std::min(size, recordSize);
  std::memcpy(buffer, record, static_cast<size_t>(n));
  return n;
}

BITMAP BitmapRecord(const BitmapObject& b) {
  BITMAP r{};
  r.bmWidth = b.width;
  r.bmHeight = b.height;
  r.bmWidthBytes = b.width * 4;
  r.bmPlanes = 1;
  r.bmBitsPixel = 32;
  r.bmBits = b.pixels.get();
  return r;
}

}  // namespace

int GetObjectA(HGDIOBJ object, int size, LPVOID buffer) {
  Guard guard(Lock());
  if (FontObject* f = FindFont(object)) {
    LOGFONTA lf;
    std::memcpy(&lf, &f->logfont, offsetof(LOGFONTA, lfFaceName));
    std::memset(lf.lfFaceName, 0, sizeof lf.lfFaceName);
    size_t n = 0;
    while (n < static_cast<size_t>(LF_FACESIZE) && f->logfont.lfFaceName[n]) ++n;
    std::string face = platform::utf::ToUtf8(f->logfont.lfFaceName, n);
    // Cut at a character boundary so the name stays valid UTF-8.
    size_t keep = std::min(face.size(), sizeof lf.lfFaceName - 1);
    while (keep > 0 && keep < face.size() && (static_cast<unsigned char>(face[keep]) & 0xC0) == 0x80) --keep;
    std::memcpy(lf.lfFaceName, face.data(), keep);
    return CopyOut(&lf, sizeof lf, size, buffer);
  }
  if (BitmapObject* b = FindBitmap(object)) {
    BITMAP r = BitmapRecord(*b);
    return CopyOut(&r, sizeof r, size, buffer);
  }
  return 0;
}

int GetObjectW(HGDIOBJ object, int size, LPVOID buffer) {
  Guard guard(Lock());
  if (FontObject* f = FindFont(object)) return CopyOut(&f->logfont, sizeof f->logfont, size, buffer);
  if (BitmapObject* b = FindBitmap(object)) {
    BITMAP r = BitmapRecord(*b);
    return CopyOut(&r, sizeof r, size, buffer);
  }
  return 0;
}

HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset) {
  Guard guard(Lock());
  if (bits) *bits = nullptr;
  if ((dc && !FindDc(dc)) || !info || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER) ||
      usage != DIB_RGB_COLORS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (section || offset || h.biPlanes != 1 || h.biBitCount != 32 || h.biCompression != BI_RGB) {
    platform::detail::CountDiagnostic("gdi.dib-format");
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::int64_t width = h.biWidth;
  const std::int64_t height = h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight;
  if (width <= 0 || height <= 0 || width * height > kMaxDibPixels) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (platform::detail::ShouldFail("CreateDIBSection", nullptr)) return nullptr;
  auto b = std::make_unique<BitmapObject>();
  b->pixels.reset(new (std::nothrow) std::uint32_t[static_cast<size_t>(width * height)]());
  if (!b->pixels) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  b->width = static_cast<int>(width);
  b->height = static_cast<int>(height);
  b->topDown = h.biHeight < 0;
  if (bits) *bits = b->pixels.get();
  return reinterpret_cast<HBITMAP>(AddObject(std::move(b)));
}

int SetMapMode(HDC dc, int mode) {
  Guard guard(Lock());
  DcObject* d = FindDc(dc);
  if (!d) return 0;
  if (mode != MM_TEXT) {
    platform::detail::CountDiagnostic("gdi.map-mode");
    return 0;
  }
  const int previous = d->mapMode;
  d->mapMode = mode;
  return previous;
}

int GetDeviceCaps(HDC dc, int index) {
  Guard guard(Lock());
  if (!FindDc(dc)) return 0;
  return index == LOGPIXELSX || index == LOGPIXELSY ? 96 : 0;
}

COLORREF SetTextColor(HDC dc, COLORREF color) {
  Guard guard(Lock());
  DcObject* d = FindDc(dc);
  if (!d) return CLR_INVALID;
  return std::exchange(d->textColor, color);
}

COLORREF SetBkColor(HDC dc, COLORREF color) {
  Guard guard(Lock());
  DcObject* d = FindDc(dc);
  if (!d) return CLR_INVALID;
  return std::exchange(d->bkColor, color);
}

int SetBkMode(HDC dc, int mode) {
  Guard guard(Lock());
  DcObject* d = FindDc(dc);
  if (!d || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
  return std::exchange(d->bkMode, mode);
}

UINT SetTextAlign(HDC dc, UINT align) {
  Guard guard(Lock());
  DcObject* d = FindDc(dc);
  if (!d) return GDI_ERROR;
  return std::exchange(d->align, align);
}

BOOL MoveToEx(HDC dc, int x, int y, LPPOINT previous) {
  Guard guard(Lock());
  DcObject* d = FindDc(dc);
  if (!d) return FALSE;
  if (previous) *previous = d->position;
  d->position = {x, y};
  return TRUE;
}

namespace platform::test {

int LiveGdiObjects() {
  Guard guard(Lock());
  int n = 0;
  for (const auto& [key, object] : Objects().objects)
    if (!object->stock) ++n;
  return n;
}

void PinFontFaces(const std::vector<std::string>& filesOrFolders) {
  Guard guard(Lock());
  PinFaces(filesOrFolders);
}

void SetFontSubstitute(const std::string& face, const std::string& family) {
  Guard guard(Lock());
  SetSubstitute(face, family);
}

}  // namespace platform::test
