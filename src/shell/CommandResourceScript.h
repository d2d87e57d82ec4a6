#pragma once

#include <string>

// The menu, accelerator table and string table of the Windows program as resource-script text
// (UTF-8), written from the command definitions. The Windows build compiles a committed copy; a
// test holds that copy to this text, so the resources cannot drift from the table.
std::string commandResourceScript();
