// Music through a DirectShow filter graph. Looping needs no thread: the window
// procedure passes every message to PollEvents, which rewinds each looping
// player whose graph has completed.
#pragma once

#include <vector>

#include "platform/dshow_api.h"

class C_Music {
 public:
  C_Music();
  // Leaves the list; the graph is closed by Close or ShutdownMusic.
  ~C_Music();
  C_Music(const C_Music&) = delete;
  C_Music& operator=(const C_Music&) = delete;

  // Builds the graph for the file, stopped. S_OK, or E_FAIL when the file
  // cannot be played (the player then has no control and stays silent).
  HRESULT Open(const char* name);
  void Play();
  // Keeps the position.
  void Stop();
  bool IsRunning();
  void Close();

  static void PollEvents(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void HandleEvents(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  bool Build(const char* name);
  template <class T>
  bool Query(REFIID iid, T** out);

  IGraphBuilder* m_pGraph = nullptr;
  IMediaControl* m_pControl = nullptr;
  IMediaEvent* m_pEvent = nullptr;
  IMediaSeeking* m_pSeeking = nullptr;
  BYTE m_bLoop = 1;
};

// COM for the music; true when CoInitialize succeeds.
bool InitMusic();
// Closes every listed player, then CoUninitialize.
void ShutdownMusic();

// Null while no player exists.
extern std::vector<C_Music*>* g_pMusicList;
