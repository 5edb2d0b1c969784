// The "Run" figure: accepted and rejected frames apart, frames never
// measured left out, a click naming its frame, and the saved PNG and SVG.
#include "views/RunPlots.h"

#include "support/TempDir.h"

#include <QChart>
#include <QChartView>
#include <QFile>
#include <QImage>
#include <QScatterSeries>

#include <gtest/gtest.h>

namespace corvane {
namespace {

QScatterSeries* seriesOf(QChartView* view, int i) {
    return qobject_cast<QScatterSeries*>(view->chart()->series().at(i));
}

TEST(RunPlots, AcceptedAndRejectedApartAndAClickGoesToItsFrame) {
    FrameTable table(40); // frames 30 to 39 never measured
    for (int32_t i = 0; i < 30; ++i) {
        FrameRow& r = table[static_cast<std::size_t>(i)];
        r.FrameNo = i;
        r.SystemX = 100;
        r.SepPixels = 18.0f + 0.1f * static_cast<float>(i % 3);
        r.ScreenAngle = 30;
        r.PrimaryX = 10.0f + 1.5f * static_cast<float>(i);
        r.PrimaryY = 50;
        r.TimeUs = 66000 * i;
        r.Valid = i % 5 != 0;
    }
    RunPlots plots;
    plots.showRun(table);
    EXPECT_EQ(seriesOf(plots.SeparationChart, 0)->count(), 24);
    EXPECT_EQ(seriesOf(plots.AngleChart, 1)->count(), 6);
    EXPECT_EQ(seriesOf(plots.DriftChart, 0)->count(), 24);

    int32_t clicked = -1;
    plots.frameClicked = [&clicked](int32_t frame) { clicked = frame; };
    emit seriesOf(plots.SeparationChart, 1)->clicked(QPointF(15.2, 18.0));
    EXPECT_EQ(clicked, 15);

    test::TempDir dir;
    plots.resize(900, 700);
    plots.save(QString::fromStdString(dir.file("run.png")));
    EXPECT_EQ(QImage(QString::fromStdString(dir.file("run.png"))).size(), QSize(900, 700));
    plots.save(QString::fromStdString(dir.file("run.svg")));
    QFile svg(QString::fromStdString(dir.file("run.svg")));
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    EXPECT_TRUE(svg.readAll().contains("<svg"));
}

} // namespace
} // namespace corvane
