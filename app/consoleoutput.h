#pragma once

class QByteArray;

// update.exe is a GUI-subsystem program: Windows gives it no console. In console mode the
// report goes to the standard output it was given, a host's pipe or a file, unchanged; when
// it has none (started from a console window), it attaches to the parent's console and
// writes there. Call with the arguments Qt has left. Elsewhere nothing happens.
void connectReportOutput(int argc, char **argv);

// In a Windows console window the report's UTF-8 bytes would be shown through the console's
// code page; there it is written as text instead (true when done). Pipes and files, and
// every other platform, get the bytes unchanged from the caller (false).
bool writeToConsoleWindow(const QByteArray &utf8);
