#include "d3d9/call_log.h"

#include <cstdio>
#include <vector>

#include "kernel/format.h"
#include "platform/testing.h"

namespace platform::d3d9 {

bool g_callLogOn = false;

namespace {

std::vector<platform::test::D3D9Call>& Calls() {
  static std::vector<platform::test::D3D9Call> calls;
  return calls;
}

void ResetCallLog() {
  g_callLogOn = false;
  Calls().clear();
}
[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetCallLog), true);

}  // namespace

void LogCall(const char* method, std::string args, HRESULT result) {
  Calls().push_back(platform::test::D3D9Call{method, std::move(args), result});
}

std::string LogText(const RECT* r) {
  return r ? Printf("(%d,%d,%d,%d)", r->left, r->top, r->right, r->bottom) : "null";
}
std::string LogText(const D3DRECT* r) { return r ? Printf("(%d,%d,%d,%d)", r->x1, r->y1, r->x2, r->y2) : "null"; }
std::string LogText(const POINT* p) { return p ? Printf("(%d,%d)", p->x, p->y) : "null"; }
std::string LogText(const D3DBOX* b) {
  return b ? Printf("(%u,%u,%u,%u,%u,%u)", b->Left, b->Top, b->Right, b->Bottom, b->Front, b->Back) : "null";
}
std::string LogText(const D3DVIEWPORT9* v) {
  return v ? Printf("(%u,%u,%u,%u,%g,%g)", v->X, v->Y, v->Width, v->Height, v->MinZ, v->MaxZ) : "null";
}
std::string LogText(const D3DMATRIX* m) {
  if (!m) return "null";
  std::string s = "[";
  for (int i = 0; i < 16; ++i) s += Printf(i ? " %g" : "%g", m->m[i / 4][i % 4]);
  return s + "]";
}
std::string LogText(float f) { return Printf("%g", f); }
std::string LogText(const void* p) { return p ? "ptr" : "null"; }

}  // namespace platform::d3d9

namespace platform::test {

void StartD3D9CallLog() { d3d9::g_callLogOn = true; }
void StopD3D9CallLog() { d3d9::g_callLogOn = false; }
void ClearD3D9CallLog() { d3d9::Calls().clear(); }
const std::vector<D3D9Call>& D3D9Calls() { return d3d9::Calls(); }

int CountD3D9Calls(const std::string& method) {
  int n = 0;
  for (const D3D9Call& c : d3d9::Calls()) n += c.method == method;
  return n;
}

std::string D3D9CallLogText() {
  std::string text;
  for (const D3D9Call& c : d3d9::Calls()) {
    text += c.method + "(" + c.args + ")";
    if (c.result != 0) {
      char buf[24];
      std::snprintf(buf, sizeof buf, " = 0x%08X", static_cast<unsigned>(c.result));
      text += buf;
    }
    text += "\n";
  }
  return text;
}

}  // namespace platform::test
