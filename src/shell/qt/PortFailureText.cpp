#include "PortFailureText.h"

#include "PortFailureMessage.h"

QString portFailureText(const PortFailure &failure)
{
    return QString::fromStdU16String(portFailureMessage(failure));
}
