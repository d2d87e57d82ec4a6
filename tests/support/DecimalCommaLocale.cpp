#include "DecimalCommaLocale.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace {

constexpr const char *LocaleName = "de_DE.UTF-8";

bool usesDecimalComma(const char *path)
{
    // glibc reads LOCPATH on every setlocale call; the test's own locale is put back afterwards.
    const char *previousPath = std::getenv("LOCPATH");
    const std::string savedPath = previousPath != nullptr ? previousPath : "";
    if (path != nullptr)
        setenv("LOCPATH", path, 1);
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    bool comma = false;
    if (std::setlocale(LC_NUMERIC, LocaleName) != nullptr)
        comma = std::strcmp(std::localeconv()->decimal_point, ",") == 0;
    std::setlocale(LC_NUMERIC, saved.c_str());
    if (previousPath != nullptr)
        setenv("LOCPATH", savedPath.c_str(), 1);
    else
        unsetenv("LOCPATH");
    return comma;
}

} // namespace

std::optional<DecimalCommaLocale> decimalCommaLocale()
{
    if (usesDecimalComma(nullptr))
        return DecimalCommaLocale {LocaleName, {}};

    namespace fs = std::filesystem;
    // Not probed with setlocale before it exists: the C library remembers a failed lookup for the
    // rest of the process.
    const fs::path directory = fs::path(VANDREL_TEST_LOCALE_DIR);
    const auto made = [&] { return fs::exists(directory / LocaleName / "LC_NUMERIC"); };
    if (!made()) {
        // Built beside and renamed into place, so that tests running in parallel never see a
        // half-written locale.
        std::error_code error;
        fs::create_directories(directory, error);
        const fs::path partial =
            directory / ("partial-" + std::to_string(static_cast<long>(getpid())));
        fs::remove_all(partial, error);
        fs::create_directories(partial, error);
        const std::string command =
            "localedef -i de_DE -f UTF-8 '" + (partial / LocaleName).string() + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0)
            fs::rename(partial / LocaleName, directory / LocaleName, error);
        fs::remove_all(partial, error);
    }
    if (!made() || !usesDecimalComma(directory.c_str()))
        return std::nullopt;
    return DecimalCommaLocale {LocaleName, directory.string()};
}
