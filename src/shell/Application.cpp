#include "Application.h"

#include "CAboutDlg.h"
#include "CMainFrame.h"
#include "ProgramIcon.h"

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
    if (!frame.OnCreate())
        return ExitNotStarted;
    frame.show();
    return QApplication::exec();
}

int Run(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"VandrelViewer"_s);
    QApplication::setApplicationVersion(QStringLiteral(VANDREL_VERSION));
    QApplication::setOrganizationName(u"Vandrel"_s);
    QApplication::setOrganizationDomain(u"vandrel.org"_s);
    QGuiApplication::setDesktopFileName(u"org.vandrel.VandrelViewer"_s);
    QApplication::setWindowIcon(programIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(CAboutDlg::aboutText()
                                     + u"\nViewer for a pocket digital oscilloscope on a serial "
                                       "port.\nPress Space in the window to connect or disconnect. "
                                       "COM<n> is the device named by the\nenvironment variable "
                                       "VANDREL_COM<n> when it is set."_s);
    parser.addHelpOption();
    parser.addVersionOption();
    // The viewer needs no arguments; anything unknown is mentioned, not fatal.
    if (!parser.parse(QApplication::arguments()))
        std::fprintf(stderr, "%s\n", qPrintable(parser.errorText()));
    if (parser.isSet(u"help"_s))
        parser.showHelp(0);
    if (parser.isSet(u"version"_s))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        std::fprintf(stderr, "VandrelViewer: ignoring arguments: %s\n",
                     qPrintable(parser.positionalArguments().join(u' ')));

    return RunMainFrame();
}
