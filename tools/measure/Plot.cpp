#include "Plot.h"

#include "common/Error.h"

#ifdef CORVANE_WITH_PLOTS
#include "views/RunPlots.h"

#include <QApplication>

#include <cstdio>
#include <optional>
#endif

namespace corvane::tool {

#ifdef CORVANE_WITH_PLOTS

void writeRunPlot(const std::string& path, const FrameTable& table) {
    // Drawn off screen, so that the tool needs no display; the toolkit's
    // notes about the missing desktop are no news to the user.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                std::fprintf(stderr, "%s\n", qPrintable(text));
        });
    int argc = 1;
    char name[] = "corvane-measure";
    char* argv[] = {name, nullptr};
    // Made and ended here, after the figure's widgets are gone.
    std::optional<QApplication> app;
    if (!QApplication::instance())
        app.emplace(argc, argv);
    struct Restore {
        QtMessageHandler handler;
        ~Restore() { qInstallMessageHandler(handler); }
    } restore{previous};
    RunPlots plots;
    plots.resize(1200, 900);
    plots.showRun(table);
    // Shown (off screen), so that the charts lay themselves out as in the window.
    plots.setAttribute(Qt::WA_DontShowOnScreen);
    plots.show();
    QApplication::processEvents();
    plots.save(QString::fromStdString(path));
}

#else

void writeRunPlot(const std::string& path, const FrameTable&) {
    throw Error(path + ": this corvane-measure was built without the window, so it draws no plots");
}

#endif

} // namespace corvane::tool
