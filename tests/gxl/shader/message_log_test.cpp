// The message log: line forms, the cut of long lines, joining, warning states
// against a model, and token descriptions.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>

#include "fail_alloc.h"
#include "log_text.h"
#include "gxl/shader/core/message_log.h"

namespace {

using gxl::shader::MessageLog;
using gxl::shader::WarningStateChange;

using shadertest::LogText;

TEST(GxlShaderMessageLog, LineFormsJoinedOldestFirst) {
  MessageLog log;
  EXPECT_EQ(LogText(log), "<null>");
  EXPECT_EQ(log.JoinMessages(nullptr), S_OK);
  SourceToken inFile;
  inFile.file = "a.fx";
  inFile.line = 3;
  const SourceToken noFile;
  log.ReportError(&inFile, 1004, "%s", "decimal");
  log.ReportError(nullptr, 0, "bare %d", 7);
  log.ReportError(&noFile, 1512, "x");
  log.ReportWarning(&inFile, 1519, "'%s' : macro redefinition", "M");
  GXL_SHADER_REPORT(log, nullptr, gxl::shader::msg::kInternalOutOfMemory);
  EXPECT_EQ(LogText(log),
            "a.fx(3): error X1004: decimal\n"
            "bare 7\n"
            "(1): error X1512: x\n"
            "a.fx(3): warning X1519: 'M' : macro redefinition\n"
            "internal error: out of memory\n");
  EXPECT_EQ(log.ErrorCount(), 4u);
  EXPECT_EQ(log.WarningCount(), 1u);
  log.Reset();
  EXPECT_EQ(LogText(log), "<null>");
  EXPECT_EQ(log.ErrorCount(), 0u);
  log.ReportError(nullptr, 0, "x");
  EXPECT_EQ(LogText(log), "x\n");
}

TEST(GxlShaderMessageLog, LongLinesAreCutKeepingTheLineFeed) {
  const std::string longText(5000, 'a');
  SourceToken longFile, shortFile;
  longFile.file = longText.c_str();
  shortFile.file = "f";
  longFile.line = shortFile.line = 9;
  const struct {
    const SourceToken* position;
    std::uint32_t code;
    std::string text, start;
  } kCases[] = {
      {nullptr, 0, longText, "aaaa"},
      {&shortFile, 2000, longText, "f(9): error X2000: aaa"},
      {&longFile, 2000, "x", "aaaa"},
      {nullptr, 0, std::string(4094, 'b'), "bbbb"},
  };
  for (const auto& c : kCases) {
    MessageLog log;
    log.ReportError(c.position, c.code, "%s", c.text.c_str());
    const std::string line = LogText(log);
    ASSERT_EQ(line.size(), MessageLog::kMaxLineText + 1);
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.compare(0, c.start.size(), c.start), 0);
  }
  // One character less fits whole.
  MessageLog log;
  log.ReportError(nullptr, 0, "%s", std::string(4093, 'c').c_str());
  EXPECT_EQ(LogText(log).size(), 4094u);
}

TEST(GxlShaderMessageLog, WarningEdgeCases) {
  MessageLog log;
  // Level 0 hides warnings, but a code made an error still shows and counts.
  ASSERT_EQ(log.SetWarningLevel(0), S_OK);
  log.ReportWarning(nullptr, 10, "w");
  ASSERT_EQ(log.SetWarningState(11, 15), S_OK);
  log.ReportWarning(nullptr, 11, "e");
  EXPECT_EQ(LogText(log), "error X11: e\n");
  EXPECT_EQ(log.ErrorCount(), 1u);
  EXPECT_EQ(log.WarningCount(), 0u);
  EXPECT_EQ(log.SetWarningLevel(5), E_FAIL);
  // A level-2 warning waits for level 2.
  log.Reset();
  ASSERT_EQ(log.SetWarningLevel(1), S_OK);
  ASSERT_EQ(log.SetWarningState(12, 2), S_OK);
  log.ReportWarning(nullptr, 12, "two");
  EXPECT_EQ(LogText(log), "<null>");
  ASSERT_EQ(log.SetWarningLevel(2), S_OK);
  log.ReportWarning(nullptr, 12, "two");
  EXPECT_EQ(LogText(log), "warning X12: two\n");
  // "once" shows a code once; "default" afterwards shows it every time again.
  log.Reset();
  ASSERT_EQ(log.SetWarningState(13, 16), S_OK);
  for (int i = 0; i < 2; ++i) log.ReportWarning(nullptr, 13, "once");
  log.ReportWarning(nullptr, 14, "always");
  log.ReportWarning(nullptr, 14, "always");
  EXPECT_EQ(LogText(log), "warning X13: once\nwarning X14: always\nwarning X14: always\n");
  ASSERT_EQ(log.SetWarningState(13, 255), S_OK);
  log.Reset();
  for (int i = 0; i < 2; ++i) log.ReportWarning(nullptr, 13, "again");
  EXPECT_EQ(log.WarningCount(), 2u);
}

// What a try said, kept, taken back for another try and put back when that
// fails: the lines, the counts and the "once" warnings it showed, as they were.
TEST(GxlShaderMessageLog, WhatATrySaidIsPutBackWhole) {
  MessageLog log;
  ASSERT_EQ(log.SetWarningState(13, 16), S_OK);
  log.ReportWarning(nullptr, 14, "before");
  MessageLog::Mark mark;
  ASSERT_TRUE(log.SetMark(&mark));
  log.ReportWarning(nullptr, 13, "once");
  log.ReportError(nullptr, 4507, "first try");
  const std::string said = LogText(log);
  MessageLog::Said kept;
  ASSERT_TRUE(log.KeepSaid(mark, &kept));
  log.RollBack(mark);
  log.ReportWarning(nullptr, 13, "once");  // shown again: the other try's own
  log.ReportError(nullptr, 5020, "other try");
  log.RollBack(mark);
  ASSERT_TRUE(log.PutBack(kept));
  EXPECT_EQ(LogText(log), said);
  EXPECT_EQ(log.ErrorCount(), 1u);
  EXPECT_EQ(log.WarningCount(), 2u);
  log.ReportWarning(nullptr, 13, "once");  // shown by the try put back
  EXPECT_EQ(LogText(log), said);
}

// The log's warning decisions against a map of states over random operations.
TEST(GxlShaderMessageLog, WarningStatesFollowAModel) {
  MessageLog log;
  std::map<std::uint32_t, std::uint32_t> states;
  std::uint32_t level = 1;
  std::mt19937 rng(3);
  const std::uint32_t kStates[] = {0, 1, 2, 3, 4, 15, 16, 255, 7};
  for (int op = 0; op < 1000; ++op) {
    const std::uint32_t code = 3000 + rng() % 6;
    switch (rng() % 8) {
      case 0:
      case 1: {
        const std::uint32_t state = kStates[rng() % 9];
        ASSERT_EQ(log.SetWarningState(code, state), S_OK);
        std::uint32_t& s = states.try_emplace(code, 1).first->second;
        if (state == 255)
          s = 1 | (s & 32);
        else if (state == 16)
          s |= 16;
        else
          s = (s & ~15u) | (state & 15);
        break;
      }
      case 2: {
        const std::uint32_t newLevel = rng() % 6;
        ASSERT_EQ(log.SetWarningLevel(newLevel), newLevel <= 4 ? S_OK : E_FAIL);
        if (newLevel <= 4) level = newLevel;
        break;
      }
      case 3:
        log.Reset();
        for (auto& entry : states) entry.second &= ~32u;
        break;
      default: {
        const std::uint32_t errors = log.ErrorCount(), warnings = log.WarningCount();
        log.ReportWarning(nullptr, code, "w");
        std::uint32_t& s = states.try_emplace(code, 1).first->second;
        const std::uint32_t codeLevel = s & 15;
        bool error = false, shown = false;
        if (codeLevel == 15) {
          error = true;
        } else if (level != 0 && codeLevel != 0 && level >= codeLevel && (s & 48) != 48) {
          shown = true;
          s |= 32;
        }
        ASSERT_EQ(log.ErrorCount(), errors + (error ? 1 : 0)) << "op " << op;
        ASSERT_EQ(log.WarningCount(), warnings + (shown ? 1 : 0)) << "op " << op;
        break;
      }
    }
  }
}

TEST(GxlShaderMessageLog, PragmaPairsApplyInOrderAndStopAtAFailure) {
  MessageLog log;
  const WarningStateChange onceThenDefault[] = {{20, 16}, {20, 255}};
  ASSERT_EQ(log.ApplyWarningStates(onceThenDefault, 2), S_OK);
  for (int i = 0; i < 2; ++i) log.ReportWarning(nullptr, 20, "w");
  EXPECT_EQ(log.WarningCount(), 2u);
  // Two codes have states; the third needs the table to grow, which fails.
  ASSERT_EQ(log.SetWarningState(21, 1), S_OK);
  const WarningStateChange changes[] = {{21, 3}, {22, 2}, {23, 4}};
  shadertest::FailNextAllocation();
  EXPECT_EQ(log.ApplyWarningStates(changes, 3), E_OUTOFMEMORY);
  log.Reset();
  ASSERT_EQ(log.SetWarningLevel(2), S_OK);
  log.ReportWarning(nullptr, 21, "level 3 now");
  log.ReportWarning(nullptr, 23, "still level 1");
  EXPECT_EQ(LogText(log), "warning X23: still level 1\n");
}

TEST(GxlShaderMessageLog, ALineWithoutMemoryIsStillCounted) {
  MessageLog log;
  shadertest::FailNextAllocation();
  log.ReportError(nullptr, 1, "lost");
  EXPECT_EQ(log.ErrorCount(), 1u);
  EXPECT_EQ(LogText(log), "<null>");
  // A warning whose state cannot be made is neither logged nor counted.
  shadertest::FailNextAllocation();
  log.ReportWarning(nullptr, 2, "lost");
  EXPECT_EQ(log.WarningCount(), 0u);
}

TEST(GxlShaderMessageLog, DescribesEveryKindOfToken) {
  SourceToken t;
  t.file = "s.fx";
  t.line = 4;
  const struct {
    std::uint32_t kind;
    std::uint32_t number;
    double real;
    const char* text;
    const char* description;
  } kCases[] = {
      {kTokenVersion, 0xFFFE0101, 0, nullptr, "version token"},
      {kTokenPunctuator, 0, 0, nullptr, "token '<<='"},
      {kTokenInt, 4294967295u, 0, nullptr, "integer '4294967295'"},
      {kTokenIntL, 4294967295u, 0, nullptr, "integer '-1l'"},
      {kTokenIntU, 7, 0, nullptr, "integer '7ul'"},
      {kTokenFloat, 0, 1.5, nullptr, "float '1.5'"},
      {kTokenFloatH, 0, 0.25, nullptr, "float '0.25h'"},
      {kTokenFloatF, 0, 1e20, nullptr, "float '1e+20f'"},
      {kTokenFloatL, 0, -2, nullptr, "float '-2l'"},
      {kTokenIdentifier, 0, 0, "main", "token 'main'"},
      {kTokenString, 0, 0, "s", "string constant"},
      {kTokenHeaderName, 0, 0, "h", "token"},
      {kTokenEndOfLine, 0, 0, nullptr, "end of line"},
      {kTokenEndOfInput, 0, 0, nullptr, "end of file"},
  };
  
  for (const auto& c : kCases) {
    MessageLog log;
    t.kind = c.kind;
    t.value.bits = 0;
    if (c.kind == kTokenPunctuator) std::memcpy(t.value.punctuator, "<<=", 4);
    if (c.kind == kTokenInt || c.kind == kTokenIntL || c.kind == kTokenIntU || c.kind == kTokenVersion)
      t.value.number = c.number;
    if (c.real != 0) t.value.real = c.real;
    if (c.text) t.value.text = c.text;
    log.DescribeToken(1500, t);
    EXPECT_EQ(LogText(log), std::string("s.fx(4): error X1500: syntax error : unexpected ") + c.description + "\n");
  }
}

}  // namespace
