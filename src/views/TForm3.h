#pragma once
// The "Graphs" window: the row and column intensity profiles of the system box
// on the frame on screen, as two bar charts. Opened only by the main window's
// hidden "Graph" button; nothing updates it afterwards.
#include "measure/Starbox.h"
#include "video/FrameImage.h"
#include "views/Profiles.h"
#include "views/TBarSeries.h"

#include <QWidget>

#include <memory>

class QChartView;

namespace corvane {

class Player;

class TForm3 : public QWidget {
    Q_OBJECT

public:
    explicit TForm3(QWidget* parent = nullptr);
    ~TForm3() override;

    // Button8Click of the main window: draw the frame afresh (throws "No MCI
    // device open" with no video, before anything changes), then
    // showProfilesOf the frame the player stands on.
    void showProfiles(Player& player, const TStarbox& systemBox, int mainLeft, int mainWidth);
    // The rest of Button8Click on the given intensities: clear both series,
    // put the window's left edge at mainLeft + mainWidth (top unchanged),
    // show it, and add the new bars.
    void showProfilesOf(const IntensityPlane& plane, const TStarbox& systemBox, int mainLeft,
                        int mainWidth);

    QChartView* const Chart2;                   // "X positions", upper
    QChartView* const Chart1;                   // "Ypositions", lower
    TBarSeries& Series2() { return *series2_; } // column profile
    TBarSeries& Series1() { return *series1_; } // row profile

private:
    std::unique_ptr<TBarSeries> series2_;
    std::unique_ptr<TBarSeries> series1_;
};

} // namespace corvane
