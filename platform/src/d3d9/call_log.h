// The d3d9 call log: when a test switches it on, every device, resource and
// Direct3D call appends its name, arguments and result. Objects appear by name
// ("Texture#3"), so logs compare as text.
#pragma once

#include <string>
#include <type_traits>

#include "d3d9/object.h"
#include "platform/d3d9_types.h"

namespace platform::d3d9 {

extern bool g_callLogOn;
inline bool CallLogEnabled() { return g_callLogOn; }
void LogCall(const char* method, std::string args, HRESULT result);

std::string LogText(const RECT* r);
std::string LogText(const D3DRECT* r);
std::string LogText(const POINT* p);
std::string LogText(const D3DBOX* b);
std::string LogText(const D3DVIEWPORT9* v);
std::string LogText(const D3DMATRIX* m);
std::string LogText(float f);
std::string LogText(const void* p);  // "ptr" or "null" for caller memory
inline std::string LogText(const char* s) { return s; }
inline std::string LogText(const Object* o) { return ObjectName(o); }
inline std::string LogText(const IUnknown* o) { return ObjectName(o); }
inline std::string LogText(bool b) { return b ? "TRUE" : "FALSE"; }
template <class T, class = std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>>>
std::string LogText(T v) {
  if constexpr (std::is_enum_v<T>)
    return std::to_string(static_cast<std::underlying_type_t<T>>(v));
  else
    return std::to_string(v);
}
// Interface pointers of this platform convert to IUnknown.
template <class T, class = std::enable_if_t<std::is_base_of_v<IUnknown, T>>>
std::string LogText(T* o) {
  return ObjectName(static_cast<const IUnknown*>(o));
}

inline std::string LogArgs() { return {}; }
template <class A, class... R>
std::string LogArgs(const A& a, const R&... rest) {
  std::string s = LogText(a);
  if constexpr (sizeof...(rest) > 0) s += ", " + LogArgs(rest...);
  return s;
}

}  // namespace platform::d3d9

// Returns `hr` from a method, logging the call when the log is on.
#define D3D9_RETURN(method, hr, ...)                                                      \
  do {                                                                                    \
    const HRESULT d3d9_hr_ = (hr);                                                        \
    if (::platform::d3d9::CallLogEnabled())                                               \
      ::platform::d3d9::LogCall(method, ::platform::d3d9::LogArgs(__VA_ARGS__), d3d9_hr_); \
    return d3d9_hr_;                                                                      \
  } while (0)
