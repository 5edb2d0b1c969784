// The main window's video: opening it (menu, command line, a drop), its frame
// times, its display stretch and the folder the file dialogs start in.
#include "app/TForm1.h"

#include "app/RadioGroup.h"
#include "app/TForm1Shared.h"
#include "app/TransportWidget.h"
#include "common/Error.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>

#include <algorithm>

namespace corvane {

using namespace form1;

QString TForm1::lastFolder() const {
    return QSettings().value(QStringLiteral("lastFolder")).toString();
}

void TForm1::rememberFolder(const QString& file) {
    QSettings().setValue(QStringLiteral("lastFolder"), QFileInfo(file).absolutePath());
}

void TForm1::OpenAVI1Click() {
    const QString path = chooseVideoFile ? chooseVideoFile() : QString();
    if (path.isEmpty())
        return;
    openVideoFile(path);
}

void TForm1::openGivenFile(const QString& path) {
    handle([this, &path] { openVideoFile(path); });
}

void TForm1::openVideoFile(const QString& path) {
    RadioGroup1->setItemIndex(0);
    RadioGroup1->setEnabled(true);
    // Each video's declination is typed anew: the boxes may still hold the
    // last pair's, or their default.
    decTyped_ = false;
    // A new video starts with no pair: the boxes of the last one would lie
    // on whatever this one shows there.
    clearSelection();

    MediaPlayer1->stopPlaying();
    try {
        session_.open(QDir::toNativeSeparators(path).toStdString());
    } catch (...) {
        MediaPlayer1->videoChanged(); // the earlier video is closed all the same
        MediaPlayer1->setEnabled(player().VideoOpen());
        showStretch();
        showTiming();
        throw;
    }
    MediaPlayer1->videoChanged();
    MediaPlayer1->setEnabled(true);
    rememberFolder(path);
    viewChanged();
    showStretch();

    // The observation date is labelled UT: the recording's start as the file
    // records it, or else the file's modification time.
    setObservationDateTime(fromCivil(session_.recordingStart()));
    epoch();

    Timer1.start();

    StartFrameEdit->setText(QStringLiteral("0"));
    StopFrameEdit->setText(QString::number(player().VideoLength()));
    Button11->setEnabled(true);
    Button12->setEnabled(true);

    StatusPanels[0]->setText(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
    showTiming();

    setTrackBarMax(player().VideoLength() - 1);
    TrackBar1->setEnabled(true);
    Button17->setEnabled(true);
    Button18->setEnabled(true);

    NotesEdit->clear();
    showCalibration();
    FindPairButton->setEnabled(true);
    Edit9->setText(QStringLiteral("00"));
    Edit10->setText(QStringLiteral("0000"));

    // A recording without frame times asks for its rate once it is open;
    // without one it can be looked at, and measuring asks again.
    askForFrameRate();
}

bool TForm1::askForFrameRate() {
    if (session_.hasFrameTimes())
        return true;
    const double fps =
        askFrameRate
            ? askFrameRate(QStringLiteral("%1\nhas no time for each frame. Frames per second:")
                               .arg(QString::fromStdString(session_.player().FileName())))
            : 0.0;
    if (fps <= 0)
        return false;
    session_.setFrameRate(fps);
    showTiming();
    return true;
}

void TForm1::requireFrameTimes() {
    if (!askForFrameRate())
        throw Error(session_.missingFrameTimesText());
}

void TForm1::showTiming() {
    if (!player().VideoOpen()) {
        TimingPanel->clear();
        return;
    }
    const QString line =
        session_.hasFrameTimes()
            ? QString::fromStdString(timingText(session_.timing(), decimalSeparator_))
            : QStringLiteral("no frame times: give the frame rate");
    TimingPanel->setText(line);
    TimingPanel->setToolTip(line);
}

void TForm1::showStretch() {
    const std::optional<StretchPoints> points = session_.displayStretch();
    const int white = player().Intensities().whiteLevel();
    for (QSpinBox* box : {StretchBlackEdit, StretchWhiteEdit}) {
        const QSignalBlocker block(box);
        box->setEnabled(points.has_value());
        box->setRange(0, points ? std::max(white, points->white) : IntensityPlane::kWhiteLevel8);
    }
    const QSignalBlocker blockBlack(StretchBlackEdit);
    const QSignalBlocker blockWhite(StretchWhiteEdit);
    StretchBlackEdit->setValue(points ? points->black : 0);
    StretchWhiteEdit->setValue(points ? points->white : IntensityPlane::kWhiteLevel8);
    // A tenth of the span between the points per step.
    const int step = points ? std::max(1, (points->white - points->black) / 10) : 1;
    StretchBlackEdit->setSingleStep(step);
    StretchWhiteEdit->setSingleStep(step);
}

// White stays above black: moving one past the other pushes the other along.
void TForm1::StretchChange(QSpinBox* moved) {
    StretchPoints p{StretchBlackEdit->value(), StretchWhiteEdit->value()};
    if (p.white <= p.black) {
        if (moved == StretchBlackEdit)
            p.white = std::min(p.black + 1, StretchWhiteEdit->maximum());
        p.black = std::min(p.black, p.white - 1);
        const QSignalBlocker blockBlack(StretchBlackEdit);
        const QSignalBlocker blockWhite(StretchWhiteEdit);
        StretchBlackEdit->setValue(p.black);
        StretchWhiteEdit->setValue(p.white);
    }
    session_.setDisplayStretch(p);
    drawpoints();
    if (CheckBox2->isChecked())
        drawzoom();
}

} // namespace corvane
