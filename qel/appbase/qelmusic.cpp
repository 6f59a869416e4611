#include "qel/appbase/qelmusic.h"

#include <algorithm>
#include <string>

#include "platform/win_kernel.h"
#include "qel/appbase/qelerrorlog.h"
#include "qel/appbase/qelfile.h"
#include "qel/appbase/qelrelease.h"

std::vector<C_Music*>* g_pMusicList = nullptr;

namespace {
constexpr int kMaxWideName = 1024;  // characters, the terminator included
}  // namespace

bool InitMusic() { return SUCCEEDED(CoInitialize(nullptr)); }

void ShutdownMusic() {
  if (g_pMusicList)
    for (C_Music* music : *g_pMusicList) music->Close();
  CoUninitialize();
}

C_Music::C_Music() {
  if (!g_pMusicList) g_pMusicList = new std::vector<C_Music*>;
  g_pMusicList->push_back(this);
}

C_Music::~C_Music() {
  auto& list = *g_pMusicList;
  auto it = std::find(list.begin(), list.end(), this);
  if (it != list.end()) list.erase(it);
  if (list.empty()) {
    delete g_pMusicList;
    g_pMusicList = nullptr;
  }
}

HRESULT C_Music::Open(const char* name) {
  Close();
  if (Build(name)) return S_OK;
  // Nothing half-built stays behind: the player is simply silent.
  Close();
  return E_FAIL;
}

bool C_Music::Build(const char* name) {
  if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                              reinterpret_cast<void**>(&m_pGraph)))) {
    m_pGraph = nullptr;
    return false;
  }
  int chars = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  if (chars <= 0 || chars > kMaxWideName) return false;
  std::u16string wide(static_cast<std::size_t>(chars), u'\0');
  if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), chars) != chars) return false;
  const HRESULT rendered = m_pGraph->RenderFile(wide.c_str(), nullptr);
  if (FAILED(rendered)) {
    // The game plays on without its music, but says why. A file that cannot
    // be opened is named with the system's reason.
    C_File probe;
    g_ErrorLog.ReportOnce(probe.Open(name, true, OPEN_EXISTING)
                              ? std::string(name) + " could not be played: " + ResultText(rendered)
                              : std::string(name) + " could not be opened: " + SystemErrorText(GetLastError()));
    return false;
  }
  return Query(IID_IMediaControl, &m_pControl) && Query(IID_IMediaEvent, &m_pEvent) &&
         Query(IID_IMediaSeeking, &m_pSeeking);
}

template <class T>
bool C_Music::Query(REFIID iid, T** out) {
  if (SUCCEEDED(m_pGraph->QueryInterface(iid, reinterpret_cast<void**>(out)))) return true;
  *out = nullptr;
  return false;
}

void C_Music::Play() {
  if (m_pControl) m_pControl->Run();
}

void C_Music::Stop() {
  if (m_pControl) m_pControl->Stop();
}

bool C_Music::IsRunning() {
  if (!m_pControl) return false;
  OAFilterState state = State_Stopped;
  if (FAILED(m_pControl->GetState(1, &state))) return false;
  return state == State_Running;
}

void C_Music::Close() {
  if (m_pControl) {
    m_pControl->Stop();
    SafeRelease(m_pControl);
  }
  SafeRelease(m_pGraph);
  SafeRelease(m_pSeeking);
  SafeRelease(m_pEvent);
}

void C_Music::PollEvents(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!g_pMusicList) return;
  for (C_Music* music : *g_pMusicList) music->HandleEvents(hWnd, msg, wParam, lParam);
}

void C_Music::HandleEvents(HWND, UINT, WPARAM, LPARAM) {
  if (!m_pEvent) return;
  LONG code = 0;
  m_pEvent->WaitForCompletion(0, &code);
  if (code == EC_COMPLETE && m_bLoop == 1 && m_pSeeking) {
    LONGLONG start = 0;
    m_pSeeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
  }
}

