#pragma once
// The Speckle panel: a pair closer than the seeing measured from the open
// video's short exposures. The user names a reference star's video (or
// none), picks the box, and measures; the panel shows the autocorrelogram
// with the measured peak ringed, the result with its errors and the
// quadrant, and saves the image or the results.
#include "session/MeasureVideo.h"

#include <QDialog>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace corvane {

class SpeckleDialog : public QDialog {
    Q_OBJECT
public:
    // `request` holds the video, the star's click, the range, the
    // declination and the calibration in use; the panel adds its own.
    explicit SpeckleDialog(const MeasureRequest& request, QWidget* parent = nullptr);

    // Replaceable for tests: the file dialogs (empty: cancelled) and the
    // saving of the results, which the main window does with its texts.
    std::function<QString()> chooseReference;
    std::function<QString()> chooseImageFile;
    std::function<void(const MeasureOutcome&)> saveResults;

    // The Measure button: runs and shows the result, or the error.
    void measure();
    const std::optional<MeasureOutcome>& outcome() const { return outcome_; }
    QString resultText() const;

private:
    void show(const MeasureOutcome& outcome);
    void saveImage();

    MeasureRequest request_;
    std::optional<MeasureOutcome> outcome_;
    QLineEdit* referenceEdit_;
    QSpinBox* boxSpin_;
    QLabel* image_;
    QLabel* result_;
    QPushButton* saveImageButton_;
    QPushButton* saveResultsButton_;
};

// The result as the panel writes it, in the window's decimal separator.
QString speckleResultText(const MeasureOutcome& outcome, char decimalSeparator);

} // namespace corvane
