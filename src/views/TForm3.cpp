#include "views/TForm3.h"

#include "video/Player.h"

#include <QChart>
#include <QChartView>
#include <QGraphicsLayout>
#include <QLegend>

namespace corvane {

namespace {

constexpr int kChartSide = 169;
const QColor kBarColour(255, 0, 0);

QChartView* makeChart(QWidget* parent, const char* name, const QString& title, int top) {
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->legend()->hide();
    // The back wall is see-through: only the chart's own background shows.
    chart->setPlotAreaBackgroundVisible(false);
    chart->setMargins(QMargins(0, 0, 0, 0));
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    auto* view = new QChartView(chart, parent);
    view->setObjectName(name);
    view->setGeometry(0, top, kChartSide, kChartSide);
    view->setRenderHint(QPainter::Antialiasing, false);
    return view;
}

} // namespace

TForm3::TForm3(QWidget* parent)
    : QWidget(parent, Qt::Window), Chart2(makeChart(this, "Chart2", "X positions", 0)),
      Chart1(makeChart(this, "Chart1", "Ypositions", 168)),
      series2_(std::make_unique<TBarSeries>(Chart2->chart(), "Series2", kBarColour)),
      series1_(std::make_unique<TBarSeries>(Chart1->chart(), "Series1", kBarColour)) {
    setObjectName("Form3");
    setWindowTitle("Graphs");
    move(1305, 159);
    resize(181, 375);
    // The upper chart can be zoomed with the mouse (right button zooms out);
    // the lower one cannot.
    Chart2->setRubberBand(QChartView::RectangleRubberBand);
    Chart1->setRubberBand(QChartView::NoRubberBand);
}

TForm3::~TForm3() = default;

void TForm3::showProfiles(Player& player, const TStarbox& systemBox, int mainLeft, int mainWidth) {
    // The frame drawn afresh, as the user then sees it: the profiles are of
    // the frame at which the player stands after that.
    player.RedrawFrame();
    showProfilesOf(player.Intensities(), systemBox, mainLeft, mainWidth);
}

void TForm3::showProfilesOf(const IntensityPlane& plane, const TStarbox& systemBox, int mainLeft,
                            int mainWidth) {
    series1_->Clear();
    series2_->Clear();
    Chart1->chart()->zoomReset();
    Chart2->chart()->zoomReset();
    move(mainLeft + mainWidth, y());
    show();

    const Profiles profiles = computeProfiles(plane, systemBox);
    for (const ProfilePoint& p : profiles.rows)
        series1_->AddXY(p.x, p.y);
    for (const ProfilePoint& p : profiles.columns)
        series2_->AddXY(p.x, p.y);
}

} // namespace corvane
