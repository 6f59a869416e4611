// DirectShow music: a filter graph that renders one MP3 or PCM WAVE file into
// the software mixer, with its media control, events and seeking. Made with
// CoCreateInstance(CLSID_FilterGraph, ..., IID_IGraphBuilder).
//
// Completion is polled: WaitForCompletion(0) reports EC_COMPLETE once the last
// sample has been mixed, and after the end the graph stays running (playing
// silence) until it is stopped or sought.
#pragma once

#include "platform/com.h"
#include "platform/win_types.h"

using REFERENCE_TIME = LONGLONG;  // 100-ns units
using OAFilterState = LONG;
using FILTER_STATE = LONG;

constexpr FILTER_STATE State_Stopped = 0;
constexpr FILTER_STATE State_Paused = 1;
constexpr FILTER_STATE State_Running = 2;

constexpr LONG EC_COMPLETE = 0x01;

constexpr DWORD AM_SEEKING_NoPositioning = 0x0;
constexpr DWORD AM_SEEKING_AbsolutePositioning = 0x1;
constexpr DWORD AM_SEEKING_RelativePositioning = 0x2;
constexpr DWORD AM_SEEKING_PositioningBitsMask = 0x3;

constexpr LONG INFINITE_TIMEOUT = -1;

constexpr HRESULT VFW_E_NOT_FOUND = (HRESULT)0x80040216u;
constexpr HRESULT VFW_E_UNSUPPORTED_STREAM = (HRESULT)0x80040265u;

struct IGraphBuilder : IUnknown {
  // Builds the graph that plays the file. The second argument must be NULL.
  virtual HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) = 0;

 protected:
  ~IGraphBuilder() = default;
};

struct IMediaControl : IUnknown {
  virtual HRESULT Run() = 0;
  virtual HRESULT Pause() = 0;
  // Stops where it is: a later Run resumes there.
  virtual HRESULT Stop() = 0;
  virtual HRESULT GetState(LONG timeoutMs, OAFilterState* state) = 0;

 protected:
  ~IMediaControl() = default;
};

struct IMediaEvent : IUnknown {
  // Never waits: S_OK with EC_COMPLETE while the completion is latched, else
  // E_ABORT with code 0.
  virtual HRESULT WaitForCompletion(LONG timeoutMs, LONG* eventCode) = 0;

 protected:
  ~IMediaEvent() = default;
};

struct IMediaSeeking : IUnknown {
  virtual HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) = 0;
  virtual HRESULT GetCurrentPosition(LONGLONG* current) = 0;
  virtual HRESULT GetDuration(LONGLONG* duration) = 0;

 protected:
  ~IMediaSeeking() = default;
};

// CLSID_FilterGraph and the interface identifiers are in com.h.

namespace platform::audio {
// Registers the filter graph class with COM (once). Every file that includes
// this header calls it, so a program that uses the graph links the class.
bool RegisterFilterGraphClass();
inline const bool kFilterGraphClassRegistered = RegisterFilterGraphClass();
}  // namespace platform::audio
