// SER and FITS recordings in the window: the timing the status bar reports
// after opening, the frame rate asked for where the frames have no times,
// and the black and white points deep frames are shown with.
#include "WindowFixture.h"
#include "support/CleanDrift.h"
#include "support/Recordings.h"

#include "app/PanelWidget.h"
#include "sim/RecordingWriter.h"
#include "video/Player.h"

#include <QLabel>
#include <QSpinBox>

#include <cmath>

using namespace corvane;
using corvane::testing::WindowFixture;

namespace {

struct OpeningRow {
    const char* name;
    const char* file;
    int bits;
    bool timeStamps;
    double answer;       // the frame rate the user gives when asked; 0 cancels
    bool asked;          // the window asks for the frame rate
    const char* timing;  // the status bar's timing panel
    bool stretch;        // the black and white points can be set
    const char* timeOf1; // "Time (ms):" on frame 1
};

const OpeningRow kOpenings[] = {
    {"Avi8Bit", "pair.avi", 8, true, 0, false,
     "frame rate: 33.33 ms, jitter 0 ms, 0 dropped frames", true, "33"},
    {"Ser16BitWithStamps", "pair.ser", 16, true, 0, false,
     "file time stamps: 33.33 ms, jitter 0 ms, 0 dropped frames", true, "33"},
    {"Ser8BitWithoutStampsRateGiven", "pair.ser", 8, false, 20, true,
     "frame rate: 50 ms, jitter 0 ms, 0 dropped frames", true, "50"},
    {"FitsCubeRateGiven", "pair.fits", 16, true, 30, true,
     "frame rate: 33.33 ms, jitter 0 ms, 0 dropped frames", true, "33"},
    {"FitsCubeCancelled", "pair.fits", 16, true, 0, true, "no frame times: give the frame rate",
     true, ""},
};

class RecordingWindow : public WindowFixture, public ::testing::WithParamInterface<OpeningRow> {
protected:
    QString writeRecording(const char* name, const sim::DriftParams& p, bool timeStamps = true) {
        sim::RecordingOptions o;
        o.container = sim::containerOf(name);
        o.timeStamps = timeStamps;
        truth = sim::writeRecording(path(name).toStdString(), p, o);
        return path(name);
    }
    sim::Truth truth;
};

TEST_P(RecordingWindow, OpeningReportsTheTimingAndAsksForAMissingRate) {
    const OpeningRow& row = GetParam();
    rateAnswer = row.answer;
    openAndSettle(writeRecording(row.file, test::smallRecording(row.bits), row.timeStamps));
    EXPECT_EQ(rateQuestions.size(), row.asked ? 1 : 0);
    if (row.asked) {
        EXPECT_TRUE(rateQuestions[0].contains(QString::fromLatin1(row.file)))
            << rateQuestions[0].toStdString();
    }
    EXPECT_EQ(form->TimingPanel->text(), QString::fromLatin1(row.timing));
    EXPECT_EQ(form->StretchBlackEdit->isEnabled(), row.stretch);
    EXPECT_EQ(form->StretchWhiteEdit->isEnabled(), row.stretch);
    if (row.stretch) {
        const StretchPoints p = *form->session().displayStretch();
        EXPECT_EQ(form->StretchBlackEdit->value(), p.black);
        EXPECT_EQ(form->StretchWhiteEdit->value(), p.white);
    }
    click("Button18");
    EXPECT_EQ(form->Edit10->text(), QString::fromLatin1(row.timeOf1));
    EXPECT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
}

INSTANTIATE_TEST_SUITE_P(Recordings, RecordingWindow, ::testing::ValuesIn(kOpenings),
                         [](const auto& info) { return std::string(info.param.name); });

class RecordingMeasuring : public RecordingWindow {};

// Without frame times a drift cannot be timed: measuring asks for the rate
// again and is refused while none is given; with one it runs.
TEST_F(RecordingMeasuring, MeasuringWithoutFrameTimesAsksAgainAndIsRefusedUntilGiven) {
    sim::DriftParams p = test::cleanDrift();
    p.frames = 40;
    openAndSettle(writeRecording("pair.fits", p));
    typeDec("+30");
    ASSERT_EQ(rateQuestions.size(), 1);
    QTest::mouseClick(form->Panel1, Qt::LeftButton, Qt::NoModifier,
                      QPoint(static_cast<int>(std::lround(truth.frames[0].primary.x)),
                             static_cast<int>(std::lround(truth.frames[0].primary.y))));
    QTest::mouseClick(form->Panel1, Qt::LeftButton, Qt::NoModifier,
                      QPoint(static_cast<int>(std::lround(truth.frames[0].secondary.x)),
                             static_cast<int>(std::lround(truth.frames[0].secondary.y))));
    ASSERT_TRUE(form->Button6->isEnabled());

    for (const char* button : {"Button6", "Button16"}) {
        SCOPED_TRACE(button);
        errors.clear();
        click(button);
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].contains("have no times; give the frame rate"))
            << errors[0].toStdString();
        EXPECT_EQ(form->session().acceptedFrames(), 0);
    }
    EXPECT_EQ(rateQuestions.size(), 3);

    errors.clear();
    rateAnswer = p.fps;
    click("Button6");
    EXPECT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    EXPECT_EQ(rateQuestions.size(), 4);
    EXPECT_GE(form->session().acceptedFrames(), 16);
    EXPECT_EQ(form->TimingPanel->text(), "frame rate: 100 ms, jitter 0 ms, 0 dropped frames");
    EXPECT_FALSE(form->Edit16->text().isEmpty()); // the separation: the reduction ran
}

// The points move the picture: a lower white point shows the same pixel
// brighter, and black pushed past white takes white along.
TEST_F(RecordingMeasuring, StretchPointsChangeTheFrameOnThePanel) {
    openAndSettle(writeRecording("deep.ser", test::smallRecording(16)));
    const QPoint star(static_cast<int>(std::lround(truth.frames[0].secondary.x)),
                      static_cast<int>(std::lround(truth.frames[0].secondary.y)));
    auto grey = [&] { return static_cast<int>(form->panel().pixel(star.x(), star.y()) & 0xff); };
    const StretchPoints before = *form->session().displayStretch();
    form->StretchWhiteEdit->setValue(form->StretchWhiteEdit->maximum());
    const int dim = grey();
    form->StretchWhiteEdit->setValue(before.black + 200);
    EXPECT_GT(grey(), dim);
    EXPECT_EQ(form->session().displayStretch()->white, before.black + 200);

    form->StretchBlackEdit->setValue(before.black + 500);
    EXPECT_EQ(form->StretchWhiteEdit->value(), before.black + 501);
    EXPECT_EQ(*form->session().displayStretch(),
              (StretchPoints{before.black + 500, before.black + 501}));
    EXPECT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
}

// A faint 8-bit video can be stretched too: the picture changes, what is
// measured does not, and 0 and 255 show the frame as it is again.
TEST_F(RecordingMeasuring, StretchingAn8BitFrameChangesOnlyThePicture) {
    openAndSettle(writeRecording("faint.avi", test::smallRecording(8)));
    const int x = static_cast<int>(std::lround(truth.frames[0].secondary.x));
    const int y = static_cast<int>(std::lround(truth.frames[0].secondary.y));
    const Colour shown = form->panel().pixel(x, y);
    const int32_t measured = form->player().Intensities().at(x, y);
    EXPECT_EQ(*form->session().displayStretch(), (StretchPoints{0, 255}));

    form->StretchWhiteEdit->setValue(60);
    EXPECT_GT(form->panel().pixel(x, y) & 0xff, shown & 0xff);
    EXPECT_EQ(form->player().Intensities().at(x, y), measured);

    form->StretchWhiteEdit->setValue(255);
    EXPECT_EQ(form->panel().pixel(x, y), shown);
    EXPECT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
}

} // namespace
