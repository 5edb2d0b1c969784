// The "Graphs" window: what the Graph button puts into the two bar charts.
#include "views/TForm3.h"

#include "ViewTestSupport.h"
#include "common/Error.h"
#include "sim/AviWriter.h"
#include "support/TempDir.h"
#include "video/Player.h"

#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QLegend>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace corvane {
namespace {

using testing::boxAt;

TEST(Graphs, StartsHiddenWithTwoTitledChartsOfTouchingRedBars) {
    TForm3 form;
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.windowTitle(), "Graphs");
    EXPECT_EQ(form.pos(), QPoint(1305, 159));
    EXPECT_EQ(form.Chart2->chart()->title(), "X positions");
    EXPECT_EQ(form.Chart1->chart()->title(), "Ypositions");
    EXPECT_EQ(form.Chart2->geometry(), QRect(0, 0, 169, 169));
    EXPECT_EQ(form.Chart1->geometry(), QRect(0, 168, 169, 169));
    EXPECT_EQ(form.Chart1->rubberBand(), QChartView::NoRubberBand);
    for (TBarSeries* s : {&form.Series1(), &form.Series2()}) {
        QBarSeries* bars = s->series();
        EXPECT_DOUBLE_EQ(bars->barWidth(), 1.0);
        EXPECT_FALSE(bars->isLabelsVisible());
        ASSERT_EQ(bars->count(), 1);
        EXPECT_EQ(bars->barSets()[0]->color(), QColor(Qt::red));
        EXPECT_EQ(bars->barSets()[0]->borderColor(), QColor(Qt::red));
        EXPECT_FALSE(bars->chart()->legend()->isVisible());
        EXPECT_EQ(s->Count(), 0);
    }
}

TEST(Graphs, PressShowsOneBarPerLineRightOfTheMainWindow) {
    TForm3 form;
    IntensityPlane plane = testing::blankPlane();
    const TStarbox box = boxAt(300, 200, 40);
    // A lone pixel of 200 in row 7, column 12 of the box.
    plane.set(box.Left + 12, box.Top + 7, 200);
    const int topBefore = form.y();

    form.showProfilesOf(plane, box, 150, 900);

    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.x(), 1050);
    EXPECT_EQ(form.y(), topBefore);
    for (TBarSeries* s : {&form.Series1(), &form.Series2()}) {
        ASSERT_EQ(s->Count(), 40);
        for (int i = 0; i < 40; ++i)
            EXPECT_EQ(s->XValue(i), i);
        EXPECT_EQ(s->series()->barSets()[0]->count(), 40);
    }
    EXPECT_EQ(form.Series1().YValue(7), 100); // rows go to "Ypositions"
    EXPECT_EQ(form.Series1().YValue(12), 0);
    EXPECT_EQ(form.Series2().YValue(12), 100); // columns go to "X positions"
    EXPECT_EQ(form.Series2().YValue(7), 0);
}

TEST(Graphs, BarsRoundHalvesToEven) {
    TForm3 form;
    IntensityPlane plane = testing::blankPlane();
    const TStarbox box = boxAt(50, 60, 10);
    plane.set(box.Left + 3, box.Top + 1, 5); // 5 / 2 = 2.5
    plane.set(box.Left + 4, box.Top + 2, 7); // 7 / 2 = 3.5
    form.showProfilesOf(plane, box, 0, 0);
    EXPECT_EQ(form.Series1().YValue(1), 2);
    EXPECT_EQ(form.Series1().YValue(2), 4);
    EXPECT_EQ(form.Series2().YValue(3), 2);
    EXPECT_EQ(form.Series2().YValue(4), 4);
}

TEST(Graphs, SecondPressReplacesTheBars) {
    TForm3 form;
    IntensityPlane plane = testing::blankPlane();
    const TStarbox big = boxAt(100, 100, 40);
    plane.set(big.Left, big.Top, 200);
    form.showProfilesOf(plane, big, 150, 900);
    form.close(); // closing only hides; the next press shows it again

    IntensityPlane next = testing::blankPlane();
    const TStarbox small = boxAt(400, 300, 12);
    next.set(small.Left + 11, small.Top + 11, 60);
    form.showProfilesOf(next, small, 150, 900);

    EXPECT_TRUE(form.isVisible());
    for (TBarSeries* s : {&form.Series1(), &form.Series2()}) {
        ASSERT_EQ(s->Count(), 12);
        EXPECT_EQ(s->series()->barSets()[0]->count(), 12);
        EXPECT_EQ(s->YValue(0), 0);
        EXPECT_EQ(s->YValue(11), 30);
        EXPECT_EQ(s->XValue(11), 11);
    }
}

TEST(Graphs, WithoutAVideoThePressFailsBeforeChangingAnything) {
    TForm3 form;
    IntensityPlane plane = testing::blankPlane();
    const TStarbox box = boxAt(100, 100, 8);
    plane.set(box.Left, box.Top, 200);
    form.showProfilesOf(plane, box, 150, 900);
    form.hide();

    Player player;
    try {
        form.showProfiles(player, boxAt(0, 0, 20), 150, 900);
        FAIL() << "expected the player's error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "No MCI device open");
    }
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.Series1().Count(), 8);
    EXPECT_EQ(form.Series1().YValue(0), 100);
}

// A three-frame grey video with a lit square in the middle frame.
class SmallVideo {
public:
    SmallVideo() {
        sim::VideoFormat format;
        format.width = 64;
        format.height = 48;
        sim::AviWriter writer(path(), format);
        for (int n = 0; n < 3; ++n) {
            std::vector<sim::Pixel> picture(64 * 48, 0);
            if (n == 1)
                for (int y = 20; y < 24; ++y)
                    for (int x = 30; x < 33; ++x)
                        picture[static_cast<std::size_t>(y * 64 + x)] = 0xC8C8C8;
            writer.writeFrame(picture, n);
        }
        writer.finish();
    }
    std::string path() const { return dir_.file("lit.avi"); }

private:
    test::TempDir dir_{"corvane-views"};
};

TEST(Graphs, PressShowsTheFrameOnScreenWithoutTheOutlinesOverIt) {
    SmallVideo video;
    PanelSurface panel;
    Player player(panel);
    player.OpenVideo(video.path());
    player.SeekTo(1);
    const TStarbox box = boxAt(24, 16, 16);
    const Profiles clean = computeProfiles(player.Intensities(), box);
    ASSERT_GT(clean.rows[5].y, 100) << "the lit square must show in the frame";
    panel.rectangleOutline(box.Left + 2, box.Top + 2, box.Right - 2, box.Bottom - 2, kYellow);

    TForm3 form;
    form.showProfiles(player, box, 150, 900);

    EXPECT_EQ(player.CurrentFrame(), 1);
    ASSERT_EQ(form.Series1().Count(), 16);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(form.Series1().YValue(i), clean.rows[i].y) << "row " << i;
        EXPECT_EQ(form.Series2().YValue(i), clean.columns[i].y) << "column " << i;
    }
}

} // namespace
} // namespace corvane
