// Objects that own Direct3D objects derive from C_DeviceResource and join a
// registry when they are built. They are built before the device exists; once
// the application has its device, NotifyDeviceCreated stores it globally and
// asks every registered object, in registration order, to restore itself.
#pragma once

#include "platform/d3d9_api.h"
#include "qel/appbase/qelptrlist.h"

class C_DeviceResource {
 public:
  C_DeviceResource();
  virtual ~C_DeviceResource();
  // A copy is not registered: only objects built from scratch are.
  C_DeviceResource(const C_DeviceResource&);
  C_DeviceResource& operator=(const C_DeviceResource&) { return *this; }

  // (Re)creates the device objects.
  virtual void Restore() = 0;
  // Releases the device objects.
  virtual void Release() {}
};

// Stores the device, then restores every registered object in registration
// order (objects registered meanwhile are restored as well).
void NotifyDeviceCreated(IDirect3DDevice9* device);
// Releases the device objects of every registered object.
void NotifyDeviceReleased();
IDirect3DDevice9* GetGlobalDevice();

// Replaces each value by the smallest power of two strictly greater than it,
// at least 2; values of 2^30 and above, which have none in range, stay.
void RoundUpToPowerOfTwo(int* w, int* h);

// The application's device (not referenced); null until NotifyDeviceCreated.
extern IDirect3DDevice9* g_pDevice;
// Registered objects in registration order.
extern constinit C_PtrList<C_DeviceResource> g_DeviceResources;
