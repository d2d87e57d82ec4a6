#include "CommandLine.h"

#include <string_view>

std::string versionText()
{
    return "VandrelViewer " VANDREL_VERSION "\n";
}

std::string usageText()
{
    return "Usage: VandrelViewer [options]\n"
           "VandrelViewer " VANDREL_VERSION
           ", a viewer for a pocket digital oscilloscope on a serial port.\n"
           "\n"
           "Opens COM1 and shows the instrument's frames once Space is pressed in the window;\n"
           "Space again disconnects, and the toolbar's plug button chooses another port.\n"
           "\n"
           "Options:\n"
           "  -h, --help     Show this help and exit.\n"
           "  -v, --version  Show the version and exit.\n"
           "\n"
           "Environment:\n"
           "  VANDREL_COM<n>  The device that COM<n> (1 to 20) stands for, instead of\n"
           "                  /dev/ttyS0-3 (COM1-4), /dev/ttyUSB0-7 (COM5-12) or\n"
           "                  /dev/ttyACM0-7 (COM13-20).\n";
}

std::optional<int> answerInformationalOptions(int argc, char **argv, std::FILE *out)
{
    for (int index = 1; index < argc && argv[index] != nullptr; ++index) {
        const std::string_view argument = argv[index];
        if (argument == "--")
            break;
        std::string text;
        if (argument == "-h" || argument == "--help" || argument == "-?")
            text = usageText();
        else if (argument == "-v" || argument == "--version")
            text = versionText();
        else
            continue;
        const bool written = std::fputs(text.c_str(), out) >= 0 && std::fflush(out) == 0;
        return written ? 0 : 1;
    }
    return std::nullopt;
}
