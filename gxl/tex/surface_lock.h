// Lock holders that lock a surface rectangle or a volume box and describe the
// locked memory as an ImageRegion. A surface that cannot be locked directly is
// read and written through a system-memory staging copy.
#pragma once

#include <cstdint>

#include "gxl/tex/image_region.h"
#include "platform/d3d9_types.h"

struct IDirect3DDevice9;
struct IDirect3DSurface9;
struct IDirect3DTexture9;
struct IDirect3DVolume9;

// Flags of SurfaceLock::Lock and VolumeLock::Lock.
struct LockFlags {
  // Lock for reading; a staging copy is not written back.
  static constexpr std::uint32_t ReadOnly = 0x1;
  // Go through a staging copy at once (surfaces only).
  static constexpr std::uint32_t Staging = 0x10000;
  // A whole, writable lock of a dynamic resource may discard its contents.
  static constexpr std::uint32_t MayDiscard = 0x20000;
};

class SurfaceLock {
 public:
  SurfaceLock() = default;
  ~SurfaceLock() { Unlock(); }
  SurfaceLock(const SurfaceLock&) = delete;
  SurfaceLock& operator=(const SurfaceLock&) = delete;

  // Locks rect (null: the whole surface) and describes it in region: pixels at
  // the locked memory, the working box within it, the extent from there to
  // the surface's far edges, ordered dither on. What is
  // held is unlocked first. D3DERR_INVALIDCALL for a rectangle outside the
  // surface; device failures are returned as they are.
  HRESULT Lock(ImageRegion* region, IDirect3DSurface9* surface, const PaletteEntry* palette, const RECT* rect,
               std::uint32_t colourKey, std::uint32_t flags);
  // Unlocks, writes a staging copy back unless the lock was read only, and
  // releases what is held. Returns 0.
  HRESULT Unlock();
  // Unlocks without writing a staging copy back, so that a surface whose
  // write failed keeps what it held. Returns 0.
  HRESULT Abandon();

 private:
  HRESULT SetUpStaging(IDirect3DSurface9* surface, const D3DSURFACE_DESC& desc, bool wholeWrite);

  std::uint32_t m_flags = 0;
  IDirect3DSurface9* m_surface = nullptr;
  IDirect3DSurface9* m_staging = nullptr;
  IDirect3DTexture9* m_stagingTexture = nullptr;
  IDirect3DDevice9* m_device = nullptr;
};

class VolumeLock {
 public:
  VolumeLock() = default;
  ~VolumeLock() { Unlock(); }
  VolumeLock(const VolumeLock&) = delete;
  VolumeLock& operator=(const VolumeLock&) = delete;

  // As SurfaceLock::Lock for a box (null: the whole volume). Volumes have no
  // staging path: a default-pool volume that is not dynamic gives
  // D3DERR_INVALIDCALL.
  HRESULT Lock(ImageRegion* region, IDirect3DVolume9* volume, const PaletteEntry* palette, const D3DBOX* box,
               std::uint32_t colourKey, std::uint32_t flags);
  HRESULT Unlock();

 private:
  IDirect3DVolume9* m_volume = nullptr;
};

// Copies the rows of one whole surface into another of the same format (the
// smaller pitch and height of the two). The first failing lock is returned.
HRESULT CopySurfaceBits(IDirect3DSurface9* source, IDirect3DSurface9* destination);
