// Opening a video through the window and moving between its frames: what the
// controls, the table and the player show after each step.
#include "WindowFixture.h"

#include "app/RadioGroup.h"
#include "app/TransportWidget.h"
#include "sim/AviWriter.h"
#include "sim/DriftSim.h"
#include "video/Player.h"

#include <QAbstractButton>
#include <QDateTimeEdit>
#include <QFile>
#include <QFileInfo>
#include <QLabel>

#include <fstream>
#include <random>

using namespace corvane;
using corvane::testing::WindowFixture;

namespace {

sim::DriftParams smallDrift(int frames) {
    sim::DriftParams p;
    p.width = 320;
    p.height = 240;
    p.frames = frames;
    p.fps = 25.0;
    p.frameCode = true; // tells frames apart by their pixels
    p.seed = 7;
    return p;
}

class VideoWindow : public WindowFixture {
protected:
    QString writeVideo(const char* name, int frames) {
        const QString file = path(name);
        sim::writeDriftVideo(file.toStdString(), smallDrift(frames));
        return file;
    }
    // Frame number written into the picture on the panel.
    int64_t frameOnPanel() const {
        const PanelSurface& s = form->panel();
        return sim::readFrameCode(s.data(), 320, 240, PanelSurface::kWidth);
    }
};

TEST_F(VideoWindow, OpeningSizesTheTableAndResetsHalfASecondLater) {
    const QString file = writeVideo("drift.avi", 40);
    dialogAnswer = file;
    form->OpenAVI1->trigger();
    ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();

    const int32_t length = form->player().VideoLength();
    EXPECT_EQ(length, 40);
    EXPECT_EQ(form->state().FrameData.size(), static_cast<std::size_t>(length) + 1);
    for (const FrameRow& r : form->state().FrameData)
        EXPECT_FALSE(r.Valid);
    EXPECT_EQ(form->StartFrameEdit->text(), "0");
    EXPECT_EQ(form->StopFrameEdit->text(), "40");
    EXPECT_EQ(form->TrackBar1->maximum(), 39);
    EXPECT_EQ(form->RadioGroup1->itemIndex(), 0);
    for (const char* name :
         {"RadioGroup1", "Button11", "Button12", "TrackBar1", "Button17", "Button18"})
        EXPECT_TRUE(control(name)->isEnabled()) << name;
    EXPECT_FALSE(form->Button6->isEnabled());
    EXPECT_EQ(form->Edit9->text(), "00");
    EXPECT_EQ(form->Edit10->text(), "0000");
    EXPECT_EQ(form->StatusPanels[0]->text(),
              QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath()));
    EXPECT_EQ(frameOnPanel(), 0);
    EXPECT_TRUE(form->Timer1.isActive());

    // Move away; the timer's reset brings the player back to the start frame.
    form->player().SeekTo(12);
    QTest::qWait(650);
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_EQ(form->player().CurrentPosition(), 0);
    EXPECT_EQ(frameOnPanel(), 0);
    EXPECT_EQ(form->TrackBar1->value(), 0);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(VideoWindow, ObservationDateIsTheFileTimeInUtToTwoSeconds) {
    const QString file = writeVideo("dated.avi", 20);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    const QDateTime stamp(QDate(2019, 7, 14), QTime(23, 59, 37), Qt::UTC);
    ASSERT_TRUE(f.setFileTime(stamp, QFileDevice::FileModificationTime));
    f.close();
    openAndSettle(file);
    EXPECT_EQ(form->observationDateTime(),
              QDateTime(QDate(2019, 7, 14), QTime(23, 59, 36), Qt::UTC));
    EXPECT_EQ(form->DateTimePicker1->text(), "14 07 2019, 23 59");
    // The epochs follow the new date at once.
    EXPECT_EQ(form->Edit17->text().left(6), "2019.5");
}

TEST_F(VideoWindow, CancelledDialogChangesNothing) {
    dialogAnswer.clear();
    form->OpenAVI1->trigger();
    EXPECT_FALSE(form->RadioGroup1->isEnabled());
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(VideoWindow, TrackBarAndArrowButtonsMoveThePlayer) {
    openAndSettle(writeVideo("nav.avi", 30));
    click("Button18");
    EXPECT_EQ(form->TrackBar1->value(), 1);
    EXPECT_EQ(form->player().CurrentPosition(), 1);
    EXPECT_EQ(frameOnPanel(), 1);
    EXPECT_EQ(form->Edit9->text(), "1");
    EXPECT_EQ(form->Edit10->text(), "40"); // frame 1 at 25 frames per second

    form->TrackBar1->setValue(17); // as the user drags it
    EXPECT_EQ(form->player().CurrentPosition(), 17);
    EXPECT_EQ(frameOnPanel(), 17);
    EXPECT_EQ(form->Edit9->text(), "17"); // the read-outs follow the picture
    EXPECT_EQ(form->Edit10->text(), "680");

    click("Button11");
    EXPECT_EQ(form->StartFrameEdit->text(), "17");
    form->TrackBar1->setValue(25);
    click("Button12");
    EXPECT_EQ(form->StopFrameEdit->text(), "25");

    form->TrackBar1->setValue(0);
    click("Button17"); // stays at 0, read-outs refreshed all the same
    EXPECT_EQ(form->TrackBar1->value(), 0);
    EXPECT_EQ(form->Edit9->text(), "0");
    EXPECT_EQ(form->Edit10->text(), "0");

    form->TrackBar1->setValue(29);
    click("Button18"); // the last position is length - 1
    EXPECT_EQ(form->TrackBar1->value(), 29);
    EXPECT_EQ(form->Edit9->text(), "29");
    EXPECT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
}

TEST_F(VideoWindow, ScrollingAgainstTheEndStillRedrawsTheFrame) {
    openAndSettle(writeVideo("ends.avi", 10));
    form->TrackBar1->setValue(9);
    form->panel().setPixel(5, 5, kRed); // a mark over the frame
    QTest::keyClick(form->TrackBar1, Qt::Key_Right);
    EXPECT_EQ(form->TrackBar1->value(), 9);
    EXPECT_NE(form->panel().pixel(5, 5), kRed); // the frame was drawn afresh
    EXPECT_EQ(frameOnPanel(), 9);
}

TEST_F(VideoWindow, ResetReturnsToTheStartFrameAndEmptiesResults) {
    openAndSettle(writeVideo("reset.avi", 30));
    form->TrackBar1->setValue(25);
    click("Button11");
    form->TrackBar1->setValue(3);
    form->Edit15->setText("123");
    form->Edit19->setText("0.5");
    form->state().FrameData[4].Valid = true;
    click("Button7");
    EXPECT_EQ(form->player().CurrentPosition(), 25);
    EXPECT_EQ(form->TrackBar1->value(), 25);
    EXPECT_EQ(frameOnPanel(), 25);
    EXPECT_TRUE(form->Edit15->text().isEmpty());
    EXPECT_EQ(form->Edit19->text(), "0.5"); // the pixel scale stays
    EXPECT_EQ(CountValidRows(form->state().FrameData), 0);
    EXPECT_EQ(form->RadioGroup1->itemIndex(), 0);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(VideoWindow, ActiveBoxFollowsTheRowAndWritesIt) {
    openAndSettle(writeVideo("active.avi", 20));
    form->state().FrameData[2].Valid = true;
    form->TrackBar1->setValue(1);
    click("Button18"); // frame 2: printframes ticks "Active"
    EXPECT_TRUE(form->CheckBox1->isChecked());
    click("Button18"); // frame 3: unticked again
    EXPECT_FALSE(form->CheckBox1->isChecked());
    QTest::mouseClick(form->CheckBox1, Qt::LeftButton); // tick frame 3 by hand
    EXPECT_TRUE(form->state().FrameData[3].Valid);
    EXPECT_EQ(CountValidRows(form->state().FrameData), 2);
}

TEST_F(VideoWindow, TransportButtonsKeepTrackBarAndReadOutsInStep) {
    openAndSettle(writeVideo("play.avi", 60));
    auto* play = form->MediaPlayer1->findChild<QAbstractButton*>("btPlay");
    auto* pause = form->MediaPlayer1->findChild<QAbstractButton*>("btPause");
    auto* prev = form->MediaPlayer1->findChild<QAbstractButton*>("btPrev");
    auto* stepButton = form->MediaPlayer1->findChild<QAbstractButton*>("btStep");
    auto* back = form->MediaPlayer1->findChild<QAbstractButton*>("btBack");
    ASSERT_TRUE(play->isEnabled());
    QTest::mouseClick(play, Qt::LeftButton);
    EXPECT_FALSE(play->isEnabled());
    QTest::qWait(300); // about 7 frames at 25 frames per second
    QTest::mouseClick(pause, Qt::LeftButton);
    const int32_t reached = form->player().CurrentPosition();
    EXPECT_GE(reached, 3);
    EXPECT_LE(reached, 12);
    EXPECT_EQ(frameOnPanel(), reached);
    EXPECT_EQ(form->TrackBar1->value(), reached);
    EXPECT_EQ(form->Edit9->text(), QString::number(reached));
    QTest::qWait(100);
    EXPECT_EQ(form->player().CurrentPosition(), reached); // paused

    QTest::mouseClick(prev, Qt::LeftButton);
    EXPECT_EQ(form->player().CurrentPosition(), 0);
    QTest::mouseClick(stepButton, Qt::LeftButton);
    QTest::mouseClick(stepButton, Qt::LeftButton);
    EXPECT_EQ(form->player().CurrentPosition(), 2);
    QTest::mouseClick(back, Qt::LeftButton);
    EXPECT_EQ(form->player().CurrentPosition(), 1);
    EXPECT_EQ(frameOnPanel(), 1);
    EXPECT_EQ(form->TrackBar1->value(), 1);
    EXPECT_EQ(form->Edit9->text(), "1");
    EXPECT_EQ(form->Edit10->text(), "40");
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(VideoWindow, PlayStopsOnTheLastFrame) {
    openAndSettle(writeVideo("short.avi", 5));
    form->MediaPlayer1->play();
    QTest::qWait(500);
    EXPECT_EQ(form->MediaPlayer1->mode(), TransportWidget::Mode::Stopped);
    EXPECT_EQ(form->player().CurrentPosition(), form->player().VideoLength());
}

TEST_F(VideoWindow, FileWithoutPictureHasLengthZeroAndNothingReadsPastTheTable) {
    const QString file = path("sound.avi");
    sim::writeAudioOnlyAvi(file.toStdString(), 1.0);
    openAndSettle(file);
    EXPECT_EQ(form->StopFrameEdit->text(), "0");
    EXPECT_EQ(form->state().FrameData.size(), 1u);
    EXPECT_EQ(form->TrackBar1->maximum(), 100); // a Max of -1 is ignored

    form->CheckBox2->setChecked(true);
    form->TrackBar1->setValue(50); // a position with no row in the table
    click("Button18");
    QTest::mouseClick(form->CheckBox1, Qt::LeftButton);
    form->MediaPlayer1->play();
    EXPECT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    EXPECT_EQ(form->state().FrameData.size(), 1u);
    EXPECT_EQ(form->TrackBar1->value(), 51);
}

// ---- files that cannot be opened ----

struct BadFile {
    const char* name;
    void (*make)(const QString& goodFile, const QString& badFile);
};

void truncated(const QString& good, const QString& bad) {
    QFile in(good);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    QByteArray bytes = in.readAll();
    QFile out(bad);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes.left(300)); // the headers and nothing of the frames
}
void randomBytes(const QString&, const QString& bad) {
    std::mt19937 rng(3);
    QByteArray bytes(20000, '\0');
    for (char& c : bytes)
        c = static_cast<char>(rng());
    QFile out(bad);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes);
}
void zeroBytes(const QString&, const QString& bad) {
    QFile out(bad);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
}
void missing(const QString&, const QString&) {}

const BadFile kBadFiles[] = {
    {"truncated", truncated},
    {"random_bytes", randomBytes},
    {"zero_bytes", zeroBytes},
    {"missing", missing},
};

class BadVideoFile : public VideoWindow, public ::testing::WithParamInterface<BadFile> {};

TEST_P(BadVideoFile, GivesAClearErrorAndLeavesTheWindowUsable) {
    const QString good = writeVideo("good.avi", 20);
    const QString bad = path("bad.avi");
    GetParam().make(good, bad);
    dialogAnswer = bad;
    form->OpenAVI1->trigger();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_GT(errors[0].size(), 10) << errors[0].toStdString();
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_TRUE(form->StopFrameEdit->text().isEmpty());

    // The next good file opens and works as if nothing had happened.
    errors.clear();
    openAndSettle(good);
    click("Button18");
    EXPECT_EQ(frameOnPanel(), 1);
    EXPECT_TRUE(errors.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Files, BadVideoFile, ::testing::ValuesIn(kBadFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(VideoWindow, FailedOpenAfterAGoodOneReportsTheClosedVideoOnUse) {
    openAndSettle(writeVideo("first.avi", 20));
    dialogAnswer = path("nowhere.avi");
    form->OpenAVI1->trigger();
    ASSERT_EQ(errors.size(), 1);
    errors.clear();
    click("Button18"); // the earlier video was closed by the attempt
    EXPECT_EQ(errors, QStringList{"No MCI device open."});
}

} // namespace
