// Entry point of torvane, the calculator dialog on Qt: opens the dialog and
// returns when it has ended.
#include "qt_dialog.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    qt_dialog dialog;
    dialog.exec();
    return 0;
}
