#include "views/RunPlots.h"

#include "common/Error.h"
#include "reduce/Statistics.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLegend>
#include <QLineSeries>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScatterSeries>
#include <QSvgGenerator>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

const QColor kAccepted(30, 90, 170);
const QColor kRejected(220, 60, 40);

QChartView* makeChart(QWidget* parent, const char* name, const QString& title) {
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->legend()->setAlignment(Qt::AlignBottom);
    auto* view = new QChartView(chart, parent);
    view->setObjectName(name);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(320, 220);
    return view;
}

QScatterSeries* scatter(const QString& name, const QColor& colour, double size) {
    auto* s = new QScatterSeries;
    s->setName(name);
    s->setColor(colour);
    s->setBorderColor(colour);
    s->setMarkerSize(size);
    return s;
}

// Both axes titled, fitted to what the chart holds and widened to round
// ticks, so that no point sits on the frame.
void addAxes(QChart* chart, const QString& xTitle, const QString& yTitle) {
    chart->createDefaultAxes();
    for (QAbstractAxis* axis : chart->axes())
        if (auto* values = qobject_cast<QValueAxis*>(axis))
            values->applyNiceNumbers();
    const QList<QAbstractAxis*> x = chart->axes(Qt::Horizontal);
    const QList<QAbstractAxis*> y = chart->axes(Qt::Vertical);
    if (!x.isEmpty())
        x[0]->setTitleText(xTitle);
    if (!y.isEmpty())
        y[0]->setTitleText(yTitle);
}

// The accepted frames' values as a histogram outline: about the square root
// of their number of bins, between 5 and 40.
QAreaSeries* histogram(const std::vector<double>& values, const QColor& colour) {
    auto* upper = new QLineSeries;
    if (!values.empty()) {
        const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
        const int bins =
            std::clamp(static_cast<int>(std::ceil(std::sqrt(double(values.size())))), 5, 40);
        const double width = *hi > *lo ? (*hi - *lo) / bins : 1.0;
        std::vector<int> counts(static_cast<std::size_t>(bins), 0);
        for (double v : values)
            ++counts[static_cast<std::size_t>(
                std::min(bins - 1, static_cast<int>((v - *lo) / width)))];
        upper->append(*lo, 0);
        for (int b = 0; b < bins; ++b) {
            upper->append(*lo + b * width, counts[static_cast<std::size_t>(b)]);
            upper->append(*lo + (b + 1) * width, counts[static_cast<std::size_t>(b)]);
        }
        upper->append(*lo + bins * width, 0);
    }
    auto* area = new QAreaSeries(upper);
    // The area draws the outline but does not own it.
    upper->setParent(area);
    area->setColor(colour.lighter(150));
    area->setBorderColor(colour);
    return area;
}

void clear(QChartView* view) {
    QChart* chart = view->chart();
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes())
        chart->removeAxis(axis);
}

} // namespace

RunPlots::RunPlots(QWidget* parent)
    : QWidget(parent),
      SeparationChart(makeChart(this, "SeparationChart", QStringLiteral("Separation"))),
      AngleChart(makeChart(this, "AngleChart", QStringLiteral("Screen angle"))),
      DriftChart(makeChart(this, "DriftChart",
                           QStringLiteral("Primary's drift: residuals from its straight line"))),
      SeparationHistogram(
          makeChart(this, "SeparationHistogram", QStringLiteral("Separation, accepted frames"))),
      AngleHistogram(
          makeChart(this, "AngleHistogram", QStringLiteral("Screen angle, accepted frames"))) {
    setObjectName(QStringLiteral("RunPlots"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(SeparationChart, 0, 0);
    grid->addWidget(AngleChart, 0, 1);
    grid->addWidget(DriftChart, 1, 0, 1, 2);
    grid->addWidget(SeparationHistogram, 2, 0);
    grid->addWidget(AngleHistogram, 2, 1);
    setStyleSheet(QStringLiteral("background: white"));
}

void RunPlots::showRun(const FrameTable& table) {
    for (QChartView* v :
         {SeparationChart, AngleChart, DriftChart, SeparationHistogram, AngleHistogram})
        clear(v);
    QScatterSeries* sepAccepted = scatter(QStringLiteral("accepted"), kAccepted, 6);
    QScatterSeries* sepRejected = scatter(QStringLiteral("rejected"), kRejected, 7);
    QScatterSeries* angleAccepted = scatter(QStringLiteral("accepted"), kAccepted, 6);
    QScatterSeries* angleRejected = scatter(QStringLiteral("rejected"), kRejected, 7);
    std::vector<double> seps, angles;
    PairPositions positions;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (!isMeasuredRow(table, i))
            continue;
        const FrameRow& r = table[i];
        const double frame = static_cast<double>(i);
        (r.Valid ? sepAccepted : sepRejected)->append(frame, r.SepPixels);
        (r.Valid ? angleAccepted : angleRejected)->append(frame, r.ScreenAngle);
        if (r.Valid) {
            seps.push_back(r.SepPixels);
            angles.push_back(r.ScreenAngle);
        }
        PairPosition p;
        p.PrimaryX = r.PrimaryX;
        p.PrimaryY = r.PrimaryY;
        p.TimeUs = r.TimeUs;
        p.FrameNo = static_cast<int32_t>(i);
        p.Valid = r.Valid;
        positions.push_back(p);
    }
    QScatterSeries* driftX = scatter(QStringLiteral("x"), kAccepted, 5);
    QScatterSeries* driftY = scatter(QStringLiteral("y"), QColor(40, 150, 80), 5);
    for (const DriftResidual& d : driftResiduals(positions)) {
        driftX->append(d.frame, d.x);
        driftY->append(d.frame, d.y);
    }

    const auto fill = [](QChartView* view, std::initializer_list<QAbstractSeries*> series,
                         const QString& xTitle, const QString& yTitle, bool legend) {
        for (QAbstractSeries* s : series)
            view->chart()->addSeries(s);
        addAxes(view->chart(), xTitle, yTitle);
        view->chart()->legend()->setVisible(legend);
    };
    const QString frame = QStringLiteral("frame");
    fill(SeparationChart, {sepAccepted, sepRejected}, frame, QStringLiteral("pixels"), true);
    fill(AngleChart, {angleAccepted, angleRejected}, frame, QStringLiteral("degrees"), true);
    fill(DriftChart, {driftX, driftY}, frame, QStringLiteral("pixels"), true);
    fill(SeparationHistogram, {histogram(seps, kAccepted)}, QStringLiteral("pixels"),
         QStringLiteral("frames"), false);
    fill(AngleHistogram, {histogram(angles, kAccepted)}, QStringLiteral("degrees"),
         QStringLiteral("frames"), false);
    for (QScatterSeries* s :
         {sepAccepted, sepRejected, angleAccepted, angleRejected, driftX, driftY})
        connect(s, &QScatterSeries::clicked, this, [this](const QPointF& p) {
            if (frameClicked)
                frameClicked(static_cast<int32_t>(std::lround(p.x())));
        });
}

void RunPlots::save(const QString& path) {
    const QString failed = path + QStringLiteral(": the figure cannot be written");
    if (path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(size());
        svg.setViewBox(rect());
        svg.setTitle(QStringLiteral("Run"));
        QPainter painter;
        if (!painter.begin(&svg))
            throw Error(failed.toStdString());
        render(&painter);
        if (!painter.end())
            throw Error(failed.toStdString());
        return;
    }
    if (!grab().save(path, "PNG"))
        throw Error(failed.toStdString());
}

RunWindow::RunWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), Plots(new RunPlots(this)),
      SaveButton(new QPushButton(QStringLiteral("Save..."), this)) {
    setObjectName(QStringLiteral("RunWindow"));
    setWindowTitle(QStringLiteral("Run"));
    SaveButton->setObjectName(QStringLiteral("SaveButton"));
    auto* column = new QVBoxLayout(this);
    column->addWidget(Plots, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(SaveButton);
    column->addLayout(buttons);
    resize(1100, 850);
    askSavePath = [this] {
        return QFileDialog::getSaveFileName(
            this, QStringLiteral("Save the figure"), QStringLiteral("run.png"),
            QStringLiteral("PNG image (*.png);;SVG drawing (*.svg)"));
    };
    connect(SaveButton, &QPushButton::clicked, this, [this] {
        const QString path = askSavePath ? askSavePath() : QString();
        if (path.isEmpty())
            return;
        try {
            Plots->save(path);
        } catch (const Error& e) {
            QMessageBox::warning(this, QStringLiteral("Run"), QString::fromStdString(e.what()));
        }
    });
}

} // namespace corvane
