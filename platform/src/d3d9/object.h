// The base of every object of the software device: an id for logs and reports,
// membership in the live-object list, and (for device children) the rules that
// tie reference counts to the device.
//
// A device child has public references (AddRef/Release, what callers see) and
// bindings (the device's own slots and state blocks holding it). While it has
// public references it holds one reference on its device, as Direct3D 9
// resources do. It is destroyed when both counts are zero; a child that is only
// bound therefore does not keep the device alive, and the device's destruction
// unbinds (and so destroys) it: no reference cycle through the device.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "platform/com.h"

namespace platform::d3d9 {

class Device;

class Object {
 public:
  // Level surfaces and volumes live inside their container and are not listed.
  Object(const char* kind, bool listed);
  virtual ~Object();
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  bool Listed() const { return m_listed; }
  // "Texture#12"
  std::string Name() const;

  virtual ULONG PublicRefs() const = 0;
  virtual ULONG Binds() const { return 0; }
  virtual std::string Describe() const { return {}; }

  // Every live object in creation order.
  template <class F>
  static void ForEach(F&& f) {
    for (Object* o = s_first; o; o = o->m_next) f(*o);
  }

 private:
  static Object* s_first;
  static Object* s_last;
  Object* m_prev = nullptr;
  Object* m_next = nullptr;
  const char* m_kind;
  std::uint32_t m_id;
  bool m_listed;
};

// "Texture#12" for any object of this device, "null" for null, "foreign" for
// objects this device did not make.
std::string ObjectName(const IUnknown* object);
std::string ObjectName(const Object* object);
template <class T, class = std::enable_if_t<std::is_base_of_v<Object, T>>>
std::string ObjectName(const T* object) {
  return ObjectName(static_cast<const Object*>(object));
}

class DeviceChild : public Object {
 public:
  // Starts with one public reference, or none for the device's implicit surfaces.
  DeviceChild(Device* device, const char* kind, bool publicRef, bool listed = true);

  Device* Dev() const { return m_device; }
  ULONG PublicRefs() const override { return m_refs; }
  ULONG Binds() const override { return m_binds; }

  virtual ULONG AddRefPublic();
  virtual ULONG ReleasePublic();
  virtual void Bind();
  virtual void Unbind();

  // Whether the object keeps Reset from succeeding (live default-pool resources).
  virtual bool BlocksReset() const { return false; }

 protected:
  void DestroyIfUnused();

  Device* m_device;
  ULONG m_refs = 0;
  ULONG m_binds = 0;
};

// Swaps a binding slot: binds `next`, unbinds the previous occupant.
template <class T>
void Rebind(T*& slot, T* next) {
  if (slot == next) return;
  if (next) next->Bind();
  T* old = slot;
  slot = next;
  if (old) old->Unbind();
}

}  // namespace platform::d3d9
