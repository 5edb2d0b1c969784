// Selecting a pair on the panel, measuring runs and the reduction, driven
// through the window's own controls on simulated drift videos.
#include "WindowFixture.h"
#include "support/CleanDrift.h"

#include "app/PanelWidget.h"
#include "app/RadioGroup.h"
#include "common/Rounding.h"
#include "session/CalibrationFile.h"
#include "sim/DriftSim.h"
#include "video/Player.h"

#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTimer>

#include <cmath>
#include <functional>

using namespace corvane;
using corvane::testing::WindowFixture;

namespace {

using corvane::test::cleanDrift;

QPoint pixelOf(const sim::Point& p) {
    return QPoint(static_cast<int>(std::lround(p.x)), static_cast<int>(std::lround(p.y)));
}

class MeasuringWindow : public WindowFixture {
protected:
    void openDrift(const sim::DriftParams& p) {
        truth = sim::writeDriftVideo(path("pair.avi").toStdString(), p);
        ASSERT_TRUE(truth.staysInFrame);
        openAndSettle(path("pair.avi"));
        typeDec(QString::asprintf("%+g", p.declinationDeg));
    }
    void clickPanel(const QPoint& at, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(form->Panel1, button, Qt::NoModifier, at);
    }
    void selectPair(Qt::MouseButton first = Qt::LeftButton,
                    Qt::MouseButton second = Qt::RightButton) {
        clickPanel(pixelOf(truth.frames[0].primary), first);
        clickPanel(pixelOf(truth.frames[0].secondary), second);
    }
    double shown(QLineEdit* e) const {
        bool ok = false;
        const double v = e->text().toDouble(&ok);
        EXPECT_TRUE(ok) << e->objectName().toStdString() << " '" << e->text().toStdString() << "'";
        return v;
    }
    sim::Truth truth;
};

TEST_F(MeasuringWindow, BoxSizeStepsByTwoBetweenFourAndForty) {
    const char* expected[] = {"10", "8", "6", "4", "4"};
    for (const char* e : expected) {
        click("Button3");
        EXPECT_EQ(form->Edit8->text(), e);
    }
    for (int i = 0; i < 20; ++i)
        click("Button4");
    EXPECT_EQ(form->Edit8->text(), "40");
}

TEST_F(MeasuringWindow, TwoClicksWithEitherButtonSelectThePair) {
    openDrift(cleanDrift());
    clickPanel(pixelOf(truth.frames[0].primary), Qt::RightButton);
    EXPECT_EQ(form->RadioGroup1->itemIndex(), 1);
    const TStarbox& primary = form->state().PrimaryBox;
    EXPECT_NEAR(primary.CentreX, truth.frames[0].primary.x, 1.5);
    EXPECT_NEAR(primary.CentreY, truth.frames[0].primary.y, 1.5);
    EXPECT_FALSE(form->Button6->isEnabled());

    clickPanel(pixelOf(truth.frames[0].secondary), Qt::LeftButton);
    EXPECT_EQ(form->RadioGroup1->itemIndex(), 0); // the next click starts a new pair
    for (const char* name : {"Button6", "Button15", "Button16", "Button9"})
        EXPECT_TRUE(control(name)->isEnabled()) << name;
    const WorkingState& ws = form->state();
    EXPECT_EQ(ws.ExpectedDX, ws.SecondaryBox.CentreX - ws.PrimaryBox.CentreX);
    EXPECT_NEAR(ws.ExpectedDX, truth.frames[0].secondary.x - truth.frames[0].primary.x, 2.0);
    EXPECT_NEAR(ws.ExpectedDY, truth.frames[0].secondary.y - truth.frames[0].primary.y, 2.0);
    EXPECT_GT(ws.SystemBox.Size, 0);
    EXPECT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
}

TEST_F(MeasuringWindow, ClickWithNoSelectionDoesNothing) {
    openDrift(cleanDrift());
    form->RadioGroup1->setItemIndex(-1);
    clickPanel(pixelOf(truth.frames[0].primary));
    EXPECT_EQ(form->state().PrimaryBox.Size, 0);
    EXPECT_EQ(form->RadioGroup1->itemIndex(), -1);
}

// The end-to-end check through the window: "GO!", then the results shown.
TEST_F(MeasuringWindow, GoMeasuresTheRunAndShowsSeparationAndPositionAngle) {
    for (int method : {1, 0}) {
        SCOPED_TRACE(method == 1 ? "Peak Search" : "Weighted Average");
        sim::DriftParams p = cleanDrift();
        p.seed = 11 + static_cast<uint64_t>(method);
        openDrift(p);
        form->RadioGroup3->setItemIndex(method);
        form->Edit5->setText("+30");
        selectPair();
        click("Button6");
        ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();

        EXPECT_EQ(form->player().CurrentPosition(), p.frames);
        EXPECT_EQ(form->TrackBar1->value(), p.frames - 1); // clamped to its Max
        EXPECT_EQ(form->Button6->text(), "GO!");
        EXPECT_EQ(form->RadioGroup1->itemIndex(), 0);
        EXPECT_GE(CountValidRows(form->state().FrameData), 16);
        EXPECT_NEAR(shown(form->Edit16), truth.separationArcsec, 0.005 * truth.separationArcsec);
        double dPa = shown(form->Edit15) - truth.positionAngleDeg;
        dPa -= 360.0 * std::round(dPa / 360.0);
        EXPECT_NEAR(dPa, 0.0, 0.3);
        EXPECT_NEAR(shown(form->Edit19), truth.pixelScalePxPerArcsec,
                    0.005 * truth.pixelScalePxPerArcsec);
        // Beside the results: their standard errors and the frame counts.
        for (QLineEdit* e : {form->SeparationErrorEdit, form->PositionAngleErrorEdit}) {
            ASSERT_TRUE(e->text().startsWith("± ")) << e->text().toStdString();
            const double error = e->text().mid(2).toDouble();
            EXPECT_GT(error, 0.0);
            EXPECT_LT(error, 0.1);
        }
        EXPECT_EQ(form->MeasuredFramesEdit->text(), QString::number(p.frames));
        EXPECT_EQ(form->AcceptedFramesEdit->text(),
                  QString::number(CountValidRows(form->state().FrameData)));
        EXPECT_TRUE(form->WarningLabel->text().isEmpty())
            << form->WarningLabel->text().toStdString();
    }
}

// GO! refuses with a message that says why, before any
// frame is measured (or after, with the counts); a bad Dec box gets the cursor.
struct Refusal {
    const char* name;
    std::function<void(TForm1&)> setUp;
    const char* button;
    const char* message;
    const char* focus; // the box that gets the cursor, or nullptr
    int32_t measured;  // frames measured after the click
};

class Refusals : public MeasuringWindow, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refusals, SayWhyAndDoNothingElse) {
    const Refusal& r = GetParam();
    openDrift(cleanDrift());
    selectPair();
    r.setUp(*form);
    click(r.button);
    EXPECT_EQ(errors.join("|").toStdString(), r.message);
    EXPECT_EQ(form->session().measuredFrames(), r.measured);
    if (r.focus) {
        EXPECT_EQ(form->focusWidget(), control(r.focus));
    }
    EXPECT_TRUE(form->Edit16->text().isEmpty());
    EXPECT_FALSE(QFile::exists(form->resultsFilePath()));
}

const Refusal kRefusals[] = {
    {"DegreesNotANumber", [](TForm1& f) { f.Edit5->setText("abc"); }, "Button6",
     "Dec degrees: 'abc' is not a number. Type the declination as +DD MM SS.", "Edit5", 0},
    {"SecondsNotANumber", [](TForm1& f) { f.Edit7->setText("4x"); }, "Button6",
     "Dec seconds: '4x' is not a number. Type the declination as +DD MM SS.", "Edit7", 0},
    {"DecMinutesSeventyFive", [](TForm1& f) { f.Edit6->setText("75"); }, "Button6",
     "Dec minutes: 75 is not 0 to under 60 minutes. Type the declination as +DD MM SS.", "Edit6",
     0},
    {"EndBeforeStart",
     [](TForm1& f) {
         f.StartFrameEdit->setText("30");
         f.StopFrameEdit->setText("20");
     },
     "Button6", "End Frame: 20 is not after the start frame 30: there is nothing to measure.",
     nullptr, 0},
    {"TooFewFramesAccepted", [](TForm1& f) { f.StopFrameEdit->setText("12"); }, "Button6",
     "Only 12 of 12 frames were accepted; at least 16 are needed.", nullptr, 12},
};

INSTANTIATE_TEST_SUITE_P(Window, Refusals, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// After a first GO! with the declination typed, the user changes something.
// Whatever stays on screen is what "Calculate" gives from the inputs shown,
// and Save Results is offered only then.
class ResultFollowsInputs;
struct InputChange {
    const char* name;
    void (*change)(ResultFollowsInputs&);
    const char* error;   // held by the only error message, or nullptr for none
    const char* warning; // held by the warnings beside the result, or nullptr
    bool resultShown;
    bool goEnabled;
};

class ResultFollowsInputs : public MeasuringWindow,
                            public ::testing::WithParamInterface<InputChange> {
public:
    using MeasuringWindow::click;
    using MeasuringWindow::form;
    using MeasuringWindow::openAndSettle;
    using MeasuringWindow::path;
    using MeasuringWindow::selectPair;
    using MeasuringWindow::typeDec;
    void clickItem(const char* name) {
        QTest::mouseClick(control<QRadioButton>(name), Qt::LeftButton);
    }
};

TEST_P(ResultFollowsInputs, ShowsOnlyAResultOfTheInputsOnScreen) {
    const InputChange& c = GetParam();
    openDrift(cleanDrift());
    selectPair();
    click("Button6");
    ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    c.change(*this);
    if (c.error) {
        ASSERT_EQ(errors.size(), 1) << errors.join("|").toStdString();
        EXPECT_TRUE(errors[0].contains(c.error)) << errors[0].toStdString();
    } else {
        EXPECT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    }
    if (c.warning) {
        EXPECT_TRUE(form->WarningLabel->text().contains(c.warning))
            << form->WarningLabel->text().toStdString();
    }
    EXPECT_EQ(form->Button6->isEnabled(), c.goEnabled);
    EXPECT_EQ(form->Button10->isEnabled(), c.resultShown);
    EXPECT_EQ(form->SaveResults1->isEnabled(), c.resultShown);
    if (!c.resultShown) {
        EXPECT_TRUE(form->Edit15->text().isEmpty() && form->Edit16->text().isEmpty());
        return;
    }
    EXPECT_EQ(form->session().measuredFrames(), static_cast<int32_t>(truth.frames.size()));
    const QString shownTexts = form->Edit15->text() + " " + form->Edit16->text();
    errors.clear();
    click("Button9");
    EXPECT_EQ(form->Edit15->text() + " " + form->Edit16->text(), shownTexts);
    if (!form->session().calibration()) {
        EXPECT_NEAR(shown(form->Edit16), truth.separationArcsec, 0.005 * truth.separationArcsec);
    }
}

const InputChange kInputChanges[] = {
    {"SecondGoAfterDecChange",
     [](ResultFollowsInputs& w) {
         w.typeDec("+00");
         w.click("Button6");
         w.typeDec("+30");
         w.click("Button6");
     },
     nullptr, nullptr, true, true},
    {"DecTypedAfterwardsRecomputes",
     [](ResultFollowsInputs& w) {
         w.typeDec("+00");
         w.typeDec("+30");
     },
     nullptr, nullptr, true, true},
    {"DecMinutesSeventyFive",
     [](ResultFollowsInputs& w) {
         w.typeDec("+30", "75");
         w.click("Button6");
     },
     "Dec minutes: 75 is not 0 to under 60 minutes", nullptr, false, true},
    {"NeverTypedDec",
     [](ResultFollowsInputs& w) {
         w.openAndSettle(w.path("pair.avi"));
         w.selectPair();
         w.click("Button6");
     },
     "Dec degrees: the pair's declination is needed", nullptr, false, true},
    {"OrientationChange",
     [](ResultFollowsInputs& w) {
         w.clickItem("RadioGroup2Item1");
         w.clickItem("RadioGroup2Item0");
     },
     nullptr, nullptr, true, true},
    {"MethodChange", [](ResultFollowsInputs& w) { w.clickItem("RadioGroup3Item0"); }, nullptr,
     nullptr, false, true},
    {"Reset", [](ResultFollowsInputs& w) { w.click("Button7"); }, nullptr, nullptr, false, false},
    {"CalibrationOfAnotherCamera",
     [](ResultFollowsInputs& w) {
         Calibration other;
         other.pixelsPerArcsec = 1.5;
         other.pixelsPerArcsecStderr = 0.001;
         other.source = "night1.avi";
         saveCalibration(other, w.path("night1.json").toStdString());
         w.form->useCalibrationFile(w.path("night1.json"));
         w.click("Button6");
     },
     nullptr, "The stars moved", true, true},
};

INSTANTIATE_TEST_SUITE_P(Window, ResultFollowsInputs, ::testing::ValuesIn(kInputChanges),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MeasuringWindow, EscapeCancelsARunWhichEndsLikeAFinishedOne) {
    sim::DriftParams p = cleanDrift();
    // Long enough to outlast the run's first piece, with a slow drift that
    // keeps the pair in the frame.
    p.width = 320;
    p.height = 240;
    p.frames = 1500;
    p.fps = 250.0;
    openDrift(p);
    selectPair();
    // Escape while the run is going (at its first look at the event queue,
    // so some frames are measured); a click on "Reset" meanwhile is ignored.
    QTimer::singleShot(0, form.get(), [this] {
        EXPECT_TRUE(form->running());
        EXPECT_EQ(form->Button6->text(), "Stop");
        QTest::mouseClick(form->Button7, Qt::LeftButton);
        QTest::keyClick(form->Button6, Qt::Key_Escape);
    });
    click("Button6");
    ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    const int32_t reached = form->player().CurrentPosition();
    EXPECT_GT(reached, 0);
    EXPECT_LT(reached, p.frames);
    EXPECT_EQ(CountValidRows(form->state().FrameData) > 0, true); // Reset did not run
    EXPECT_EQ(form->Button6->text(), "GO!");
    EXPECT_EQ(form->RadioGroup1->itemIndex(), 0);
    EXPECT_EQ(form->TrackBar1->value(), reached);
}

TEST_F(MeasuringWindow, ClickOnStopCancelsTheRun) {
    sim::DriftParams p = cleanDrift();
    // Long enough to outlast the run's first piece, with a slow drift that
    // keeps the pair in the frame.
    p.width = 320;
    p.height = 240;
    p.frames = 1500;
    p.fps = 250.0;
    openDrift(p);
    selectPair();
    QTimer::singleShot(0, form.get(), [this] { QTest::mouseClick(form->Button6, Qt::LeftButton); });
    click("Button6");
    EXPECT_LT(form->player().CurrentPosition(), p.frames);
    EXPECT_EQ(form->Button6->text(), "GO!");
    EXPECT_TRUE(form->Button6->isEnabled());
}

TEST_F(MeasuringWindow, ManualStepsStayInsideTheRange) {
    openDrift(cleanDrift());
    selectPair();
    click("Button15"); // "<-" on the start frame does nothing
    EXPECT_EQ(form->player().CurrentPosition(), 0);
    click("Button16");
    click("Button16");
    EXPECT_EQ(form->player().CurrentPosition(), 2);
    EXPECT_EQ(form->TrackBar1->value(), 2);
    EXPECT_EQ(form->Edit9->text(), "2");
    // The frame's separation and screen angle to two decimals, as measured.
    const FrameRow& row = form->state().FrameData[2];
    const QRegularExpression twoDecimals(QStringLiteral("^-?[0-9]+(\\.[0-9]{1,2})?$"));
    for (QLineEdit* e : {form->Edit11, form->Edit12})
        EXPECT_TRUE(twoDecimals.match(e->text()).hasMatch()) << e->text().toStdString();
    EXPECT_NEAR(shown(form->Edit11), row.SepPixels, 0.005);
    EXPECT_NEAR(shown(form->Edit12), row.ScreenAngle, 0.005);
    EXPECT_EQ(form->RadioGroup1->itemIndex(), -1); // a manual step does not restore it
    EXPECT_EQ(form->state().FrameData[2].FrameNo, 2);
    click("Button15");
    EXPECT_EQ(form->player().CurrentPosition(), 1);
    EXPECT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
}

TEST_F(MeasuringWindow, CalculateNeedsSixteenValidRowsAndReportsABadDeclination) {
    openDrift(cleanDrift());
    selectPair();
    click("Button6");
    ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();

    form->Edit7->setText("x");
    click("Button9");
    EXPECT_EQ(errors,
              QStringList{"Dec seconds: 'x' is not a number. Type the declination as +DD MM SS."});
    // No result of another declination stays on screen.
    EXPECT_TRUE(form->Edit15->text().isEmpty());
    EXPECT_TRUE(form->Edit16->text().isEmpty());
    EXPECT_FALSE(form->Button10->isEnabled());

    errors.clear();
    form->Edit7->setText("00");
    auto& rows = form->state().FrameData;
    int kept = 0;
    for (FrameRow& r : rows)
        if (r.Valid && ++kept > 15)
            r.Valid = false;
    click("Button9"); // 15 valid rows: no result, and the message says why
    EXPECT_TRUE(form->Edit15->text().isEmpty());
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("Only 15 of ")) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].endsWith("frames were accepted; at least 16 are needed."))
        << errors[0].toStdString();
}

TEST_F(MeasuringWindow, CalculateOnATableThatCannotBeReducedWritesNothing) {
    openDrift(cleanDrift());
    selectPair();
    auto& rows = form->state().FrameData;
    for (int i = 1; i <= 20; ++i) { // a primary that never moves
        rows[i] = FrameRow{};
        rows[i].PrimaryX = 100;
        rows[i].PrimaryY = 100;
        rows[i].SecondaryX = 110;
        rows[i].SecondaryY = 100;
        rows[i].SepPixels = 10;
        rows[i].TimeUs = 40000 * i;
        rows[i].FrameNo = i;
        rows[i].Valid = true;
    }
    form->Edit11->setText("a");
    form->Edit15->setText("b");
    click("Button9");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(form->Edit11->text(), "a");
    EXPECT_EQ(form->Edit15->text(), "");
}

TEST_F(MeasuringWindow, CommaSeparatorGoesThroughTheReductionReadBack) {
    // An angle off the whole degrees, so the screen angle shows decimals.
    sim::DriftParams p = cleanDrift();
    p.positionAngleDeg = 61.37;
    openDrift(p);
    selectPair();
    click("Button6");
    const double pa = shown(form->Edit15);
    form->setDecimalSeparator(',');
    click("Button9");
    ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    EXPECT_TRUE(form->Edit12->text().contains(',')) << form->Edit12->text().toStdString();
    QString paText = form->Edit15->text();
    EXPECT_FALSE(paText.contains('.'));
    EXPECT_DOUBLE_EQ(paText.replace(',', '.').toDouble(), pa);
}

TEST_F(MeasuringWindow, ZoomOpensBesideTheWindowAndHidesAgain) {
    openDrift(cleanDrift());
    form->move(150, 150);
    QTest::mouseClick(form->CheckBox2, Qt::LeftButton);
    EXPECT_TRUE(zoom->isVisible());
    EXPECT_EQ(zoom->pos(), QPoint(150 + form->outerWidth() + 2, 150));
    EXPECT_EQ(zoom->size(), QSize(210, 230));
    QTest::mouseClick(form->CheckBox2, Qt::LeftButton);
    EXPECT_FALSE(zoom->isVisible());
    EXPECT_TRUE(errors.isEmpty());
}

// "Zoom" only shows: the same video and clicks with it ticked or not give
// the same frame table, on a lit sky where a box moved between frames would
// settle elsewhere; browsing with it ticked leaves the system box alone.
TEST_F(MeasuringWindow, ZoomNeverChangesWhatIsMeasured) {
    sim::DriftParams p = cleanDrift();
    p.frames = 60;
    p.sky = 20;
    p.noiseSigma = 3;
    for (int method : {0, 1}) {
        SCOPED_TRACE(method == 1 ? "Peak Search" : "Weighted Average");
        FrameTable tables[2];
        for (bool zoomed : {false, true}) {
            openDrift(p);
            form->RadioGroup3->setItemIndex(method);
            form->CheckBox2->setChecked(zoomed);
            selectPair();
            click("Button6");
            // The lit sky may leave too few frames for a result: only that is said.
            for (const QString& e : errors)
                EXPECT_TRUE(e.startsWith("Only ")) << e.toStdString();
            errors.clear();
            tables[zoomed ? 1 : 0] = form->state().FrameData;
        }
        ASSERT_EQ(tables[0].size(), tables[1].size());
        for (std::size_t i = 0; i < tables[0].size(); ++i) {
            const FrameRow &a = tables[0][i], &b = tables[1][i];
            EXPECT_TRUE(a.PrimaryX == b.PrimaryX && a.PrimaryY == b.PrimaryY &&
                        a.SecondaryX == b.SecondaryX && a.SecondaryY == b.SecondaryY &&
                        a.SystemX == b.SystemX && a.SystemY == b.SystemY && a.Valid == b.Valid &&
                        a.TimeUs == b.TimeUs)
                << "frame " << i;
        }
        ASSERT_GE(zoom->canvas().width(), 3 * form->state().SystemBox.Size);
        const TStarbox afterRun = form->state().SystemBox;
        form->TrackBar1->setValue(10);
        EXPECT_EQ(form->state().SystemBox.CentreX, afterRun.CentreX);
        EXPECT_EQ(form->state().SystemBox.CentreY, afterRun.CentreY);
        form->CheckBox2->setChecked(false);
    }
}

TEST_F(MeasuringWindow, OpeningAVideoStartsWithoutAPair) {
    openDrift(cleanDrift());
    form->Edit1->setText("STF 1234");
    form->Edit5->setText("+30");
    selectPair();
    ASSERT_TRUE(form->Button6->isEnabled());
    openDrift(cleanDrift());
    for (const char* name : {"Button6", "Button15", "Button16", "Button9"})
        EXPECT_FALSE(control(name)->isEnabled()) << name;
    EXPECT_EQ(form->state().SystemBox.Size, 0);
    EXPECT_EQ(form->state().PrimaryBox.Size, 0);
    EXPECT_EQ(form->RadioGroup1->itemIndex(), 0);
    EXPECT_EQ(form->Edit1->text(), "STF 1234");
    EXPECT_EQ(form->Edit5->text(), "+30");
}

// A 1280 x 960 video with the pair far beyond the panel's first view: picked
// in the fit view (a click lands on the frame pixel it shows), measured in
// the unscaled view, which follows the pair.
TEST_F(MeasuringWindow, APairAnywhereInALargeFrameIsPickedInTheFitViewAndMeasured) {
    sim::DriftParams p = cleanDrift();
    p.width = 1280;
    p.height = 960;
    p.frames = 60;
    p.start = sim::Point{1000, 800};
    truth = sim::writeDriftVideo(path("large.avi").toStdString(), p);
    ASSERT_TRUE(truth.staysInFrame);
    openAndSettle(path("large.avi"));
    typeDec("+30");
    ASSERT_TRUE(form->CheckBox3->isEnabled());
    form->CheckBox3->setChecked(true);
    const sim::Point a = truth.frames[0].primary, b = truth.frames[0].secondary;
    // The fit view halves a 1280 x 960 frame.
    const auto half = [](const sim::Point& q) {
        return QPoint(static_cast<int>(q.x / 2), static_cast<int>(q.y / 2));
    };
    clickPanel(half(a));
    EXPECT_NEAR(form->state().PrimaryBox.CentreX, a.x, 1.5);
    EXPECT_NEAR(form->state().PrimaryBox.CentreY, a.y, 1.5);
    clickPanel(half(b));
    EXPECT_NEAR(form->state().ExpectedDX, b.x - a.x, 2.0);
    EXPECT_NEAR(form->state().ExpectedDY, b.y - a.y, 2.0);

    form->CheckBox3->setChecked(false);
    click("Button6");
    ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    const PanelSurface& view = form->panel();
    const TStarbox& sys = form->state().SystemBox;
    EXPECT_GE(sys.CentreX, view.originX());
    EXPECT_LT(sys.CentreX, view.originX() + PanelSurface::kWidth);
    EXPECT_GE(sys.CentreY, view.originY());
    EXPECT_LT(sys.CentreY, view.originY() + PanelSurface::kHeight);
    EXPECT_GE(CountValidRows(form->state().FrameData), 16);
    EXPECT_NEAR(shown(form->Edit11), truth.separationPx, 0.02 * truth.separationPx);
}

TEST_F(MeasuringWindow, GraphButtonShowsTheProfilesBesideTheWindow) {
    openDrift(cleanDrift());
    selectPair();
    form->Button8Click();
    EXPECT_TRUE(graphs->isVisible());
    EXPECT_EQ(graphs->x(), form->x() + form->outerWidth());
    const int n = form->state().SystemBox.Bottom - form->state().SystemBox.Top;
    EXPECT_EQ(graphs->Series1().Count(), n);
}

} // namespace
