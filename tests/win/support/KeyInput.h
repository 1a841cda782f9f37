#pragma once
// Real keyboard input, injected with SendInput as a person's key presses
// arrive: through the system's input queue to the focus or a hot key.
#include <windows.h>

namespace kavtest {

// Presses a key (Extended: the key is one of the extended keys, e.g. Home on the arrow block).
void KeyDown(WORD Vk, bool Extended = false);
// Releases a key.
void KeyUp(WORD Vk, bool Extended = false);

} // namespace kavtest
