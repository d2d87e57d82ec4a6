#include "PortNames.h"

std::string portDisplayName(int index)
{
    return "COM" + std::to_string(index + 1);
}
