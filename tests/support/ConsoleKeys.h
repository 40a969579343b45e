#pragma once

#include <QtGlobal>

class QProcess;

// Ctrl+C as a user presses it at the console a program runs in.

// Lets PressCtrlC reach the program QProcess starts next. On Windows the tests' process takes a console (when it has
// none) that the program shares, and swallows the console's Ctrl+C itself; the program's standard streams stay the
// pipes QProcess gives it. Nothing to do on POSIX.
void ShareConsole(QProcess& process);

// Presses Ctrl+C for the running program: SIGINT on POSIX; on Windows a CTRL_C_EVENT to every program on the
// console, as the key sends it. False when the system refused.
bool PressCtrlC(qint64 process);
