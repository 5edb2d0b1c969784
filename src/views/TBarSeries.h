#pragma once
// A bar series as the graphs window uses it: cleared, fed (x, y) points in
// ascending x, drawn as touching red bars without labels or legend entry.
#include <QColor>
#include <QString>

#include <vector>

class QBarSeries;
class QBarSet;
class QChart;
class QValueAxis;

namespace corvane {

class TBarSeries {
public:
    // Adds the series and its two axes to `chart`, which owns them.
    TBarSeries(QChart* chart, const QString& name, QColor colour);
    TBarSeries(const TBarSeries&) = delete;
    TBarSeries& operator=(const TBarSeries&) = delete;

    void Clear();
    // One bar per point; points come in ascending x, one per whole x from 0.
    void AddXY(double x, double y);

    int Count() const { return static_cast<int>(xValues_.size()); }
    double XValue(int i) const;
    double YValue(int i) const;

    QBarSeries* series() const { return series_; }

private:
    void rescale();

    QBarSeries* series_;
    QBarSet* set_;
    QValueAxis* axisX_;
    QValueAxis* axisY_;
    std::vector<double> xValues_;
};

} // namespace corvane
