#pragma once

#include <optional>
#include <string>

// A locale that writes numbers with a decimal comma (de_DE.UTF-8), for tests that must see what a
// locale-following formatter would do. The machine need not have it installed: it is then compiled
// once with localedef into a directory of the build tree.
struct DecimalCommaLocale
{
    std::string Name;
    // The directory to put into LOCPATH; empty when the system already provides the locale.
    std::string Path;
};

// Nothing when the locale can be neither found nor made (no localedef or no locale sources).
std::optional<DecimalCommaLocale> decimalCommaLocale();
