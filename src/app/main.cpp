// Program entry: the main window first (its creation handler places it and
// prepares the working state), then the graphs window, the zoom view and the
// About box, all hidden; then the message loop until the main window closes.
// A file named on the command line opens once the loop runs.
#include "app/AboutBox.h"
#include "app/CommandLine.h"
#include "app/TForm1.h"
#include "common/Version.h"
#include "video/FrameMemory.h"
#include "views/TForm3.h"
#include "views/TForm5.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    // Answered before the toolkit starts, so they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("corvane %s\n", corvane::kVersion);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(corvane::kWindowUsage, stdout);
            return 0;
        }
    }

    corvane::keepFreedFrameMemory();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    // Where the window keeps its settings (the last folder of the file dialogs).
    QApplication::setOrganizationName(QStringLiteral("Corvane"));
    QApplication::setApplicationVersion(QString::fromLatin1(corvane::kVersion));
    QApplication::setDesktopFileName(QStringLiteral("corvane"));
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("corvane"), QIcon(QStringLiteral(":/icons/corvane.png"))));

    const corvane::WindowCommandLine line =
        corvane::parseWindowCommandLine(QApplication::arguments().mid(1));
    if (!line.error.isEmpty()) {
        // One line, so that the message stays on the screen.
        std::fprintf(stderr, "corvane: %s\nTry 'corvane --help'.\n", qPrintable(line.error));
        return 2;
    }

    corvane::TForm1 Form1;
    Form1.FormCreate();
    corvane::TForm3 Form3;
    corvane::TForm5 Form5;
    corvane::TAboutBox AboutBox;
    Form1.setSideWindows(&Form3, &Form5, &AboutBox);
    Form1.show();
    if (!line.file.isEmpty())
        QTimer::singleShot(0, &Form1, [&Form1, &line] { Form1.openGivenFile(line.file); });
    return app.exec();
}
