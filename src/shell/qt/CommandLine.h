#pragma once

#include <cstdio>
#include <optional>
#include <string>

// The informational options, answered before anything needs a display: a man page generator or
// a packaging check runs them on machines without one.
std::string versionText();
std::string usageText();

// When the command line asks for help or the version, writes the answer to out and answers the
// exit code; otherwise nothing, and the program starts as usual.
std::optional<int> answerInformationalOptions(int argc, char **argv, std::FILE *out);
