// torvane-probe: torvane with three test hooks, for the check of the real
// window under Xvfb. It writes torvane-ready.txt into the current folder
// once the dialog is shown; appends every status line it shows to
// torvane-status.log as "SECONDS TEXT" (wall-clock seconds since 1970, so
// that the script can compare them with the moments it pressed keys); and,
// when the dialog ends, writes every value field and the status field into
// torvane-fields.txt, one "id=text" line each. The shipped program has none
// of the hooks.
#include "shell/qt/qt_dialog.h"

#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <vector>

namespace {

class probe_dialog : public qt_dialog {
public:
    void write_status(const char* text) override
    {
        if (std::FILE* log = std::fopen("torvane-status.log", "ab")) {
            const auto now = std::chrono::system_clock::now().time_since_epoch();
            std::fprintf(log, "%.3f %s\n", std::chrono::duration<double>(now).count(), text);
            std::fclose(log);
        }
        qt_dialog::write_status(text);
    }

    void end_dialog() override
    {
        if (std::FILE* out = std::fopen("torvane-fields.txt", "wb")) {
            std::vector<char> text(70000);
            for (int id : {IDC_FIELD_X, IDC_FIELD_Y, IDC_FIELD_Z, IDC_FIELD_A, IDC_FIELD_B, IDC_FIELD_ANS, IDC_STATUS}) {
                read_field(id, text.data(), static_cast<int>(text.size()));
                std::fprintf(out, "%d=%s\n", id, text.data());
            }
            std::fclose(out);
        }
        qt_dialog::end_dialog();
    }
};

}  // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    probe_dialog dialog;
    dialog.show();
    QTimer::singleShot(0, [] {
        if (std::FILE* ready = std::fopen("torvane-ready.txt", "wb")) {
            std::fputs("ready\n", ready);
            std::fclose(ready);
        }
    });
    dialog.exec();
    return 0;
}
