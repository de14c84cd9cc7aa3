// torvane_drive.exe: works a running torvane.exe from outside, through the
// messages any program may send to another's window, for the checks of the
// installed program (which has no test hooks). Each argument is a command:
//   window TITLE     waits (up to 30 s) for the visible top-level window TITLE
//   type ID TEXT     types TEXT into control ID, one character after another
//   click ID         clicks button ID
//   wait ID PREFIX   waits (up to 30 s) until control ID's text starts with PREFIX
//   show ID          prints control ID's text on a line of its own
//   close            sends the close box's message and waits (up to 30 s) for
//                    the program to end; prints "exit N" with its exit status
// Stops with status 1 and a reason on standard error when a command fails.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

HWND dialog = nullptr;

[[noreturn]] void fail(const std::string& why)
{
    std::fprintf(stderr, "torvane_drive: %s\n", why.c_str());
    std::exit(1);
}

HWND control(const char* id)
{
    HWND item = dialog == nullptr ? nullptr : GetDlgItem(dialog, std::atoi(id));
    if (item == nullptr)
        fail(std::string("no control ") + id);
    return item;
}

std::string text_of(HWND item)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(item, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 30000, &length))
        fail("the program does not answer");
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(item, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL, 30000,
                        &copied);
    text.resize(copied);
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string command = argv[i];
        const auto argument = [&](int k) {
            if (i + k >= argc)
                fail("'" + command + "' wants more arguments");
            return argv[i + k];
        };
        if (command == "window") {
            for (int waited = 0; waited <= 30000 && dialog == nullptr; waited += 100) {
                HWND found = FindWindowA(nullptr, argument(1));
                if (found != nullptr && IsWindowVisible(found))
                    dialog = found;
                else
                    Sleep(100);
            }
            if (dialog == nullptr)
                fail(std::string("no window ") + argument(1));
            i += 1;
        } else if (command == "type") {
            HWND item = control(argument(1));
            for (const char* c = argument(2); *c != '\0'; ++c)
                SendMessageA(item, WM_CHAR, static_cast<unsigned char>(*c), 1);
            i += 2;
        } else if (command == "click") {
            SendMessageA(control(argument(1)), BM_CLICK, 0, 0);
            i += 1;
        } else if (command == "wait") {
            HWND item = control(argument(1));
            const std::string prefix = argument(2);
            int waited = 0;
            while (text_of(item).rfind(prefix, 0) != 0) {
                if ((waited += 100) > 30000)
                    fail("control " + std::string(argument(1)) + " shows '" + text_of(item) + "', not '" + prefix +
                         "...'");
                Sleep(100);
            }
            i += 2;
        } else if (command == "show") {
            std::printf("%s\n", text_of(control(argument(1))).c_str());
            i += 1;
        } else if (command == "close") {
            if (dialog == nullptr)
                fail("no window to close");
            DWORD process_id = 0;
            GetWindowThreadProcessId(dialog, &process_id);
            HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
            if (process == nullptr)
                fail("cannot watch the program's process");
            PostMessageA(dialog, WM_CLOSE, 0, 0);
            if (WaitForSingleObject(process, 30000) != WAIT_OBJECT_0)
                fail("the program did not end");
            DWORD status = 0;
            GetExitCodeProcess(process, &status);
            CloseHandle(process);
            std::printf("exit %lu\n", static_cast<unsigned long>(status));
        } else {
            fail("unknown command '" + command + "'");
        }
        std::fflush(stdout);
    }
    return 0;
}
