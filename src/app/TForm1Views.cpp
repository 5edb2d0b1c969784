// What the main window shows of the frames: moving between them, the read-outs,
// the panel's view, the marks and track, the zoom, the graphs, the run's plots
// and the Speckle panel.
#include "app/TForm1.h"

#include "app/PanelWidget.h"
#include "app/SpeckleDialog.h"
#include "app/TForm1Shared.h"
#include "common/Error.h"
#include "results/ResultsLine.h"
#include "views/Overlays.h"
#include "views/RunPlots.h"
#include "views/TForm3.h"
#include "views/TForm5.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>

namespace corvane {

using namespace form1;

void TForm1::Button17Click() {
    setTrackBarPosition(TrackBar1->value() - 1);
    printframes();
}

void TForm1::Button18Click() {
    setTrackBarPosition(TrackBar1->value() + 1);
    printframes();
}

void TForm1::TrackBar1Change() {
    player().SeekTo(TrackBar1->value());
    // A run shows each frame's read-outs itself, right after this.
    if (!running_)
        printframes();
    if (!CheckBox2->isChecked())
        return;
    drawpoints();
    drawzoom();
}

void TForm1::transportMoved() {
    // The player already stands on the frame: the track bar only follows.
    {
        const QSignalBlocker block(TrackBar1);
        TrackBar1->setValue(player().CurrentPosition());
    }
    printframes();
    // The zoom follows whatever frame is shown.
    if (CheckBox2->isChecked()) {
        drawpoints();
        drawzoom();
    }
    Panel1->update();
}

void TForm1::viewChanged() {
    CheckBox3->setEnabled(panel_.frameLargerThanPanel());
    panel_.setFit(CheckBox3->isChecked());
    Panel1->viewChanged();
    // Back from the whole frame the pair stays in sight.
    if (state().SystemBox.Size > 0)
        followSystemBox();
}

void TForm1::CheckBox3Click() {
    viewChanged();
}

void TForm1::Button1Click() {
    player().SetStepSize(1);
    player().StepForward();
}

void TForm1::Button2Click() {
    player().SetStepSize(1);
    player().RedrawFrame();
}

void TForm1::printframes() {
    const FrameRow* row = currentRow();
    // A frame without a row (a video of length 0 leaves the track bar
    // reaching past the table) shows no values.
    readouts_.hasRow = row != nullptr;
    if (row) {
        readouts_.sep = row->SepPixels;
        readouts_.angle = row->ScreenAngle;
    }
    readouts_.frame = player().CurrentPosition();
    if (row)
        setActiveChecked(row->Valid);
    readouts_.hasTime = player().HasFrameTimes();
    readouts_.timeMs = readouts_.hasTime ? player().CurrentTimeMs() : 0;
    player().SetTimeFormat(TimeFormat::Frames);
    // During a run the texts reach the boxes at the end of each of its pieces,
    // with the frame shown.
    readoutsPending_ = true;
    if (!running_)
        showReadouts();
}

void TForm1::showReadouts() {
    if (!readoutsPending_)
        return;
    readoutsPending_ = false;
    const Readouts& r = readouts_;
    Edit11->setText(r.hasRow ? roundedText(r.sep, kReadoutDecimals) : QString());
    Edit12->setText(r.hasRow ? roundedText(r.angle, kReadoutDecimals) : QString());
    Edit9->setText(QString::number(r.frame));
    Edit10->setText(r.hasTime ? QString::number(r.timeMs) : QString());
}

void TForm1::Button5Click() {
    drawtrail();
}

void TForm1::drawpoints() {
    corvane::drawpoints(state().FrameData, player().CurrentPosition(), panel_);
    Panel1->update();
}

void TForm1::drawtrail() {
    corvane::drawtrail(state().FrameData, panel_);
    Panel1->update();
}

void TForm1::drawzoom() {
    if (!Form5)
        return;
    // Browsing measured frames shows each around the system box stored for
    // it. The system box itself stays where the measuring left it: "Zoom"
    // only shows, it never changes what the next frame measures.
    TStarbox shown = state().SystemBox;
    if (const FrameRow* row = currentRow(); row && row->SystemX > 0)
        shown.centreat(row->SystemX, row->SystemY);
    Form5->paintZoom(shown, panel_);
}

void TForm1::followSystemBox() {
    const TStarbox& sys = state().SystemBox;
    PanelSurface& view = panel_;
    const int x = view.originX(), y = view.originY();
    view.follow(sys.CentreX, sys.CentreY, sys.Size);
    if (view.originX() != x || view.originY() != y)
        Panel1->viewChanged();
}

void TForm1::CheckBox2Click() {
    if (!Form5)
        return;
    if (CheckBox2->isChecked())
        Form5->showZoom(state().SystemBox, panel_, x(), y(), outerWidth());
    else
        Form5->hideZoom();
}

void TForm1::Button8Click() {
    if (Form3)
        Form3->showProfiles(player(), state().SystemBox, x(), outerWidth());
}

void TForm1::Run1Click() {
    if (!RunWindow1) {
        RunWindow1 = new RunWindow(this);
        RunWindow1->Plots->frameClicked = [this](int32_t frame) {
            handle([this, frame] {
                setTrackBarPosition(frame);
                printframes();
            });
        };
    }
    RunWindow1->Plots->showRun(state().FrameData);
    RunWindow1->show();
    RunWindow1->raise();
}

void TForm1::Speckle1Click() {
    if (!player().VideoOpen() || !player().HasVideo())
        throw Error("Open the video of short exposures first, then click the star");
    MeasureRequest request;
    request.video = player().FileName();
    const TStarbox& star = state().PrimaryBox;
    request.findPair = star.Size == 0;
    request.primary = {star.CentreX, star.CentreY};
    request.startFrame = readInt(StartFrameEdit);
    request.decDegrees = text(Edit5);
    request.decMinutes = text(Edit6);
    request.decSeconds = text(Edit7);
    request.decimalSeparator = decimalSeparator_;
    request.observation = toCivil(observation_);
    request.calibration = session_.calibration();
    if (const FrameSource* source = player().Source();
        source && source->timeSource() == TimeSource::FrameRate)
        request.frameRate = source->frameRate();
    SpeckleDialog panel(request, this);
    panel.saveResults = [this](const MeasureOutcome& outcome) {
        const std::string today = recordDateToday();
        MeasuringSession::saveResults(resultsFilePath().toStdString(),
                                      corvane::resultsLine(outcome, today, pairTexts()),
                                      corvane::resultsCsvRow(outcome, today, pairTexts()));
        StatusBar1->showMessage(QStringLiteral("Results saved to %1").arg(resultsFilePath()),
                                kSavedMessageMs);
    };
    if (showSpeckle)
        showSpeckle(panel);
    else
        panel.exec();
}

} // namespace corvane
