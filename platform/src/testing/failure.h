// Failure injection, diagnostic counters and the test switch, as the platform's
// areas see them.
// Tests arm failures and read counters through platform/testing.h.
#pragma once

#include <string_view>

#include "platform/win_types.h"

namespace platform::detail {

// True when an armed failure matches this call of `api`; *hr then receives the
// code to return. `detail` describes the call (arguments) for armed matches.
// Cheap when nothing is armed.
bool ShouldFail(const char* api, HRESULT* hr, std::string_view detail = {});

// Counts one occurrence of an unsupported feature or a refused use ("d3d9.…").
void CountDiagnostic(std::string_view name);

// True once a test has reset the platform. Records that only tests read (audio
// events, message boxes, timer periods) are kept only then: a running program
// never reads them and would grow them for as long as it runs.
bool UnderTest();

}  // namespace platform::detail
