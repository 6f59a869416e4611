// Process-wide services of the math library used by other subsystems.
#pragma once

#include <cstdint>

// Records mute as the current setting and returns the setting it replaces (0
// before the first call). Unless the registry value "GXLDoNotMute" is set, mute is
// passed on to the "DebugSetMute" entries of the Direct3D runtime modules that are
// loaded. Bracket device calls that may fail harmlessly:
//   previous = SetDebugMute(1); ...; SetDebugMute(previous);
std::int32_t SetDebugMute(std::int32_t mute);

// Once per process: checks that ::operator new(0) gives unique non-null pointers
// and warns on the debugger output when it does not.
void CheckNewDeleteConformance();
