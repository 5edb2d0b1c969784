#include "views/TBarSeries.h"

#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QValueAxis>

#include <algorithm>
#include <stdexcept>

namespace corvane {

TBarSeries::TBarSeries(QChart* chart, const QString& name, QColor colour)
    : series_(new QBarSeries), set_(new QBarSet(name)), axisX_(new QValueAxis),
      axisY_(new QValueAxis) {
    set_->setColor(colour);
    set_->setBorderColor(colour);
    series_->append(set_);
    series_->setName(name);
    series_->setBarWidth(1.0); // adjacent bars touch
    series_->setLabelsVisible(false);
    chart->addSeries(series_);

    axisX_->setLabelFormat("%d");
    axisY_->setLabelFormat("%d");
    chart->addAxis(axisX_, Qt::AlignBottom);
    chart->addAxis(axisY_, Qt::AlignLeft);
    series_->attachAxis(axisX_);
    series_->attachAxis(axisY_);
    rescale();
}

void TBarSeries::Clear() {
    set_->remove(0, set_->count());
    xValues_.clear();
    rescale();
}

void TBarSeries::AddXY(double x, double y) {
    xValues_.push_back(x);
    set_->append(y);
    rescale();
}

double TBarSeries::XValue(int i) const {
    return xValues_.at(static_cast<std::size_t>(i));
}

double TBarSeries::YValue(int i) const {
    if (i < 0 || i >= set_->count())
        throw std::out_of_range("TBarSeries::YValue");
    return set_->at(i);
}

void TBarSeries::rescale() {
    // A bar series places bar i at x = i; half a bar of room at either end and
    // no more, so the outer bars touch the chart's edges.
    const int n = std::max(Count(), 1);
    axisX_->setRange(-0.5, n - 0.5);
    double top = 1.0;
    for (int i = 0; i < set_->count(); ++i)
        top = std::max(top, set_->at(i));
    axisY_->setRange(0.0, top);
}

} // namespace corvane
