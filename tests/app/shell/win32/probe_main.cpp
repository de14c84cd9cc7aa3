// torvane_probe.exe: torvane.exe with three test hooks, for the check under
// Wine. It writes torvane-ready.txt into the current folder once the dialog
// is initialised; appends every status line it shows to torvane-status.log
// as "SECONDS TEXT" (wall-clock seconds since 1970, comparable with the
// moments the script pressed keys); and, when the dialog ends, writes every
// value field and the status field into torvane-fields.txt, one "id=text"
// line each. The shipped program has none of the hooks.
#include "shell/win32/win32_window.h"

#include "../../../../resources/resource.h"

#include <chrono>
#include <cstdio>
#include <initializer_list>

namespace {

class probe_window : public win32_window {
public:
    using win32_window::win32_window;

    void write_status(const char* text) override
    {
        if (std::FILE* log = std::fopen("torvane-status.log", "ab")) {
            const auto now = std::chrono::system_clock::now().time_since_epoch();
            std::fprintf(log, "%.3f %s\n", std::chrono::duration<double>(now).count(), text);
            std::fclose(log);
        }
        win32_window::write_status(text);
    }

    void end_dialog() override
    {
        if (std::FILE* out = std::fopen("torvane-fields.txt", "wb")) {
            static char text[70000];
            for (int id : {IDC_FIELD_X, IDC_FIELD_Y, IDC_FIELD_Z, IDC_FIELD_A, IDC_FIELD_B, IDC_FIELD_ANS, IDC_STATUS}) {
                GetDlgItemTextA(handle(), id, text, sizeof text);
                std::fprintf(out, "%d=%s\n", id, text);
            }
            std::fclose(out);
        }
        win32_window::end_dialog();
    }
};

INT_PTR CALLBACK probe_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    const INT_PTR result = torvane_dialog_proc(dialog, message, wparam, lparam);
    if (message == WM_INITDIALOG) {
        if (std::FILE* ready = std::fopen("torvane-ready.txt", "wb")) {
            std::fputs("ready\n", ready);
            std::fclose(ready);
        }
    }
    return result;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    probe_window window(instance);
    run_torvane_dialog(window, probe_procedure);
    return 0;
}
