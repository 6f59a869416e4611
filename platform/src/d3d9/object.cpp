#include "d3d9/object.h"

#include "d3d9/device.h"
#include "platform/testing.h"
#include "testing/failure.h"

namespace platform::d3d9 {
namespace {

std::uint32_t g_nextId = 1;
int g_liveCount = 0;

// Ids restart for each test when nothing survived the previous one, so logs
// compare equal whatever ran before.
void ResetIds() {
  if (g_liveCount == 0) g_nextId = 1;
}
[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetIds), true);

}  // namespace

Object* Object::s_first = nullptr;
Object* Object::s_last = nullptr;

Object::Object(const char* kind, bool listed) : m_kind(kind), m_id(g_nextId++), m_listed(listed) {
  m_prev = s_last;
  if (s_last)
    s_last->m_next = this;
  else
    s_first = this;
  s_last = this;
  ++g_liveCount;
}

Object::~Object() {
  if (m_prev)
    m_prev->m_next = m_next;
  else
    s_first = m_next;
  if (m_next)
    m_next->m_prev = m_prev;
  else
    s_last = m_prev;
  --g_liveCount;
}

std::string Object::Name() const { return std::string(m_kind) + "#" + std::to_string(m_id); }

std::string ObjectName(const Object* object) { return object ? object->Name() : "null"; }

std::string ObjectName(const IUnknown* object) {
  if (!object) return "null";
  const auto* o = dynamic_cast<const Object*>(object);
  return o ? o->Name() : "foreign";
}

DeviceChild::DeviceChild(Device* device, const char* kind, bool publicRef, bool listed)
    : Object(kind, listed), m_device(device) {
  if (publicRef) {
    m_refs = 1;
    m_device->AddRef();
  }
}

ULONG DeviceChild::AddRefPublic() {
  if (m_refs++ == 0) m_device->AddRef();
  return m_refs;
}

ULONG DeviceChild::ReleasePublic() {
  if (m_refs == 0) {
    platform::detail::CountDiagnostic("d3d9.over-release");
    return 0;
  }
  const ULONG refs = --m_refs;
  if (refs == 0) {
    Device* device = m_device;
    if (m_binds == 0) delete this;
    // May destroy the device, whose destruction unbinds (and destroys) a child
    // that is still bound.
    device->Release();
  }
  return refs;
}

void DeviceChild::Bind() { ++m_binds; }

void DeviceChild::Unbind() {
  if (m_binds == 0) return;
  --m_binds;
  DestroyIfUnused();
}

void DeviceChild::DestroyIfUnused() {
  if (m_binds == 0 && m_refs == 0) delete this;
}

}  // namespace platform::d3d9
