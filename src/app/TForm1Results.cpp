// The main window's results: the reduction shown and kept while it belongs to
// the inputs on screen, the epoch of the observation, Save Results and the
// report of saved measurements.
#include "app/TForm1.h"

#include "app/RadioGroup.h"
#include "app/TForm1Shared.h"
#include "common/Error.h"
#include "report/ReportFiles.h"
#include "results/ResultsFile.h"
#include "results/ResultsLine.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>

namespace corvane {

using namespace form1;

namespace {

// The colour of a doubtful result's standard errors.
const QColor kWarningText(192, 0, 0);

} // namespace

void TForm1::clearResults() {
    for (QLineEdit* e : {Edit13, Edit14, Edit15, Edit16, EffectiveFramesEdit,
                         PositionAngleErrorEdit, SeparationErrorEdit, DeltaMagEdit})
        e->clear();
    // "Pixels/arcsec" stays: the camera's scale, as the last reduction or
    // the calibration in use gave it.
    result_.reset();
    showWarnings({});
    Button10->setEnabled(false);
    SaveResults1->setEnabled(false);
}

void TForm1::inputsChanged(bool reductionOnly) {
    if (running_ || !reduced_)
        return;
    if (!reductionOnly) {
        clearResults();
        reduced_ = false;
        return;
    }
    try {
        reduceAndDraw();
    } catch (const RequestError& e) {
        // A box half typed: no result until it reads as a declination. The
        // reason stands where the warnings do, without an error box for
        // every key.
        clearResults();
        WarningLabel->setText(captionOf(e.field()) + QStringLiteral(": ") +
                              QString::fromStdString(e.what()));
    } catch (const Error& e) {
        clearResults();
        WarningLabel->setText(QString::fromStdString(e.what()));
    }
}

// The warnings stand in red beside the results, each in full, and the "±"
// read-outs turn red with the same texts on the pointer: the results stay,
// and the user sees at once that they are doubtful.
void TForm1::showWarnings(const std::vector<std::string>& warnings) {
    QStringList texts;
    for (const std::string& w : warnings)
        texts << QString::fromStdString(w);
    const QString all = texts.join(QStringLiteral("\n\n"));
    WarningLabel->setText(all);
    for (QLineEdit* e : {PositionAngleErrorEdit, SeparationErrorEdit}) {
        QPalette p = e->palette();
        p.setColor(QPalette::Text,
                   texts.isEmpty() ? palette().color(QPalette::Text) : kWarningText);
        e->setPalette(p);
        e->setToolTip(all);
    }
}

ReductionSettings TForm1::reductionSettings() const {
    ReductionSettings settings;
    settings.orientation = RadioGroup2->itemIndex() == 1 ? Orientation::UprightReverted
                                                         : Orientation::CorrectOrInverted;
    settings.decDegrees = text(Edit5);
    settings.decMinutes = text(Edit6);
    settings.decSeconds = text(Edit7);
    settings.declinationGiven = decTyped_;
    settings.decimalSeparator = decimalSeparator_;
    settings.method = runMethod_;
    if (ClipCheckBox->isChecked())
        settings.clipSigma = kClipSigma;
    return settings;
}

// The results go first: whatever stops the reduction leaves no result of
// other inputs on screen. A table that cannot give a sound result is
// reported before any box is written; a reduction that stops short writes
// the steps it reached, and Save Results stays disabled.
void TForm1::reduceAndDraw() {
    clearResults();
    if (!staleReason_.isEmpty())
        throw Error(QStringLiteral("The frames were measured before %1 changed: press GO! to "
                                   "measure them again")
                        .arg(staleReason_)
                        .toStdString());
    checkDeclinationBeforeRun(reductionSettings(), session_.calibration().has_value());
    reduced_ = true;
    RunFinish finish = session_.finishRun(reductionSettings());
    clipped_ = finish.clipped;
    showCounts();
    if (!finish.reduction) {
        // What may have gone wrong stays beside the empty results.
        showWarnings(finish.warnings);
        throw Error(finish.noResult);
    }
    const ReductionResult& r = *finish.reduction;
    const ReductionTexts t = reductionTexts(r, decimalSeparator_);
    if (r.reached >= ReductionStage::Averages) {
        Edit11->setText(QString::fromStdString(t.sepPx));
        Edit12->setText(QString::fromStdString(t.screenAngle));
    }
    if (r.reached >= ReductionStage::Regression) {
        Edit13->setText(QString::fromStdString(t.primarySlope));
        Edit14->setText(QString::fromStdString(t.secondarySlope));
        Edit15->setText(QString::fromStdString(t.positionAngle));
    }
    if (r.reached >= ReductionStage::Separation) {
        Edit19->setText(QString::fromStdString(t.pixelScale));
        Edit16->setText(QString::fromStdString(t.separation));
        const ErrorTexts e = errorTexts(r, decimalSeparator_);
        PositionAngleErrorEdit->setText(QStringLiteral("± ") +
                                        QString::fromStdString(e.positionAngle));
        SeparationErrorEdit->setText(QStringLiteral("± ") + QString::fromStdString(e.separation));
        EffectiveFramesEdit->setText(
            QString::fromStdString(effectiveFramesText(r.statistics, decimalSeparator_)));
        DeltaMagEdit->setText(
            QString::fromStdString(deltaMagText(r.statistics, decimalSeparator_)));
    }
    if (!r.error.empty())
        throw Error(r.error);
    showWarnings(finish.warnings);
    result_ = r;
    Button10->setEnabled(true);
    SaveResults1->setEnabled(true);
    drawtrail();
}

// "Calculate": the reduction again, with the orientation and declination as
// they stand now. Too few accepted frames (the user may have rejected some
// with "Active") gives no result, and the message says why.
void TForm1::Button9Click() {
    reduceAndDraw();
}

void TForm1::setObservationDateTime(const QDateTime& utc) {
    observation_ = utc.toUTC();
    const QSignalBlocker block(DateTimePicker1);
    DateTimePicker1->setDateTime(observation_);
}

// The picker edits the date only: the time of day stays what it was.
void TForm1::pickerEdited(const QDateTime& value) {
    const QDateTime combined(value.date(), observation_.time(), Qt::UTC);
    if (!combined.isValid())
        return;
    if (value != combined || value.timeSpec() != Qt::UTC) {
        const QSignalBlocker block(DateTimePicker1);
        DateTimePicker1->setDateTime(combined);
    }
    if (combined == observation_)
        return;
    observation_ = combined;
    handle([this] { DateTimePicker1Change(); });
}

void TForm1::epoch() {
    const EpochTexts t = epochTexts(corvane::epoch(toCivil(observation_)), decimalSeparator_);
    Edit17->setText(QString::fromStdString(t.julian));
    Edit18->setText(QString::fromStdString(t.besselian));
}

void TForm1::DateTimePicker1Change() {
    epoch();
}

void TForm1::DateTimePicker1Click() {
    epoch();
}

void TForm1::DateTimePicker1Exit() {
    epoch();
}

void TForm1::Button13Click() {
    setObservationDateTime(fromCivil(addHours(toCivil(observation_), 1)));
    epoch();
}

void TForm1::Button14Click() {
    setObservationDateTime(fromCivil(addHours(toCivil(observation_), -1)));
    epoch();
}

QString TForm1::resultsFilePath() const {
    if (resultsDirectory_.isEmpty())
        return QString::fromStdString(defaultResultsPath());
    return QDir(resultsDirectory_).filePath(QStringLiteral("results.txt"));
}

void TForm1::Button10Click() {
    previewdata();
}

void TForm1::SaveResults1Click() {
    previewdata();
}

// The texts of the pair as typed in their boxes.
PairTexts TForm1::pairTexts() {
    PairTexts pair;
    pair.designation = text(Edit1);
    pair.raHours = text(Edit2);
    pair.raMinutes = text(Edit3);
    pair.raSeconds = text(Edit4);
    pair.decDegrees = text(Edit5);
    pair.decMinutes = text(Edit6);
    pair.decSeconds = text(Edit7);
    pair.notes = text(NotesEdit);
    pair.decimalSeparator = decimalSeparator_;
    return pair;
}

// The measured texts exactly as their boxes show them.
MeasuredTexts TForm1::measuredTexts() {
    MeasuredTexts measured;
    measured.epochJ = text(Edit17);
    measured.epochB = text(Edit18);
    measured.julianDate = julianDateText(corvane::epoch(toCivil(observation_)));
    measured.separation = text(Edit16);
    measured.positionAngle = text(Edit15);
    return measured;
}

// The line from the boxes exactly as they read now.
QString TForm1::resultsLine() {
    return QString::fromStdString(
        session_.resultsLine(recordDateToday(), pairTexts(), measuredTexts()));
}

std::string TForm1::resultsCsvRow() {
    return session_.resultsCsvRow(recordDateToday(), pairTexts(), measuredTexts(), *result_,
                                  runMethod_, clipped_);
}

void TForm1::previewdata() {
    if (!result_ || Edit16->text().isEmpty() || Edit15->text().isEmpty())
        throw Error("There is no result to save: measure the pair with GO! first");
    // A box still showing what it showed before anything was typed would be
    // saved as if it named the pair.
    QStringList placeholders;
    for (const std::string& notice : placeholderNotices(pairTexts(), decTyped_))
        placeholders << QString::fromStdString(notice);
    if (!placeholders.isEmpty() && confirmPlaceholders &&
        !confirmPlaceholders(QStringLiteral("In the line to be saved %1. Save it as it is?")
                                 .arg(placeholders.join(QStringLiteral(", and ")))))
        return;
    // What the files will write other than typed is said with the line.
    QString text = resultsLine();
    for (const std::string& notice : saveNotices(pairTexts(), player().FileName()))
        text += QStringLiteral("\n\n") + QString::fromStdString(notice);
    if (confirm && confirm(text))
        outputdata();
}

// Built again at the moment of writing.
void TForm1::outputdata() {
    const QString path = resultsFilePath();
    MeasuringSession::saveResults(path.toStdString(), resultsLine().toStdString(), resultsCsvRow());
    // The files may be beside the program or in the user's data folder.
    StatusBar1->showMessage(
        QStringLiteral("Results saved to %1 and %2")
            .arg(path, QString::fromStdString(resultsCsvPath(path.toStdString()))),
        kSavedMessageMs);
}

void TForm1::Report1Click() {
    const QStringList inputs = chooseReportInputs ? chooseReportInputs() : QStringList();
    if (inputs.isEmpty())
        return;
    const QString page = chooseReportPage ? chooseReportPage() : QString();
    if (page.isEmpty())
        return;
    const std::optional<QString> methodCode =
        chooseReportMethodCode ? chooseReportMethodCode() : std::optional<QString>(QString());
    if (!methodCode)
        return;
    ReportRequest request;
    for (const QString& input : inputs)
        request.inputs.push_back(input.toStdString());
    const QFileInfo info(page);
    const QString base = info.dir().filePath(info.completeBaseName());
    request.html = page.toStdString();
    request.csv = (base + QStringLiteral(".csv")).toStdString();
    request.markdown = (base + QStringLiteral(".md")).toStdString();
    if (!methodCode->isEmpty()) {
        request.wds = (base + QStringLiteral(".wds.txt")).toStdString();
        request.listing.methodCode = methodCode->toStdString();
    }
    const ReportOutcome out = makeReport(request);
    QString message =
        QStringLiteral("Report of %1 pairs written to %2").arg(out.pairs.size()).arg(page);
    if (!out.flags.empty())
        message += QStringLiteral("; %1 measurements flagged").arg(out.flags.size());
    if (!out.skipped.empty())
        message += QStringLiteral("; %1 rows left out").arg(out.skipped.size());
    StatusBar1->showMessage(message, kSavedMessageMs);
}

} // namespace corvane
