// Test hooks of the platform layer. Tests include this header only; programs
// configure the platform through environment variables instead.
#pragma once

#include <cstdint>
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

// --- Modules and exports ---------------------------------------------------
using ExportFn = std::intptr_t (*)();
// Adds a module (loaded or not yet loaded) if absent; names are case-insensitive.
void AddModule(const std::string& name, bool loaded);
void RemoveModule(const std::string& name);
void RegisterExport(const std::string& module, const std::string& name, ExportFn fn);
void RemoveExport(const std::string& module, const std::string& name);
// -1 when the module is unknown; 0 when known but not loaded.
int ModuleRefCount(const std::string& name);
// Values passed to the stand-in "DebugSetMute" of "d3d9.dll", in call order.
const std::vector<DWORD>& DebugSetMuteCalls();

// --- Virtual memory --------------------------------------------------------
// Limits the bytes VirtualAlloc may commit from now on (beyond what is committed
// at the call); past it VirtualAlloc returns NULL. SIZE_MAX removes the limit.
void SetVirtualAllocCommitLimit(size_t bytes);
size_t VirtualCommittedBytes();

}  // namespace platform::test

namespace platform {
// An export every reset restores (areas call this from static initialisers).
void RegisterDefaultExport(const char* module, const char* name, test::ExportFn fn);
}  // namespace platform
