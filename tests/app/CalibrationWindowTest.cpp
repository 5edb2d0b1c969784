// Calibrate once, measure many, in the window: a drift video measured with
// "Find pair" and "GO!" is saved as a calibration, which then measures a
// tracked video of another pair taken with the same camera.
#include "WindowFixture.h"
#include "support/CleanDrift.h"

#include "sim/DriftSim.h"

#include <QAction>
#include <QFile>
#include <QLabel>

#include <cmath>

using namespace corvane;
using corvane::testing::WindowFixture;

namespace {

class CalibrationWindow : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        form->chooseCalibrationFile = [this](bool) { return calibrationAnswer; };
    }
    double shown(const char* name) const { return textOf(name).toDouble(); }
    QString calibrationAnswer;
};

} // namespace

TEST_F(CalibrationWindow, SavedDriftCalibrationMeasuresATrackedVideo) {
    sim::DriftParams drift = test::cleanDrift(5);
    drift.rotationDeg = 25;
    ASSERT_TRUE(sim::writeDriftVideo(path("drift.avi").toStdString(), drift).staysInFrame);
    openAndSettle(path("drift.avi"));
    typeDec("+30");
    click("FindPairButton");
    click("Button6");
    ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    calibrationAnswer = path("night"); // the suffix the open dialog lists is added
    form->SaveCalibration1->trigger();
    ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    calibrationAnswer = path("night.json");
    ASSERT_TRUE(QFile::exists(calibrationAnswer));

    sim::DriftParams tracked = test::cleanDrift(6);
    tracked.tracking = true;
    tracked.rotationDeg = 25;
    tracked.separationArcsec = 9;
    tracked.positionAngleDeg = 130;
    const sim::Truth truth = sim::writeDriftVideo(path("tracked.avi").toStdString(), tracked);
    openAndSettle(path("tracked.avi"));
    form->UseCalibration1->trigger();
    ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    EXPECT_TRUE(form->Edit19->isReadOnly());
    EXPECT_NEAR(shown("Edit19"), drift.scalePxPerArcsec, 0.005 * drift.scalePxPerArcsec);
    EXPECT_EQ(form->StatusPanels[1]->text(),
              "Calibration: night.json, " + form->Edit19->text() + " px/arcsec");

    click("FindPairButton");
    click("Button6");
    ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    EXPECT_NEAR(shown("Edit16"), truth.separationArcsec, 0.005 * truth.separationArcsec);
    EXPECT_NEAR(std::remainder(shown("Edit15") - truth.positionAngleDeg, 360.0), 0.0, 0.3);

    form->StopCalibration1->trigger();
    EXPECT_FALSE(form->Edit19->isReadOnly());
    EXPECT_EQ(textOf("Edit19"), "");
    EXPECT_EQ(form->StatusPanels[1]->text(), "");
    EXPECT_FALSE(form->StopCalibration1->isEnabled());
}
