// Runs a function on the bytes of a named file or module resource, held for
// the duration of the call (internal to the file-reading entry points).
#pragma once

#include "gxl/tex/mapped_file.h"

namespace gxl::tex::detail {

// fn(const void* data, UINT size) -> HRESULT. Open failures are returned as they are.
template <class Fn>
HRESULT WithFileBytes(const void* name, bool wide, Fn fn) {
  MappedFile file;
  const HRESULT hr = file.Open(name, wide);
  if (FAILED(hr)) return hr;
  return fn(file.Data(), file.Size());
}

// Bitmap resources are tried first, then raw data.
template <class Fn>
HRESULT WithResourceBytes(HMODULE module, const void* name, bool wide, Fn fn) {
  ResourceData resource;
  const HRESULT hr = resource.Find(module, name, true, wide);
  if (FAILED(hr)) return hr;
  return fn(resource.Data(), resource.Size());
}

}  // namespace gxl::tex::detail
