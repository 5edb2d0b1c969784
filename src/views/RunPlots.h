#pragma once
// The "Run" window: how a measuring run went, frame by frame. Per frame the
// separation and the screen angle, accepted frames and rejected ones in
// different colours; the primary's residuals from its straight drift; the
// histograms of the accepted frames' separations and angles. A click on a
// frame's point asks to go to that frame. The same figure is saved as PNG or
// SVG, from the window or without one (corvane-measure --plot).
#include "measure/FrameTable.h"

#include <QString>
#include <QWidget>

#include <functional>

class QChartView;
class QPushButton;

namespace corvane {

class RunPlots : public QWidget {
    Q_OBJECT

public:
    explicit RunPlots(QWidget* parent = nullptr);

    // Draws the measured rows of `table` (rows never measured are left out).
    void showRun(const FrameTable& table);

    // The figure into `path`: SVG for a name ending in ".svg", else PNG.
    // Throws Error naming the file when it cannot be written.
    void save(const QString& path);

    // Called with the frame number of a clicked point.
    std::function<void(int32_t frame)> frameClicked;

    QChartView* const SeparationChart;
    QChartView* const AngleChart;
    QChartView* const DriftChart;
    QChartView* const SeparationHistogram;
    QChartView* const AngleHistogram;
};

// The window around the figure, with its "Save..." button.
class RunWindow : public QWidget {
    Q_OBJECT

public:
    explicit RunWindow(QWidget* parent = nullptr);
    RunPlots* const Plots;
    QPushButton* const SaveButton;
    // Asks for the file to save into; empty: cancelled. Tests replace it.
    std::function<QString()> askSavePath;
};

} // namespace corvane
