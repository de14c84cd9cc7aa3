// Entry point of torvane.exe: opens the calculator dialog and returns when
// it has ended.
#include "dialog.h"
#include "session_file.h"
#include "win32_window.h"

#include <cstring>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int)
{
    // The session of the last run (%LOCALAPPDATA%\Torvane), unless --fresh.
    bool fresh = false;
    for (const char* p = command_line; p != nullptr && *p != '\0';) {
        while (*p == ' ' || *p == '\t')
            ++p;
        const char* end = p;
        while (*end != '\0' && *end != ' ' && *end != '\t')
            ++end;
        if (end - p == 7 && std::strncmp(p, "--fresh", 7) == 0)
            fresh = true;
        p = end;
    }
    if (!fresh)
        use_session_file(default_session_path());
    win32_window window(instance);
    run_torvane_dialog(window);
    return 0;
}
