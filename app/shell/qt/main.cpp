// Entry point of torvane, the calculator dialog on Qt: answers --help and
// --version on the command line, otherwise opens the dialog and returns when
// it has ended.
#include "qt_dialog.h"
#include "session_file.h"

#include <QApplication>
#include <QCommandLineParser>

namespace {

void describe(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Calculator for arbitrarily large signed integers: opens the Torvane window.\n"
        "torvane-headless runs the same calculator from a script."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(QStringLiteral("fresh"),
                                        QStringLiteral("Start with empty fields and no history, and neither read nor "
                                                       "write the saved session.")));
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("torvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TORVANE_VERSION));
    {
        // --help and --version print and end the program before any window
        // system is needed, so they work without a display too.
        QCoreApplication plain(argc, argv);
        QCommandLineParser parser;
        describe(parser);
        if (parser.parse(QCoreApplication::arguments())) {
            if (parser.isSet(QStringLiteral("help")))
                parser.showHelp(0);
            if (parser.isSet(QStringLiteral("version")))
                parser.showVersion();
        }
    }
    QApplication application(argc, argv);
    // The window system's own options are taken by now; anything else not
    // understood is named, and the program ends with status 1.
    QCommandLineParser parser;
    describe(parser);
    parser.process(application);
    // The session of the last run, unless --fresh.
    if (!parser.isSet(QStringLiteral("fresh")))
        use_session_file(default_session_path());
    qt_dialog dialog;
    dialog.exec();
    return 0;
}
