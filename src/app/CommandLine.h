#pragma once
// The command line of the window program: `corvane [FILE]`, so that a file
// manager or the desktop entry can open a video with it.
#include <QString>
#include <QStringList>

namespace corvane {

extern const char* const kWindowUsage;

struct WindowCommandLine {
    bool help = false;
    bool version = false;
    QString file;  // empty: start with no video, as from the menu
    QString error; // not empty: the command line cannot be run
};

// Reads the arguments after the program name, with the toolkit's own
// options already taken out.
WindowCommandLine parseWindowCommandLine(const QStringList& args);

} // namespace corvane
