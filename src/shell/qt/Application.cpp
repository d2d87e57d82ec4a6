#include "Application.h"

#include "CMainFrame.h"
#include "CommandLine.h"
#include "NativeWindowWatch.h"
#include "ProgramIcon.h"
#include "TerminationSignals.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

int RunMainFrame()
{
    // The frame ends the loop itself, with its own code, once its window has been closed.
    QApplication::setQuitOnLastWindowClosed(false);

    // Destroyed after the loop has ended: the view's thread first, then the receiver's.
    CMainFrame frame;
    // Before the port is first opened: from then on a termination signal must close it.
    const TerminationSignals terminations([&frame] { frame.OnExit(); });
    if (!frame.OnCreate())
        return ExitNotStarted;
    frame.show();
    const NativeWindowWatch destroyedFromOutside(&frame, [&frame] { frame.OnExit(); });
    return QApplication::exec();
}

int Run(int argc, char **argv)
{
    if (const auto answered = answerInformationalOptions(argc, argv, stdout))
        return *answered;

    QApplication app(argc, argv);
    QApplication::setApplicationName(u"VandrelViewer"_s);
    QApplication::setApplicationVersion(QStringLiteral(VANDREL_VERSION));
    QApplication::setOrganizationName(u"Vandrel"_s);
    QApplication::setOrganizationDomain(u"vandrel.org"_s);
    QGuiApplication::setDesktopFileName(u"org.vandrel.VandrelViewer"_s);
    QApplication::setWindowIcon(programIcon());

    QCommandLineParser parser;
    // The viewer needs no arguments; anything unknown is mentioned, not fatal.
    if (!parser.parse(QApplication::arguments()))
        std::fprintf(stderr, "%s\n", qPrintable(parser.errorText()));
    if (!parser.positionalArguments().isEmpty())
        std::fprintf(stderr, "VandrelViewer: ignoring arguments: %s\n",
                     qPrintable(parser.positionalArguments().join(u' ')));

    return RunMainFrame();
}
