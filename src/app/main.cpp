// Program entry: the main window first (its creation handler places it and
// prepares the working state), then the graphs window, the zoom view and the
// About box, all hidden; then the message loop until the main window closes.
#include "app/AboutBox.h"
#include "app/TForm1.h"
#include "video/FrameMemory.h"
#include "views/TForm3.h"
#include "views/TForm5.h"

#include <QApplication>

int main(int argc, char** argv) {
    corvane::keepFreedFrameMemory();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));

    corvane::TForm1 Form1;
    Form1.FormCreate();
    corvane::TForm3 Form3;
    corvane::TForm5 Form5;
    corvane::TAboutBox AboutBox;
    Form1.setSideWindows(&Form3, &Form5, &AboutBox);
    Form1.show();
    return app.exec();
}
