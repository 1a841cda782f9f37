#include "tests/win/support/BoxRecorder.h"

#include <gtest/gtest.h>

#include "common/core/TextUtil.h"

namespace kavtest {

TBoxRecorder::TBoxRecorder(int DefaultAnswer) : FDefaultAnswer(DefaultAnswer) {
  FPrevious = kav::SetMessageBoxHandler(
      [this](HWND Owner, const std::wstring& Text, const std::wstring& Caption, UINT Flags) {
        Boxes.push_back({Owner, Text, Caption, Flags, StateAtShow ? StateAtShow() : false});
        if (WhileOpen) WhileOpen();
        if (Answers.empty()) return FDefaultAnswer;
        const int answer = Answers.front();
        Answers.pop_front();
        return answer;
      });
}

TBoxRecorder::~TBoxRecorder() { kav::SetMessageBoxHandler(FPrevious); }

void ExpectBox(const TBox& Box, HWND Owner, const std::wstring& Text, const std::wstring& Caption, UINT Flags) {
  SCOPED_TRACE(kav::ToUtf8(Text));
  EXPECT_EQ(Box.Owner, Owner);
  EXPECT_EQ(Box.Text, Text);
  EXPECT_EQ(Box.Caption, Caption);
  EXPECT_EQ(Box.Flags, Flags);
}

} // namespace kavtest
