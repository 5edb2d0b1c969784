#include "app/SpeckleDialog.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "measure/AutocorrelogramImage.h"
#include "results/PngFile.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace corvane {

namespace {

// The autocorrelogram is shown this many screen pixels a lag, at most this wide.
constexpr int kShownSide = 384;

QImage toImage(const RgbImage& image) {
    QImage q(image.width, image.height, QImage::Format_RGB888);
    for (int y = 0; y < image.height; ++y)
        std::copy_n(image.rgb.data() + 3 * static_cast<std::size_t>(y) * image.width,
                    3 * image.width, q.scanLine(y));
    return q;
}

} // namespace

QString speckleResultText(const MeasureOutcome& o, char sep) {
    if (!o.speckle)
        return {};
    const SpeckleOutcome& s = *o.speckle;
    const SpeckleMeasurement& m = s.measurement;
    QString text;
    if (m.status != SpeckleStatus::Measured) {
        text = QString::fromStdString(speckleNoResultText(m)) + ".";
    } else if (s.sky) {
        text = QStringLiteral("Separation %1\" ± %2\"\nPosition angle %3° ± %4°  %5\n")
                   .arg(QString::fromStdString(s.separationText),
                        QString::fromStdString(errorText(s.sky->separationStderr, 2, sep)),
                        QString::fromStdString(s.positionAngleText),
                        QString::fromStdString(errorText(s.sky->positionAngleStderr, 2, sep)),
                        s.sky->ambiguous ? QStringLiteral("(ambiguous by 180°)")
                                         : QStringLiteral("(quadrant decided)"));
    }
    if (m.status == SpeckleStatus::Measured)
        text += QStringLiteral("Delta mag %1 ± %2   quadrant confidence %3\n")
                    .arg(QString::fromStdString(formatRounded(m.deltaMag, 2, sep)),
                         QString::fromStdString(errorText(m.deltaMagStderr, 2, sep)),
                         QString::fromStdString(formatRounded(m.quadrantConfidence, 3, sep)));
    text += QStringLiteral("\n%1 exposures, %2")
                .arg(m.frames)
                .arg(m.referenceFrames > 0
                         ? QStringLiteral("reference star %1 exposures").arg(m.referenceFrames)
                         : QStringLiteral("radial fit of the transfer"));
    if (s.sky && !s.sky->limit.empty()) {
        text += QStringLiteral("\nDetection limit:");
        for (std::size_t i = 0; i < s.sky->limit.size(); i += 4)
            text +=
                QStringLiteral(" %1\" %2 mag;")
                    .arg(QString::fromStdString(formatRounded(s.sky->limit[i].separation, 2, sep)),
                         QString::fromStdString(formatRounded(s.sky->limit[i].deltaMag, 1, sep)));
    }
    return text;
}

SpeckleDialog::SpeckleDialog(const MeasureRequest& request, QWidget* parent)
    : QDialog(parent), request_(request) {
    setObjectName(QStringLiteral("SpeckleDialog"));
    setWindowTitle(QStringLiteral("Speckle"));
    request_.method = Method::Speckle;
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    auto* referenceRow = new QHBoxLayout;
    referenceEdit_ = new QLineEdit(QString::fromStdString(request.referenceVideo));
    referenceEdit_->setObjectName(QStringLiteral("ReferenceEdit"));
    referenceEdit_->setPlaceholderText(QStringLiteral("none: a radial fit of the spectrum"));
    auto* browse = new QPushButton(QStringLiteral("Browse..."));
    referenceRow->addWidget(referenceEdit_);
    referenceRow->addWidget(browse);
    form->addRow(QStringLiteral("Reference star video:"), referenceRow);
    boxSpin_ = new QSpinBox;
    boxSpin_->setObjectName(QStringLiteral("SpeckleBoxSpin"));
    boxSpin_->setRange(16, 512);
    boxSpin_->setSingleStep(16);
    boxSpin_->setValue(request.speckleBox);
    form->addRow(QStringLiteral("Box (pixels):"), boxSpin_);
    layout->addLayout(form);
    auto* measureButton = new QPushButton(QStringLiteral("Measure"));
    measureButton->setObjectName(QStringLiteral("SpeckleMeasureButton"));
    layout->addWidget(measureButton);
    image_ = new QLabel;
    image_->setObjectName(QStringLiteral("AutocorrelogramLabel"));
    image_->setFixedSize(kShownSide, kShownSide);
    image_->setAlignment(Qt::AlignCenter);
    image_->setStyleSheet(QStringLiteral("background: black"));
    layout->addWidget(image_, 0, Qt::AlignHCenter);
    result_ = new QLabel;
    result_->setObjectName(QStringLiteral("SpeckleResultLabel"));
    result_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    result_->setWordWrap(true);
    layout->addWidget(result_);
    auto* buttons = new QHBoxLayout;
    saveImageButton_ = new QPushButton(QStringLiteral("Save Image..."));
    saveResultsButton_ = new QPushButton(QStringLiteral("Save Results"));
    auto* close = new QPushButton(QStringLiteral("Close"));
    for (QPushButton* b : {saveImageButton_, saveResultsButton_, close})
        buttons->addWidget(b);
    saveImageButton_->setEnabled(false);
    saveResultsButton_->setEnabled(false);
    layout->addLayout(buttons);

    chooseReference = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Reference star video"));
    };
    chooseImageFile = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Save the autocorrelogram"),
                                            QStringLiteral("autocorrelogram.png"),
                                            QStringLiteral("PNG images (*.png)"));
    };
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString path = chooseReference ? chooseReference() : QString();
        if (!path.isEmpty())
            referenceEdit_->setText(path);
    });
    connect(measureButton, &QPushButton::clicked, this, &SpeckleDialog::measure);
    connect(saveImageButton_, &QPushButton::clicked, this, &SpeckleDialog::saveImage);
    connect(saveResultsButton_, &QPushButton::clicked, this, [this] {
        if (outcome_ && saveResults)
            saveResults(*outcome_);
    });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void SpeckleDialog::measure() {
    request_.referenceVideo = referenceEdit_->text().trimmed().toStdString();
    request_.speckleBox = boxSpin_->value() & ~1;
    try {
        outcome_ = measureVideo(request_);
    } catch (const std::exception& e) {
        outcome_.reset();
        result_->setText(QString::fromUtf8(e.what()));
        image_->clear();
        saveImageButton_->setEnabled(false);
        saveResultsButton_->setEnabled(false);
        return;
    }
    show(*outcome_);
}

QString SpeckleDialog::resultText() const {
    return result_->text();
}

void SpeckleDialog::show(const MeasureOutcome& o) {
    QString text = speckleResultText(o, request_.decimalSeparator);
    if (!o.reductionError.empty())
        text += QStringLiteral("\n") + QString::fromStdString(o.reductionError);
    for (const std::string& warning : o.warnings)
        text += QStringLiteral("\nWarning: ") + QString::fromStdString(warning) + ".";
    result_->setText(text);
    const SpeckleMeasurement& m = o.speckle->measurement;
    if (m.autocorrelogram.n > 0) {
        const int32_t scale = std::max(1, kShownSide / m.autocorrelogram.n);
        image_->setPixmap(QPixmap::fromImage(toImage(measuredAutocorrelogram(m, scale))));
    } else {
        image_->clear();
    }
    saveImageButton_->setEnabled(m.autocorrelogram.n > 0);
    saveResultsButton_->setEnabled(m.status == SpeckleStatus::Measured && o.speckle->sky);
    // The result's text grows with its warnings: the dialog grows with it
    // rather than letting the text run over the picture.
    adjustSize();
}

void SpeckleDialog::saveImage() {
    if (!outcome_)
        return;
    const QString path = chooseImageFile ? chooseImageFile() : QString();
    if (path.isEmpty())
        return;
    const SpeckleMeasurement& m = outcome_->speckle->measurement;
    const RgbImage image =
        measuredAutocorrelogram(m, std::max(1, kShownSide / std::max(1, m.autocorrelogram.n)));
    try {
        writePng(path.toStdString(), image.width, image.height, image.rgb);
    } catch (const Error& e) {
        result_->setText(result_->text() + QStringLiteral("\n") + QString::fromUtf8(e.what()));
    }
}

} // namespace corvane
