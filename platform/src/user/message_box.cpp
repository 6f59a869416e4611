// Message boxes. Under test every box is recorded; interactive backends show it
// and return the user's click, headless a scripted answer stands for it.
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "backend/backend.h"
#include "kernel/utf.h"
#include "platform/testing.h"
#include "platform/win_user.h"
#include "testing/failure.h"
#include "user/window_system.h"

namespace {

struct BoxState {
  std::mutex mutex;
  int answer = 0;
  std::vector<platform::test::MessageBoxRecord> records;
};

BoxState& State() {
  static BoxState s;
  return s;
}

void ResetBoxes() {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().answer = 0;
  State().records.clear();
}

[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetBoxes), true);

int DefaultAnswer(UINT type) { return (type & 0xF) == MB_YESNO ? IDNO : IDOK; }

int Show(std::string caption, std::string text, UINT type, bool wide) {
  BoxState& s = State();
  int scripted;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (platform::detail::UnderTest()) s.records.push_back({caption, text, type, wide});
    scripted = s.answer ? s.answer : DefaultAnswer(type);
  }
  int answer;
  std::string why;
  platform::user::SetMessageBoxUp(true);
  const bool shown = platform::backend::Current().ShowMessageBox(caption, text, type, &answer, &why);
  platform::user::SetMessageBoxUp(false);
  if (shown) return answer;
  // A box no one can see must not be lost: a program says it on stderr, and
  // why a box it tried could not be shown (tests read the records instead).
  if (!platform::detail::UnderTest()) {
    const std::string reason = why.empty() ? std::string() : "it could not be shown: " + why + "; ";
    std::fprintf(stderr, "platform: a message box no one can see (%sanswered %s): %s: %s\n", reason.c_str(),
                 scripted == IDYES ? "Yes" : scripted == IDNO ? "No" : "OK", caption.c_str(), text.c_str());
  }
  return scripted;
}

}  // namespace

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  return Show(caption ? caption : "Error", text ? text : "", type, false);
}

int MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
  return Show(caption ? platform::utf::ToUtf8(caption) : "Error", platform::utf::ToUtf8(text), type, true);
}

namespace platform::test {

void SetMessageBoxAnswer(int answer) {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().answer = answer;
}

const std::vector<MessageBoxRecord>& MessageBoxRecords() { return State().records; }

}  // namespace platform::test
