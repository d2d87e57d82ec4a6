#pragma once

#include <QIcon>

// The program's icon, scalable, from the resources.
QIcon programIcon();
