// A filter graph of the platform's DirectShow stand-in in tests: the file
// rendered, the control, event and seeking interfaces, released together.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/com.h"
#include "platform/dshow_api.h"

namespace nura::test {

struct FilterGraph {
  IGraphBuilder* builder = nullptr;
  IMediaControl* control = nullptr;
  IMediaEvent* event = nullptr;
  IMediaSeeking* seeking = nullptr;

  ~FilterGraph() {
    for (IUnknown* p : {static_cast<IUnknown*>(control), static_cast<IUnknown*>(event),
                        static_cast<IUnknown*>(seeking), static_cast<IUnknown*>(builder)})
      if (p) p->Release();
  }

  HRESULT Render(const std::string& path) {
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  reinterpret_cast<void**>(&builder));
    if (FAILED(hr)) return hr;
    std::u16string wide(path.begin(), path.end());
    hr = builder->RenderFile(wide.c_str(), nullptr);
    if (FAILED(hr)) return hr;
    EXPECT_EQ(builder->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)), S_OK);
    EXPECT_EQ(builder->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&event)), S_OK);
    EXPECT_EQ(builder->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)), S_OK);
    return S_OK;
  }

  bool Complete() {
    LONG code = -1;
    HRESULT hr = event->WaitForCompletion(0, &code);
    EXPECT_EQ(SUCCEEDED(hr), code == EC_COMPLETE);
    if (FAILED(hr)) {
      EXPECT_EQ(hr, E_ABORT);
    }
    return code == EC_COMPLETE;
  }

  OAFilterState State() {
    OAFilterState s = -1;
    EXPECT_EQ(control->GetState(1, &s), S_OK);
    return s;
  }

  LONGLONG Position() {
    LONGLONG t = -1;
    EXPECT_EQ(seeking->GetCurrentPosition(&t), S_OK);
    return t;
  }
};

}  // namespace nura::test
