// The main window's calibrations: the drift measured saved as one, and one
// used instead of the drift until stopped.
#include "app/TForm1.h"

#include "app/TForm1Shared.h"
#include "common/Error.h"
#include "session/CalibrationFile.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>

namespace corvane {

using namespace form1;

void TForm1::SaveCalibration1Click() {
    if (session_.calibration())
        throw Error("A calibration is in use, so this video's drift was not measured. Stop "
                    "using the calibration, then measure and calculate a drift video.");
    const std::string video =
        QFileInfo(QString::fromStdString(player().FileName())).fileName().toStdString();
    // Checked before the dialog: a table that gives no calibration says why now.
    const Calibration c =
        session_.driftCalibration(text(Edit5), text(Edit6), text(Edit7), decimalSeparator_,
                                  utcText(toCivil(observation_)), video);
    QString path = chooseCalibrationFile ? chooseCalibrationFile(true) : QString();
    if (path.isEmpty())
        return;
    // "Use Calibration..." lists .json files only.
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".json");
    saveCalibration(c, path.toStdString());
    rememberFolder(path);
    StatusBar1->showMessage(QStringLiteral("Calibration saved to %1").arg(path), kSavedMessageMs);
}

void TForm1::UseCalibration1Click() {
    const QString path = chooseCalibrationFile ? chooseCalibrationFile(false) : QString();
    if (path.isEmpty())
        return;
    useCalibrationFile(path);
}

void TForm1::useCalibrationFile(const QString& path) {
    session_.useCalibration(loadCalibration(path.toStdString()));
    calibrationName_ = QFileInfo(path).fileName();
    rememberFolder(path);
    showCalibration();
    inputsChanged(true);
}

void TForm1::StopCalibration1Click() {
    session_.stopUsingCalibration();
    calibrationName_.clear();
    showCalibration();
    inputsChanged(true);
}

void TForm1::showCalibration() {
    const std::optional<Calibration>& c = session_.calibration();
    Edit19->setReadOnly(c.has_value());
    StopCalibration1->setEnabled(c.has_value());
    if (c) {
        // A passing message would hide the panels.
        StatusBar1->clearMessage();
        Edit19->setText(roundedText(c->pixelsPerArcsec, 4));
        // The middle panel names the file and its scale; its tip tells the
        // drift it came from.
        StatusPanels[1]->setText(QStringLiteral("Calibration: %1, %2 px/arcsec")
                                     .arg(calibrationName_, roundedText(c->pixelsPerArcsec, 4)));
        StatusPanels[1]->setToolTip(QStringLiteral("Calibration %1 from %2")
                                        .arg(calibrationName_, QString::fromStdString(c->source)));
    } else {
        Edit19->clear();
        StatusPanels[1]->clear();
        StatusPanels[1]->setToolTip(QString());
    }
}

} // namespace corvane
