// The message catalogue: every code of the shader tools present once per text,
// warnings where the tools warn, and formats that the compiler accepts.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <utility>

#include "gxl/shader/core/messages.h"
#include "tests/support/outside_input.h"
#include "tests/support/test_util.h"

namespace {

using gxl::shader::kAllMessages;
using gxl::shader::Message;
using gxl::shader::MessageSeverity;

std::set<std::uint32_t> Range(std::uint32_t first, std::uint32_t last, std::set<std::uint32_t> gaps = {}) {
  std::set<std::uint32_t> codes;
  for (std::uint32_t c = first; c <= last; ++c)
    if (!gaps.count(c)) codes.insert(c);
  return codes;
}

TEST(GxlShaderMessages, OneEntryPerCodeAndText) {
  std::set<std::pair<std::uint32_t, std::string>> seen;
  for (const Message& m : kAllMessages) {
    EXPECT_TRUE(seen.emplace(m.code, m.format).second) << m.code << " " << m.format;
    const std::string text = m.format;
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n') << "the log adds the line feed: " << text;
  }
}

TEST(GxlShaderMessages, EveryCodeOfTheToolsIsPresent) {
  std::set<std::uint32_t> expected;
  auto add = [&](const std::set<std::uint32_t>& codes) { expected.insert(codes.begin(), codes.end()); };
  add(Range(1001, 1007));
  add(Range(1500, 1519));
  add(Range(2000, 2031, {2006, 2016, 2017}));
  add(Range(2900, 2905));
  add({3000, 3003, 3004, 3005, 3006, 3007, 3008, 3009, 3011, 3012, 3013, 3014, 3017, 3018, 3019, 3020, 3021, 3022,
       3025, 3030, 3031, 3032, 3033, 3035, 3036, 3037, 3038, 3039, 3040, 3041, 3043, 3044, 3045, 3046, 3047, 3048,
       3051, 3052, 3053, 3054, 3055, 3058, 3059, 3060, 3061, 3062, 3064, 3065, 3067, 3068, 3069, 3070, 3071, 3072,
       3073, 3074, 3075, 3076, 3077, 3078, 3079, 3080, 3081, 3082});
  add(Range(3500, 3512));
  add({4000, 4002, 4003, 4004, 4005, 4006, 4007});
  add(Range(4500, 4555, {4503, 4522, 4531, 4542}));
  add(Range(4701, 4707, {4706}));
  add({4801, 4802, 4803, 4806, 4808, 4809, 4810, 4812, 4813, 4814, 4817, 4818, 4820, 4821, 4822, 4823, 4825, 4826,
       4827, 4831, 4832, 4833, 4835});
  expected.insert(0);
  std::set<std::uint32_t> present;
  for (const Message& m : kAllMessages) present.insert(m.code);
  EXPECT_EQ(present, expected);
}

TEST(GxlShaderMessages, WarningsAreTheToolsWarnings) {
  std::set<std::uint32_t> warnings;
  for (const Message& m : kAllMessages) {
    if (m.severity != MessageSeverity::Warning) continue;
    warnings.insert(m.code);
    if (m.code == 0) {
      EXPECT_EQ(std::string(m.format).rfind("internal warning: ", 0), 0u) << m.format;
    }
  }
  const std::set<std::uint32_t> expected = {0, 1519, 2015, 2030, 3078, 3081, 3505, 3509, 4547,
                                            4701, 4702, 4703, 4704, 4705, 4707};
  EXPECT_EQ(warnings, expected);
  // Internal errors are uncoded or numbered 48xx, apart from the clip check that shares 4500.
  for (const Message& m : kAllMessages) {
    if (std::string(m.format).rfind("internal error: ", 0) == 0) {
      EXPECT_TRUE(m.code == 0 || m.code == 4500 || (m.code >= 4800 && m.code <= 4899)) << m.format;
    }
  }
}

// The arguments a format takes, as C++ expressions: one per conversion.
std::string ArgumentsFor(const std::string& format, bool* known) {
  std::string args;
  *known = true;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    ++i;
    while (i < format.size() && std::string("-+ #0123456789.").find(format[i]) != std::string::npos) ++i;
    if (i >= format.size()) {
      *known = false;
      break;
    }
    switch (format[i]) {
      case '%': break;
      case 's': args += ", \"s\""; break;
      case 'u': args += ", 1u"; break;
      case 'd':
      case 'i': args += ", 1"; break;
      case 'c': args += ", 'c'"; break;
      case 'g': args += ", 1.0"; break;
      default: *known = false; break;
    }
  }
  return args;
}

// Every entry reported with the arguments its conversions call for builds
// under g++'s format checker, and a report with a wrong argument does not.
TEST(GxlShaderMessages, ReportsAreCheckedAgainstTheirFormats) {
#define GXL_SHADER_NAME(name, code, severity, format) #name,
  const char* const kNames[] = {GXL_SHADER_MESSAGES(GXL_SHADER_NAME)};
#undef GXL_SHADER_NAME
  ASSERT_EQ(std::size(kNames), std::size(kAllMessages));
  std::string program =
      "#include \"gxl/shader/core/message_log.h\"\nusing namespace gxl::shader;\nvoid Report(MessageLog& log) {\n";
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    bool known = false;
    const std::string args = ArgumentsFor(kAllMessages[i].format, &known);
    EXPECT_TRUE(known) << "unexpected conversion in " << kAllMessages[i].format;
    program += "  GXL_SHADER_REPORT(log, nullptr, msg::k" + std::string(kNames[i]) + args + ");\n";
  }
  program += "  GXL_SHADER_REPORT(log, nullptr, msg::kInvalidMask, 5);\n}\n";
  const std::string mismatchedLine = std::to_string(3 + std::size(kNames) + 1);
  NURA_REQUIRE_OUTSIDE_INPUT(nura::test::HaveTool("g++"), "g++");
  const std::string path = nura::test::BinaryDir() + "/message_reports.cpp";
  std::ofstream(path) << program;
  std::string output;
  const std::string root = nura::test::SourceDir();
  const int status = nura::test::RunCommand("g++ -std=c++20 -fsyntax-only -Wformat=2 -Werror=format -I" + root +
                                                " -I" + root + "/platform/include " + path,
                                            nullptr, &output);
  EXPECT_NE(status, 0);
  std::size_t errors = 0;
  for (std::size_t at = 0; (at = output.find("error:", at)) != std::string::npos; ++at) ++errors;
  EXPECT_EQ(errors, 1u) << output;
  EXPECT_NE(output.find("message_reports.cpp:" + mismatchedLine + ":"), std::string::npos) << output;
  std::remove(path.c_str());
}

}  // namespace
