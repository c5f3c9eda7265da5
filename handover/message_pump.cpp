// The message pump: during the wait for the secondary setup, and now and then during the
// extraction so that the preparing window keeps painting.
#include "../package/busy.h"
#include "../shell/bootstrap.h"
#include "launch.h"

void PumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, 0, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// The extraction's loops call this every few kilobytes; a pump every 50 ms is enough to
// keep the window painted and the platform from calling it unresponsive. The clock is read
// only every 16th call (64 KiB), so the copy loops pay next to nothing for it.
void WhileBusy()
{
    static DWORD calls, lastPump;
    if (++calls % 16 != 0) return;
    DWORD now = GetTickCount();
    if (now - lastPump < 50) return;
    lastPump = now;
    PumpMessages();
}
