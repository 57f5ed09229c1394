#pragma once
// The tests see here the line settings the port asks the terminal for: a
// pseudo-terminal keeps CREAD on whatever it is told, so reading them back
// would not show a port that never enables its receiver.
#include <termios.h>

using TTcSetAttr = int (*)(int, int, const termios*);
extern TTcSetAttr ComPortTcSetAttr;
