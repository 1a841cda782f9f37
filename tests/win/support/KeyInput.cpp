#include "tests/win/support/KeyInput.h"

namespace kavtest {

namespace {

void SendKey(WORD Vk, bool Up, bool Extended) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = Vk;
  in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(Vk, MAPVK_VK_TO_VSC));
  in.ki.dwFlags = (Up ? KEYEVENTF_KEYUP : 0) | (Extended ? KEYEVENTF_EXTENDEDKEY : 0);
  SendInput(1, &in, sizeof in);
}

} // namespace

void KeyDown(WORD Vk, bool Extended) { SendKey(Vk, false, Extended); }

void KeyUp(WORD Vk, bool Extended) { SendKey(Vk, true, Extended); }

} // namespace kavtest
