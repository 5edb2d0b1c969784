// The "Zoom View" window: placement, when it paints, and that its picture
// survives repaints.
#include "views/TForm5.h"

#include "ViewTestSupport.h"

#include <QApplication>
#include <QImage>
#include <QPushButton>

#include <gtest/gtest.h>

namespace corvane {
namespace {

using testing::boxAt;

// The colour a panel pixel has in the test pictures: distinct per position.
Colour patternColour(int x, int y) {
    return static_cast<Colour>(((x * 7) & 0xFF) | (((y * 5) & 0xFF) << 8) | 0x400000);
}

PanelSurface patternPanel() {
    PanelSurface panel;
    for (int y = 0; y < PanelSurface::kHeight; ++y)
        for (int x = 0; x < PanelSurface::kWidth; ++x)
            panel.setPixel(x, y, patternColour(x, y));
    return panel;
}

// A system box of `size` at (left, top) that has been measured once.
TStarbox measuredBox(int left, int top, int size) {
    TStarbox box = boxAt(left, top, size);
    box.FineX = static_cast<float>(left + size / 2);
    box.FineY = static_cast<float>(top + size / 2);
    return box;
}

QRgb rgbOf(Colour c) {
    return qRgb(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

QRgb shownAt(TForm5& form, int x, int y) {
    QApplication::processEvents();
    return form.grab().toImage().pixel(x, y) | 0xFF000000u;
}

TEST(ZoomView, StartsHiddenWithItsDesignGeometry) {
    TForm5 form;
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.windowTitle(), "Zoom View");
    EXPECT_EQ(form.pos(), QPoint(736, 196));
    EXPECT_EQ(form.size(), QSize(283, 281));
    ASSERT_NE(form.button1(), nullptr);
    EXPECT_EQ(form.button1()->text(), "Button1");
    EXPECT_TRUE(form.button1()->isHidden());
}

TEST(ZoomView, PlacedTwoPixelsRightOfTheMainWindow) {
    EXPECT_EQ(TForm5::zoomPlacement(150, 150, 900), QRect(1052, 150, 210, 230));

    TForm5 form;
    const PanelSurface panel;
    form.showZoom(TStarbox{}, panel, 150, 150, 900);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.pos(), QPoint(1052, 150));
    EXPECT_EQ(form.size(), QSize(210, 230));
    form.hideZoom();
    EXPECT_FALSE(form.isVisible());
}

TEST(ZoomView, NothingIsPaintedBeforeTheSystemBoxWasMeasured) {
    TForm5 form;
    const PanelSurface panel = patternPanel();
    TStarbox box = boxAt(100, 100, 20); // placed, FineX still 0
    form.showZoom(box, panel, 150, 150, 900);
    for (int y = 0; y < form.canvas().height(); ++y)
        for (int x = 0; x < form.canvas().width(); ++x)
            ASSERT_EQ(form.canvas().pixel(x, y), kBlack);
    EXPECT_EQ(shownAt(form, 30, 30), qRgb(0, 0, 0));

    box.FineX = 110.5f; // measured: ticking again paints at once
    form.showZoom(box, panel, 150, 150, 900);
    EXPECT_EQ(form.canvas().pixel(30, 30), patternColour(110, 110));
    EXPECT_EQ(shownAt(form, 30, 30), rgbOf(patternColour(110, 110)));
}

TEST(ZoomView, BoxOf76PixelsGivesA228PixelPictureCutByTheWindow) {
    TForm5 form;
    const PanelSurface panel = patternPanel();
    form.canvas().ensureSize(300, 300); // room beyond the picture, black
    const TStarbox box = measuredBox(200, 150, 76);
    form.showZoom(box, panel, 150, 150, 900);

    const PixelCanvas& canvas = form.canvas();
    // Each panel pixel becomes a 3 x 3 block; the last one ends at 227.
    EXPECT_EQ(canvas.pixel(0, 0), patternColour(200, 150));
    EXPECT_EQ(canvas.pixel(227, 227), patternColour(275, 225));
    EXPECT_EQ(canvas.pixel(225, 3), patternColour(275, 151));
    EXPECT_EQ(canvas.pixel(228, 0), kBlack);
    EXPECT_EQ(canvas.pixel(0, 228), kBlack);

    // The 210 x 230 window shows the picture up to its right edge.
    const QImage shown = form.grab().toImage();
    ASSERT_EQ(shown.width(), 210);
    EXPECT_EQ(shown.pixel(209, 0) | 0xFF000000u, rgbOf(patternColour(200 + 209 / 3, 150)));
    EXPECT_EQ(shown.pixel(0, 227) | 0xFF000000u, rgbOf(patternColour(200, 225)));
    EXPECT_EQ(shown.pixel(0, 228) | 0xFF000000u, qRgb(0, 0, 0));
}

TEST(ZoomView, PictureSurvivesHideAndShowAndSmallerPicturesKeepTheRest) {
    TForm5 form;
    const PanelSurface panel = patternPanel();
    form.showZoom(measuredBox(200, 150, 76), panel, 150, 150, 900);
    const QRgb before = shownAt(form, 100, 100);
    ASSERT_EQ(before, rgbOf(patternColour(233, 183)));

    form.hideZoom();
    form.showZoom(TStarbox{}, panel, 150, 150, 900); // not measured: no new painting
    EXPECT_EQ(shownAt(form, 100, 100), before);

    // A 12-pixel box paints 36 x 36; beyond that the earlier picture stays.
    form.paintZoom(measuredBox(10, 10, 12), panel);
    EXPECT_EQ(shownAt(form, 5, 5), rgbOf(patternColour(11, 11)));
    EXPECT_EQ(shownAt(form, 100, 100), before);
}

TEST(ZoomView, SystemColoursAreShownInTheirPlatformColour) {
    TForm5 form;
    form.showZoom(TStarbox{}, PanelSurface{}, 150, 150, 900);
    form.canvas().ensureSize(10, 10);
    form.canvas().setPixel(4, 4, 0x80000005u); // window background: white
    form.refresh();
    EXPECT_EQ(shownAt(form, 4, 4), qRgb(255, 255, 255));
}

TEST(ZoomView, HiddenButtonRunsTheSpectrumTestOnTheWindowsPicture) {
    TForm5 form;
    form.canvas().ensureSize(210, 230);
    form.canvas().setPixel(5, 2, 0xFFFFFF);
    form.button1()->click();
    EXPECT_EQ(form.canvas().pixel(0, kSpectrumTop), 1024u);
    EXPECT_EQ(form.canvas().pixel(2, kReconstructionTop + 5), 0xFFFFFFu);
    // The arrays keep the last test's results.
    EXPECT_NE(form.spectrumArrays().SpectrumB[2][5], SpectrumValue(0, 0));
}

} // namespace
} // namespace corvane
