// The failure trace: reports a failed call on the debugger output and, when the
// caller asks, in an error box that offers to break into the debugger.
#pragma once

#include "platform/win_types.h"

// Writes "<file>(<line>): " (when file is given), the message and a blank
// (when it is non-empty), then "hr=<name> (0x<8 hex digits>)" and a line end,
// each as its own debugger-output string. With showBox non-zero it then shows a
// Yes/No error box ("Unexpected error encountered") and breaks into the debugger
// on Yes. Returns hr unchanged, so a caller can report and return at once:
//   return TraceHResultA(__FILE__, __LINE__, hr, "m_pFont->InitDeviceObjects", FALSE);
// Texts that do not fit their fixed buffers are cut; a message with no
// terminator within its first 1,024 characters counts as absent. The file name
// is 8-bit text in both forms; the W form widens it from the 8-bit code page.
HRESULT TraceHResultA(const char* file, DWORD line, HRESULT hr, const char* message, BOOL showBox);
HRESULT TraceHResultW(const char* file, DWORD line, HRESULT hr, const WCHAR* message, BOOL showBox);
