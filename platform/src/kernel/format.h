// printf-style formatting into a std::string, for log lines and messages.
#pragma once

#include <string>

namespace platform {

std::string Printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace platform
