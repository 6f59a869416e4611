// Test hooks of the platform layer. Tests include this header only; programs
// configure the platform through environment variables instead.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/cpu.h"
#include "platform/win_types.h"

namespace platform::test {

// Gives the next test a clean platform: every area returns to its defaults
// (empty registry, host processor, default modules, no captured output, ...).
void ResetAll();

// Areas register what ResetAll runs; called from static initialisers.
void RegisterReset(void (*reset)());

// --- Debug output ----------------------------------------------------------
// Records written by OutputDebugStringA/W since the last reset (W as UTF-8).
const std::vector<std::string>& DebugOutput();
void ClearDebugOutput();
// Echo records to stderr as well (off while capturing by default).
void SetDebugOutputEcho(bool echo);
// Replaces DebugBreak's SIGTRAP; null restores it.
void SetDebugBreakHook(void (*hook)());
int DebugBreakCount();

// --- Message boxes -----------------------------------------------------------
struct MessageBoxRecord {
  std::string caption;  // UTF-8
  std::string text;     // UTF-8
  UINT type;
  bool wide;  // shown through MessageBoxW
};
// The answer headless message boxes give (default: IDNO for MB_YESNO, else IDOK).
// 0 restores the default.
void SetMessageBoxAnswer(int answer);
const std::vector<MessageBoxRecord>& MessageBoxRecords();

// --- Registry --------------------------------------------------------------
// Paths look like "HKLM\\Software\\Platform\\Direct3D" (HKLM, HKCU, HKCR).
void RegistrySetDword(const std::string& keyPath, const std::string& name, DWORD value);
void RegistrySetString(const std::string& keyPath, const std::string& name, const std::string& value);
void RegistryRemove(const std::string& keyPath, const std::string& name);
void RegistryClear();
// Seeds from text: "[HKLM\\Key]" lines, then Name=dword:1 or Name="text".
bool RegistryLoadText(const std::string& text);

// --- Processor -------------------------------------------------------------
// Forces a named profile ("host", "none", "mmx", "sse", "sse2", "k6-3dnow",
// "athlon", "athlon-xp", "athlon64"); false when unknown.
bool ForceCpuProfile(const char* name);
void ForceCpuProfile(const cpu::Profile& profile);
void ClearCpuForce();
// Makes every emulated pfrcp and pfrsqrt estimate (platform/cpu_3dnow.h) off by
// +2^-14 (direction > 0) or -2^-14 (direction < 0) of the exact value, so that
// a result that skipped its refinement shows; 0 restores the model's estimates.
void Force3DNowWorstCaseEstimates(int direction);

// --- Modules and exports ---------------------------------------------------
using ExportFn = std::intptr_t (*)();
// Adds a module (loaded or not yet loaded) if absent; names are case-insensitive.
void AddModule(const std::string& name, bool loaded);
void RemoveModule(const std::string& name);
void RegisterExport(const std::string& module, const std::string& name, ExportFn fn);
void RemoveExport(const std::string& module, const std::string& name);
// -1 when the module is unknown; 0 when known but not loaded.
int ModuleRefCount(const std::string& name);
// From now until the next reset, the stand-in "DebugSetMute" of "d3d9.dll"
// records the values passed to it; otherwise it keeps nothing (a running
// program calls it around every sprite batch).
void RecordDebugSetMuteCalls();
// The values recorded, in call order.
std::vector<DWORD> DebugSetMuteCalls();

// --- Virtual memory --------------------------------------------------------
// Limits the bytes VirtualAlloc may commit from now on (beyond what is committed
// at the call); past it VirtualAlloc returns NULL. SIZE_MAX removes the limit.
// FailCall("VirtualAlloc", ...) matches the detail "reserve" or "commit".
void SetVirtualAllocCommitLimit(size_t bytes);
size_t VirtualCommittedBytes();

// --- Clock -----------------------------------------------------------------
// Tests run on the fake clock (start 100,000 ms, wall time 2005-03-22 14:07:09,
// no cost per frame); PLATFORM_FAKE_CLOCK=start[,YYYY-MM-DDTHH:MM:SS] changes the
// defaults. Sleep(n) advances the fake clock by exactly n.
void UseFakeClock(DWORD start = 100000);
void UseRealClock();
void AdvanceClock(DWORD ms);
// Milliseconds every presented frame adds to the fake clock (0: none).
void SetClockMsPerPresent(DWORD ms);
void SetWallClockBase(const SYSTEMTIME& base);
struct TimerPeriodCall {
  bool begin;  // timeBeginPeriod, else timeEndPeriod
  UINT period;
  UINT result;
};
std::vector<TimerPeriodCall> TimerPeriodCalls();

// --- Frames ------------------------------------------------------------------
struct Frame {
  std::int64_t number;  // 1 for the first presented frame
  int width;
  int height;
  std::vector<std::uint8_t> rgba;  // top-down rows, A = 255
};
// Called with every presented frame (as RGBA) until the next reset.
void OnPresent(std::function<void(const Frame&)> callback);
// Frames presented since the last reset.
std::int64_t FrameCount();

// --- Scripted input (headless backend) ---------------------------------------
// Appends script lines. Each line is "[frame N | time MS] event", where the event
// is "move X Y" (client pixels, may lie outside the client area), "ldown", "lup",
// "rdown", "rup", "mdown", "mup", "key down VK", "key up VK" (VK a number, a
// letter or digit, or a name such as escape, return, space, left), "close",
// "activate" or "deactivate". "frame N" waits for N presented frames, "time MS"
// for MS milliseconds of clock after the first script since the reset (or, for
// PLATFORM_INPUT_SCRIPT, after the program's first look at its input); events
// are released in order, each waiting for its own condition.
// '#' starts a comment. False (with a message) on a malformed line; nothing of
// the text is added then.
bool ScriptInput(const std::string& text, std::string* error = nullptr);
// Delivers one event line (without a condition) at once.
bool InputNow(const std::string& event, std::string* error = nullptr);
size_t PendingInputEvents();
// Called after every presented frame (after the OnPresent callbacks).
void OnFrame(std::function<void(std::int64_t frame)> callback);
// The display monitors GetSystemMetrics(SM_CMONITORS) counts headless (0 by
// default, as in a headless program): 1 stands for a desktop.
void SetHeadlessMonitors(int count);

// --- Window ------------------------------------------------------------------
struct WindowState {
  HWND window;       // the backend's window (null when none exists)
  std::string title; // UTF-8
  RECT windowRect;   // screen coordinates, nominal frame included
  RECT clientRect;   // client coordinates
  bool visible;
  bool active;       // GetActiveWindow() == window
  bool fullScreen;   // shown as a desktop-sized window
  POINT cursor;      // screen coordinates
  int cursorShowCount;
};
WindowState MainWindow();

// --- Audio -------------------------------------------------------------------
// Receives what the fake clock pulls from the mixer (S16 stereo, 44,100 Hz).
void OnAudioPulled(std::function<void(const std::int16_t* samples, int frames)> callback);

// --- COM ---------------------------------------------------------------------
int ComInitCount();

}  // namespace platform::test

namespace platform {
// An export every reset restores (areas call this from static initialisers).
void RegisterDefaultExport(const char* module, const char* name, test::ExportFn fn);
}  // namespace platform

namespace platform::test {

// --- Failure injection (every area) ------------------------------------------
// Makes calls of the entry point `api` ("CreateTexture", "LockRect", "CreateDevice",
// ...) fail with `hr`: among the calls whose detail text contains `match` (empty
// matches every call), the nth (1 = the next one) and the count - 1 after it;
// a negative count fails every matching call from the nth on.
struct FailSpec {
  std::string match;
  int nth = 1;
  int count = 1;
};
void FailCall(const std::string& api, HRESULT hr, const FailSpec& when = {});
void FailCall(const std::string& api, HRESULT hr, int nth, int count);
void ClearFailures();
// Calls failed by injection since the last reset (of one entry point, or all).
int InjectedFailureCount(const std::string& api = "");

// --- Diagnostics -------------------------------------------------------------
// Counters of unsupported features and refused uses ("d3d9.sample-render-target", ...).
int DiagnosticCount(const std::string& name);
std::map<std::string, int> Diagnostics();
void ClearDiagnostics();

}  // namespace platform::test

#include "platform/testing_audio.h"
#include "platform/testing_d3d9.h"
#include "platform/testing_gdi.h"
