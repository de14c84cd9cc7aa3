// Entry point of torvane.exe: opens the calculator dialog and returns when
// it has ended.
#include "win32_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    win32_window window(instance);
    run_torvane_dialog(window);
    return 0;
}
