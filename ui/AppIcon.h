// The program's window icon, drawn at the sizes a window manager asks for.
#pragma once

#include <QIcon>

QIcon AppIcon();
