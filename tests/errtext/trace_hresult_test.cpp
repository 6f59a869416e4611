#include "errtext/trace_hresult.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testing.h"
#include "platform/win_user.h"

namespace {

using Records = std::vector<std::string>;
using platform::test::DebugBreakCount;
using platform::test::DebugOutput;
using platform::test::MessageBoxRecords;

constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005);
constexpr HRESULT kInvalidCall = static_cast<HRESULT>(0x8876086C);
const char* const kQuestion = "Do you want to debug the application?";

void CountBreak() {}

class TraceHResult : public testing::Test {
 protected:
  void SetUp() override { platform::test::SetDebugBreakHook(&CountBreak); }
  static std::string BoxText() {
    EXPECT_EQ(MessageBoxRecords().size(), 1u);
    return MessageBoxRecords().empty() ? std::string() : MessageBoxRecords().back().text;
  }
};

TEST_F(TraceHResult, FrameworkStartupFailureInBothForms) {
  for (bool wide : {false, true}) {
    platform::test::ClearDebugOutput();
    const HRESULT result =
        wide ? TraceHResultW("qel\\appbase\\qeldxappbase", 145, kFail, u"m_pFont->InitDeviceObjects", FALSE)
             : TraceHResultA("qel\\appbase\\qeldxappbase", 145, kFail, "m_pFont->InitDeviceObjects", FALSE);
    EXPECT_EQ(result, kFail);
    EXPECT_EQ(DebugOutput(), (Records{"qel\\appbase\\qeldxappbase(145): ", "m_pFont->InitDeviceObjects", " ",
                                      "hr=E_FAIL (0x80004005)", "\n"}))
        << wide;
  }
  EXPECT_TRUE(MessageBoxRecords().empty());
  EXPECT_EQ(DebugBreakCount(), 0);
}

TEST_F(TraceHResult, CodeTextFormat) {
  TraceHResultA(nullptr, 1, kInvalidCall, nullptr, FALSE);
  TraceHResultA(nullptr, 1, 5, nullptr, FALSE);
  TraceHResultA(nullptr, 1, 0x12345678, nullptr, FALSE);
  TraceHResultA(nullptr, 1, static_cast<HRESULT>(0x80040205), nullptr, FALSE);
  EXPECT_EQ(DebugOutput(), (Records{"hr=D3DERR_INVALIDCALL (0x8876086c)", "\n",  // lower-case digits
                                    "hr=ERROR_ACCESS_DENIED (0x00000005)", "\n",  // always eight
                                    "hr=Unknown (0x12345678)", "\n",
                                    "hr=DIERR_NOTEXCLUSIVEACQUIRED & VFW_E_FILTER_ACTIVE & "
                                    "DMO_E_TYPE_NOT_ACCEPTED (0x80040205)",
                                    "\n"}));
}

TEST_F(TraceHResult, WideFormUsesTheUtf16Names) {
  TraceHResultW(nullptr, 1, 0x00040002, nullptr, FALSE);
  TraceHResultW(nullptr, 1, 9900, nullptr, FALSE);
  TraceHResultA(nullptr, 1, 9900, nullptr, FALSE);
  EXPECT_EQ(DebugOutput(), (Records{"hr=OLE_S_MAC_CLIPFORMAT & MS_S_NOUPDATE (0x00040002)", "\n",
                                    "hr=Unknown (0x000026ac)", "\n", "hr=DNS_ERROR_DP_BASE (0x000026ac)", "\n"}));
}

TEST_F(TraceHResult, LineNumberIsA32BitSignedValue) {
  TraceHResultA("f", 0, kFail, nullptr, FALSE);
  TraceHResultA("f", 0xFFFFFFFFu, kFail, nullptr, FALSE);
  TraceHResultW("f", 0x80000000u, kFail, nullptr, FALSE);
  TraceHResultA("f", 0x7FFFFFFFu, kFail, nullptr, FALSE);
  const Records& out = DebugOutput();
  ASSERT_EQ(out.size(), 12u);
  EXPECT_EQ(out[0], "f(0): ");
  EXPECT_EQ(out[3], "f(-1): ");
  EXPECT_EQ(out[6], "f(-2147483648): ");
  EXPECT_EQ(out[9], "f(2147483647): ");
}

TEST_F(TraceHResult, NullFileHasNoHeadAndAnEmptyFileLine) {
  EXPECT_EQ(TraceHResultA(nullptr, 7, kFail, "Call", TRUE), kFail);
  EXPECT_EQ(DebugOutput(), (Records{"Call", " ", "hr=E_FAIL (0x80004005)", "\n"}));
  EXPECT_EQ(BoxText(), std::string("File: \nLine: 7\nError Code: E_FAIL (0x80004005)\nCalling: Call\n") + kQuestion);
}

TEST_F(TraceHResult, AbsentMessages) {
  // 1,024 characters with no terminator among them: the scan stops there and
  // reads nothing beyond.
  std::vector<char> unterminated(1024, 'm');
  std::vector<char16_t> unterminatedW(1024, u'm');
  const std::string box = std::string("File: a.cpp\nLine: 3\nError Code: E_FAIL (0x80004005)\n") + kQuestion;
  auto expectNoMessage = [&](HRESULT result) {
    EXPECT_EQ(result, kFail);
    EXPECT_EQ(DebugOutput(), (Records{"a.cpp(3): ", "hr=E_FAIL (0x80004005)", "\n"}));
    EXPECT_EQ(BoxText(), box);
    platform::test::ResetAll();
    platform::test::SetDebugBreakHook(&CountBreak);
  };
  for (const char* message : {static_cast<const char*>(nullptr), "", static_cast<const char*>(unterminated.data())})
    expectNoMessage(TraceHResultA("a.cpp", 3, kFail, message, TRUE));
  for (const char16_t* message :
       {static_cast<const char16_t*>(nullptr), u"", static_cast<const char16_t*>(unterminatedW.data())})
    expectNoMessage(TraceHResultW("a.cpp", 3, kFail, message, TRUE));
}

TEST_F(TraceHResult, LongestMessageIsSentWholeButCutInTheBox) {
  const std::string message(1023, 'q');
  const std::u16string messageW(1023, u'q');
  // "Calling: " and the message fill the 1,023 characters; the line break is lost.
  const std::string calling = "Calling: " + message.substr(0, 1023 - 9);
  for (bool wide : {false, true}) {
    platform::test::ResetAll();
    platform::test::SetDebugBreakHook(&CountBreak);
    wide ? TraceHResultW("a.cpp", 3, kFail, messageW.c_str(), TRUE)
         : TraceHResultA("a.cpp", 3, kFail, message.c_str(), TRUE);
    ASSERT_EQ(DebugOutput().size(), 5u);
    EXPECT_EQ(DebugOutput()[1], message);
    EXPECT_EQ(BoxText(), "File: a.cpp\nLine: 3\nError Code: E_FAIL (0x80004005)\n" + calling + kQuestion);
  }
}

TEST_F(TraceHResult, LongFileNames) {
  // The box keeps 259 characters of the file name.
  const std::string file(300, 'f');
  TraceHResultA(file.c_str(), 9, kFail, nullptr, TRUE);
  EXPECT_EQ(DebugOutput()[0], file + "(9): ");
  EXPECT_EQ(BoxText(), "File: " + file.substr(0, 259) + "\nLine: 9\nError Code: E_FAIL (0x80004005)\n" + kQuestion);

  // The debug-output head is cut only where it reaches 2,999 characters.
  const std::string huge(3100, 'g');
  for (bool wide : {false, true}) {
    platform::test::ResetAll();
    if (wide) {
      TraceHResultW(huge.c_str(), 9, kFail, nullptr, FALSE);
    } else {
      TraceHResultA(huge.c_str(), 9, kFail, nullptr, FALSE);
    }
    ASSERT_EQ(DebugOutput().size(), 3u);
    EXPECT_EQ(DebugOutput()[0], huge.substr(0, 2999)) << wide;
  }
  platform::test::ResetAll();
  const std::string justFits(2999 - 6, 'h');  // "(9): " and the name make 2,999
  TraceHResultA(justFits.c_str(), 9, kFail, nullptr, FALSE);
  EXPECT_EQ(DebugOutput()[0], justFits + "(9): ");
}

TEST_F(TraceHResult, WideFormWidensTheFileName) {
  const std::string file = "ゲーム\\ぬらもぺい.cpp";
  TraceHResultW(file.c_str(), 12, kFail, u"描画", TRUE);
  EXPECT_EQ(DebugOutput(), (Records{file + "(12): ", "描画", " ", "hr=E_FAIL (0x80004005)", "\n"}));
  EXPECT_EQ(BoxText(),
            "File: " + file + "\nLine: 12\nError Code: E_FAIL (0x80004005)\nCalling: 描画\n" + kQuestion);
  EXPECT_TRUE(MessageBoxRecords().back().wide);
  // UTF-16 capacities count UTF-16 units, not bytes: 2,000 three-byte
  // characters fit the 2,999-unit head whole.
  platform::test::ResetAll();
  std::string long3;
  for (int i = 0; i < 2000; ++i) long3 += "ぬ";
  TraceHResultW(long3.c_str(), 1, kFail, nullptr, FALSE);
  EXPECT_EQ(DebugOutput()[0], long3 + "(1): ");
}

TEST_F(TraceHResult, BoxAnswers) {
  // No (the default answer): the program goes on, no break.
  EXPECT_EQ(TraceHResultA("a.cpp", 3, kInvalidCall, "Draw", TRUE), kInvalidCall);
  ASSERT_EQ(MessageBoxRecords().size(), 1u);
  EXPECT_EQ(MessageBoxRecords()[0].caption, "Unexpected error encountered");
  EXPECT_EQ(MessageBoxRecords()[0].type, 0x14u);
  EXPECT_EQ(MessageBoxRecords()[0].type, MB_YESNO | MB_ICONERROR);
  EXPECT_FALSE(MessageBoxRecords()[0].wide);
  EXPECT_EQ(MessageBoxRecords()[0].text,
            std::string("File: a.cpp\nLine: 3\nError Code: D3DERR_INVALIDCALL (0x8876086c)\nCalling: Draw\n") +
                kQuestion);
  EXPECT_EQ(DebugBreakCount(), 0);

  // Yes breaks into the debugger, and the call still returns hr.
  platform::test::SetMessageBoxAnswer(IDYES);
  EXPECT_EQ(TraceHResultA("a.cpp", 3, kInvalidCall, "Draw", TRUE), kInvalidCall);
  EXPECT_EQ(DebugBreakCount(), 1);
  EXPECT_EQ(TraceHResultW("a.cpp", 3, kInvalidCall, u"Draw", TRUE), kInvalidCall);
  EXPECT_EQ(DebugBreakCount(), 2);
  ASSERT_EQ(MessageBoxRecords().size(), 3u);
  EXPECT_TRUE(MessageBoxRecords()[2].wide);
  EXPECT_EQ(MessageBoxRecords()[2].caption, "Unexpected error encountered");
  EXPECT_EQ(MessageBoxRecords()[2].text, MessageBoxRecords()[0].text);
}

TEST_F(TraceHResult, NoBoxUnlessAsked) {
  platform::test::SetMessageBoxAnswer(IDYES);
  EXPECT_EQ(TraceHResultA("a.cpp", 3, kFail, "x", FALSE), kFail);
  EXPECT_EQ(TraceHResultW("a.cpp", 3, kFail, u"x", FALSE), kFail);
  EXPECT_TRUE(MessageBoxRecords().empty());
  EXPECT_EQ(DebugBreakCount(), 0);
  // Any non-zero value asks for the box.
  EXPECT_EQ(TraceHResultA("a.cpp", 3, kFail, "x", 2), kFail);
  EXPECT_EQ(MessageBoxRecords().size(), 1u);
}

TEST_F(TraceHResult, SuccessCodesAreReportedAndReturnedToo) {
  EXPECT_EQ(TraceHResultA(nullptr, 0, 0, nullptr, FALSE), 0);
  EXPECT_EQ(TraceHResultW(nullptr, 0, 1, nullptr, FALSE), 1);
  EXPECT_EQ(DebugOutput(), (Records{"hr=S_OK (0x00000000)", "\n", "hr=S_FALSE (0x00000001)", "\n"}));
}

}  // namespace
