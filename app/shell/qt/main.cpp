// Entry point of torvane, the calculator dialog on Qt: reads the command
// line before any window system is needed (--help, --version, an unknown
// option or a stray argument end the program there, with or without a
// display), then opens the dialog and returns when it has ended.
#include "qt_dialog.h"
#include "dialog.h"
#include "session_file.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

namespace {

// The options QGuiApplication and QApplication take for themselves (with
// one dash or two): accepted here and left in the arguments for the
// QApplication made afterwards. Hidden from --help.
constexpr const char* qt_options_with_value[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry",
    "qwindowicon", "icon", "qwindowtitle", "title", "session", "display", "name", "visual",
    "style", "stylesheet", "qmljsdebugger",
};
constexpr const char* qt_flags[] = {"reverse", "testability", "widgetcount", "nograb", "dograb", "sync"};

// Every option torvane understands, in one place.
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
    // Qt's own options are written with one dash: "-platform offscreen".
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const char* name : qt_options_with_value) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : qt_flags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("torvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TORVANE_VERSION));
    bool fresh = false;
    {
        // A plain core application needs no platform plugin: --help,
        // --version and mistakes are answered without a display too. An
        // unknown option is named as Qt names it, with status 1.
        QCoreApplication plain(argc, argv);
        QCommandLineParser parser;
        describe(parser);
        parser.process(plain);
        if (const QStringList stray = parser.positionalArguments(); !stray.isEmpty()) {
            std::fprintf(stderr, "torvane: Unexpected argument '%s': torvane takes no positional arguments.\n",
                         qPrintable(stray.first()));
            return 1;
        }
        fresh = parser.isSet(QStringLiteral("fresh"));
    }
    QApplication application(argc, argv);
    // The session of the last run, unless --fresh.
    if (!fresh)
        use_session_file(default_session_path());
    qt_dialog dialog;
    dialog.exec();
    return 0;
}
