// The main window's measuring: the range, the pair's selection, the reset,
// GO! and Stop in pieces of about two screen refreshes, and the frames
// measured or accepted by hand.
#include "app/TForm1.h"

#include "app/PanelWidget.h"
#include "app/RadioGroup.h"
#include "app/TForm1Shared.h"
#include "app/TransportWidget.h"
#include "measure/Methods.h"
#include "measure/Selection.h"
#include "views/Overlays.h"
#include "views/RunPlots.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>

#include <algorithm>

namespace corvane {

using namespace form1;

namespace {

// A run measures at least this long between two looks at the event loop:
// the panel, the read-outs and the progress follow some 30 times a second,
// which looks continuous, and "Stop" answers within a thirtieth of a second.
// Showing a frame costs reading it whole and drawing it, so showing every
// refresh would only slow the run.
constexpr qint64 kRunPieceUs = 33'000;
// Pieces are also long enough that the run measures at least this many
// times as long as the window spends between them (the frame read whole,
// the read-outs, the repaints). On a busy machine showing takes longer by
// the clock just as measuring does: pieces of a fixed length would hold
// fewer frames each, the shows would come as often, and their share of the
// run would grow with the load. Counted over the whole run, because a
// repaint lands in the gap after the next piece rather than its own.
constexpr qint64 kMeasureToShow = 12;
// Stop is answered within a fifth of a second however slow the machine.
constexpr qint64 kLongestRunPieceUs = 200'000;

} // namespace

void TForm1::Button11Click() {
    const QString frame = QString::number(player().CurrentPosition());
    if (StartFrameEdit->text() == frame)
        return;
    StartFrameEdit->setText(frame);
    staleReason_ = QStringLiteral("the Start Frame");
    inputsChanged(false);
}

void TForm1::Button12Click() {
    const QString frame = QString::number(player().CurrentPosition());
    if (StopFrameEdit->text() == frame)
        return;
    StopFrameEdit->setText(frame);
    staleReason_ = QStringLiteral("the End Frame");
    inputsChanged(false);
}

void TForm1::clearSelection() {
    session_.clearSelection();
    for (QPushButton* b : {Button6, Button15, Button16, Button9})
        b->setEnabled(false);
}

void TForm1::cleardata() {
    session_.clear();
}

void TForm1::reset() {
    session_.reset([this] { return readInt(StartFrameEdit); });
    showReset();
}

void TForm1::showReset() {
    setTrackBarPosition(readInt(StartFrameEdit));
    player().RepaintPlayer();
    RadioGroup1->setItemIndex(0);
    Edit11->clear();
    Edit12->clear();
    clearResults();
    reduced_ = false;
    staleReason_.clear();
    clipped_ = 0;
    showCounts();
}

void TForm1::Timer1Timer() {
    // A run in progress keeps the player; the reset follows when it has ended.
    if (running_) {
        Timer1.start();
        return;
    }
    reset();
}

void TForm1::Button7Click() {
    reset();
    // Reset forgets the pair: "GO!" waits for it to be clicked again.
    clearSelection();
}

void TForm1::Button3Click() {
    const int size = readInt(Edit8);
    if (size <= kMinBoxSize)
        return;
    Edit8->setText(QString::number(size - kBoxSizeStep));
    staleReason_ = QStringLiteral("the box size");
    inputsChanged(false);
}

void TForm1::Button4Click() {
    const int size = readInt(Edit8);
    if (size >= kMaxBoxSize)
        return;
    Edit8->setText(QString::number(size + kBoxSizeStep));
    staleReason_ = QStringLiteral("the box size");
    inputsChanged(false);
}

void TForm1::Panel1MouseUp(Qt::MouseButton, int x, int y) {
    switch (RadioGroup1->itemIndex()) {
    case 0:
        session_.selectPrimary(x, y, readInt(Edit8));
        drawoutline(state().PrimaryBox, panel_, kRed);
        Panel1->update();
        RadioGroup1->setItemIndex(1);
        // Half a new pair: nothing measures until the secondary is clicked.
        for (QPushButton* b : {Button6, Button15, Button16, Button9})
            b->setEnabled(false);
        clearResults();
        reduced_ = false;
        break;
    case 1:
        session_.selectSecondary(
            x, y, readInt(Edit8), [this] { return readInt(StartFrameEdit); },
            [this] { showReset(); });
        drawselection(state(), panel_);
        Panel1->update();
        for (QPushButton* b : {Button6, Button15, Button16, Button9})
            b->setEnabled(true);
        break;
    default:
        break;
    }
}

void TForm1::FindPairButtonClick() {
    const FoundPair p = session_.findPair();
    RadioGroup1->setItemIndex(0);
    Panel1MouseUp(Qt::LeftButton, p.primaryX, p.primaryY);
    Panel1MouseUp(Qt::LeftButton, p.secondaryX, p.secondaryY);
    // The pair may lie outside the part of a large frame on screen.
    followSystemBox();
}

Method TForm1::chosenMethod() const {
    return methodAtIndex(RadioGroup3->itemIndex());
}

void TForm1::Button6Click() {
    if (running_) {
        cancelRun();
        return;
    }
    cycle();
}

// A run measures in pieces (kRunPieceUs and more) and returns to the event loop
// between them, so the window repaints and "Stop" and Escape are seen. While
// it lasts "GO!" reads "Stop" and the other controls of this window ignore
// input (eventFilter).
void TForm1::cycle() {
    checkDeclinationBeforeRun(reductionSettings(), session_.calibration().has_value());
    const int start = readInt(StartFrameEdit), stop = readInt(StopFrameEdit);
    checkRange(start, stop, player().VideoLength());
    requireFrameTimes();
    // Every GO! measures the pair from the start frame: nothing of an
    // earlier run, or of a run measured with other settings, is kept.
    if (session_.measuredFrames() > 0) {
        session_.restartFromSelection(start);
        showReset();
    }
    staleReason_.clear();
    MediaPlayer1->stopPlaying();
    runSelection_ = RadioGroup1->itemIndex();
    RadioGroup1->setItemIndex(-1);
    runMethod_ = chosenMethod();
    running_ = true;
    cancelRequested_ = false;
    Button6->setText(QStringLiteral("Stop"));
    qApp->installEventFilter(this);
    try {
        session_.startRun();
    } catch (...) {
        endRun();
        throw;
    }
    pace_ = RunPace{};
    runPiece();
}

void TForm1::runPiece() {
    bool more = false;
    try {
        const qint64 start = clock_.nsecsElapsed() / 1000;
        if (pace_.measuredUntilUs >= 0)
            pace_.shownUs += start - pace_.measuredUntilUs;
        const qint64 until = start + std::clamp(kMeasureToShow * pace_.shownUs - pace_.measuredUs,
                                                kRunPieceUs, kLongestRunPieceUs);
        // The controls ignore input during a run, so the stop frame cannot
        // change within a piece.
        const int32_t stop = readInt(StopFrameEdit);
        RunHooks hooks;
        hooks.stopFrame = [stop] { return stop; };
        hooks.cancelRequested = [this, until] {
            return cancelRequested_ || clock_.nsecsElapsed() / 1000 >= until;
        };
        const RunResult r = session_.continueRun(runMethod_, hooks);
        pace_.measuredUntilUs = clock_.nsecsElapsed() / 1000;
        pace_.measuredUs += pace_.measuredUntilUs - start;
        more = r.cancelled && !cancelRequested_;
        // The frame the piece ended on, whole, with its read-outs: a
        // recording read in bands is read whole only this often.
        printframes();
        showRunFrame();
    } catch (...) {
        endRun();
        throw;
    }
    showReadouts();
    Panel1->update();
    if (more) {
        QTimer::singleShot(0, this, [this] { handle([this] { runPiece(); }); });
        return;
    }
    endRun();
    showCounts();
    // The result's checks measure planted stars with the run's method, which
    // takes a second or more with a fit: "GO!" and the counts show the run's
    // end first, with a busy cursor until the result.
    Button6->repaint();
    GroupBox9->repaint();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const struct RestoreCursor {
        ~RestoreCursor() { QApplication::restoreOverrideCursor(); }
    } restoreCursor;
    reduceAndDraw();
}

void TForm1::showRunFrame() {
    player().ShowWholeFrame();
    followSystemBox();
    {
        const QSignalBlocker block(TrackBar1);
        TrackBar1->setValue(player().CurrentPosition());
    }
    if (CheckBox2->isChecked()) {
        drawpoints();
        drawzoom();
    }
    showCounts();
}

void TForm1::endRun() {
    qApp->removeEventFilter(this);
    showReadouts();
    Button6->setText(QStringLiteral("GO!"));
    running_ = false;
    cancelRequested_ = false;
    RadioGroup1->setItemIndex(runSelection_);
    if (RunWindow1 && RunWindow1->isVisible())
        RunWindow1->Plots->showRun(state().FrameData);
}

void TForm1::step(int32_t frame) {
    requireFrameTimes();
    // A frame measured by hand changes the table the result came from.
    clearResults();
    RadioGroup1->setItemIndex(-1);
    runMethod_ = chosenMethod();
    session_.measureAt(frame, runMethod_);
    showCounts();
    followSystemBox();
    printframes();
    drawpoints();
    setTrackBarPosition(player().CurrentPosition());
}

void TForm1::Button16Click() {
    player().SetTimeFormat(TimeFormat::Frames);
    const int stop = readInt(StopFrameEdit);
    if (player().CurrentPosition() < stop) {
        step(player().CurrentPosition() + 1);
    } else if (session_.reductionDue()) {
        reduceAndDraw();
    }
}

void TForm1::Button15Click() {
    player().SetTimeFormat(TimeFormat::Frames);
    const int start = readInt(StartFrameEdit);
    if (start < player().CurrentPosition())
        step(player().CurrentPosition() - 1);
}

void TForm1::CheckBox1Click() {
    player().SetTimeFormat(TimeFormat::Frames);
    // No video, or a frame without a row: the box only toggles.
    const FrameRow* row = session_.row(player().CurrentPosition());
    const bool changed = row && row->Valid != CheckBox1->isChecked();
    if (!session_.setAccepted(player().CurrentPosition(), CheckBox1->isChecked()))
        return;
    showCounts();
    if (changed)
        inputsChanged(true);
    if (!CheckBox1->isChecked())
        player().RepaintPlayer();
    drawpoints();
    if (CheckBox2->isChecked())
        drawzoom();
}

void TForm1::showCounts() {
    const bool any = player().VideoOpen() && session_.measuredFrames() > 0;
    MeasuredFramesEdit->setText(any ? QString::number(session_.measuredFrames()) : QString());
    AcceptedFramesEdit->setText(any ? QString::number(session_.acceptedFrames()) : QString());
    ClippedFramesEdit->setText(any && ClipCheckBox->isChecked() ? QString::number(clipped_)
                                                                : QString());
}

} // namespace corvane
