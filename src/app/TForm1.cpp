#include "app/TForm1.h"

#include "app/AboutBox.h"
#include "app/ErrorBox.h"
#include "app/FileDrop.h"
#include "app/PanelWidget.h"
#include "app/RadioGroup.h"
#include "app/SpeckleDialog.h"
#include "app/TransportWidget.h"
#include "common/Error.h"
#include "common/NumberText.h"
#include "measure/Methods.h"
#include "measure/Selection.h"
#include "reduce/CalibrationFile.h"
#include "report/ReportFiles.h"
#include "results/ResultsCsv.h"
#include "results/ResultsFile.h"
#include "results/ResultsLine.h"
#include "video/RecordingClock.h"
#include "views/Overlays.h"
#include "views/RunPlots.h"
#include "views/TForm3.h"
#include "views/TForm5.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTimeEdit>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

constexpr int kWindowLeft = 150;
constexpr int kWindowTop = 150;
// The client area below the menu; with the classic frame (4-pixel borders,
// caption and menu) the window measures 1032 x 680 outside. The column right
// of the panel holds the warnings, the frame counts and the standard errors.
constexpr int kClientWidth = 1024;
constexpr int kClientHeight = 626;
constexpr int kClassicBorder = 4;
constexpr int kMenuHeight = 20;
constexpr int kTimerIntervalMs = 500;
constexpr int kFallbackRefreshMs = 16;
// How long the status bar says where a save went before the video's path
// shows again.
constexpr int kSavedMessageMs = 15000;
// What the frame-rate question offers first.
constexpr double kDefaultFrameRate = 25.0;
// The colour of a doubtful result's standard errors.
const QColor kWarningText(192, 0, 0);

// The system's decimal separator when it is a single plain character.
char systemDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point[0].unicode() < 0x80)
        return static_cast<char>(point[0].unicode());
    return '.';
}

std::string text(const QLineEdit* e) {
    return e->text().toStdString();
}

CivilDateTime toCivil(const QDateTime& utc) {
    const QDateTime t = utc.toUTC();
    CivilDateTime c;
    c.year = t.date().year();
    c.month = t.date().month();
    c.day = t.date().day();
    c.hour = t.time().hour();
    c.minute = t.time().minute();
    c.second = t.time().second() + t.time().msec() / 1000.0;
    return c;
}

QDateTime fromCivil(const CivilDateTime& c) {
    const int whole = static_cast<int>(std::floor(c.second));
    const int msec = static_cast<int>(std::lround((c.second - whole) * 1000.0));
    return QDateTime(QDate(c.year, c.month, c.day), QTime(c.hour, c.minute, whole, msec), Qt::UTC);
}

bool isUserInput(QEvent::Type t) {
    switch (t) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return true;
    default:
        return false;
    }
}

} // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    player().SetPanel(&panel_);
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Corvane"));
    // The classic 8-point sans serif at 96 pixels per inch, or the first
    // installed face of about its width, so the captions fit their fixed sizes.
    QFont f = font();
    for (const char* family :
         {"MS Sans Serif", "Arial", "Liberation Sans", "Nimbus Sans", "DejaVu Sans Condensed"}) {
        if (QFontDatabase::hasFamily(QString::fromLatin1(family))) {
            f.setFamily(QString::fromLatin1(family));
            break;
        }
    }
    f.setPixelSize(11);
    // The faces found here run a little wider than the classic one; a slight
    // condensing keeps every caption inside its fixed-size control.
    if (!f.family().startsWith(QLatin1String("MS Sans Serif")))
        f.setStretch(90);
    setFont(f);
    buildMenu();
    buildControls();
    // The classic menu is 20 pixels high; a taller font gets the room it needs.
    const int menuHeight = std::max(kMenuHeight, menuBar()->sizeHint().height());
    menuBar()->setFixedHeight(menuHeight);
    menuHeight_ = menuHeight;
    // The classic layout is the smallest; a larger window gives the panel more.
    setMinimumSize(kClientWidth, menuHeight + kClientHeight);
    resize(kClientWidth, menuHeight + kClientHeight);
    for (QWidget* w :
         centralWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        classicPlaces_.emplace_back(w, w->geometry());
    for (QWidget* w : {static_cast<QWidget*>(TrackBar1), static_cast<QWidget*>(Button18)})
        classicPlaces_.emplace_back(w, w->geometry());

    decimalSeparator_ = systemDecimalSeparator();
    // Today's recordings first; the classic filter stays for AVI alone.
    OpenDialog1Filter =
        QStringLiteral("Videos (*.avi *.ser *.fits *.fit *.fts);;Windows Video (*.AVI *.avi)");
    showError = [this](const QString& message) { showErrorBox(this, message); };
    confirm = [this](const QString& line) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), line,
                        QMessageBox::Ok | QMessageBox::Cancel, this);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        return box.exec() == QMessageBox::Ok;
    };
    askFrameRate = [this](const QString& question) {
        bool ok = false;
        const double fps =
            QInputDialog::getDouble(this, QStringLiteral("Frame rate"), question, kDefaultFrameRate,
                                    RecordingClock::kMinFps, RecordingClock::kMaxFps, 3, &ok);
        return ok ? fps : 0.0;
    };
    chooseVideoFile = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Open"), lastFolder(),
                                            OpenDialog1Filter);
    };
    chooseCalibrationFile = [this](bool save) {
        const QString filter = QStringLiteral("Calibration (*.json)");
        return save ? QFileDialog::getSaveFileName(this, QStringLiteral("Save Calibration"),
                                                   lastFolder(), filter)
                    : QFileDialog::getOpenFileName(this, QStringLiteral("Use Calibration"),
                                                   lastFolder(), filter);
    };
    confirmPlaceholders = [this](const QString& question) {
        return QMessageBox::question(this, QStringLiteral("Confirm"), question,
                                     QMessageBox::Save | QMessageBox::Cancel,
                                     QMessageBox::Cancel) == QMessageBox::Save;
    };
    chooseReportInputs = [this] {
        return QFileDialog::getOpenFileNames(
            this, QStringLiteral("Report: results to combine"),
            QString::fromStdString(resultsCsvPath(resultsFilePath().toStdString())),
            QStringLiteral("Results (*.csv)"));
    };
    chooseReportPage = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Report: save the page"),
                                            QStringLiteral("report.html"),
                                            QStringLiteral("Web page (*.html)"));
    };

    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(kTimerIntervalMs);
    // Fires once per open: a reset that fails is reported once, not every
    // half second from then on.
    Timer1.setSingleShot(true);
    clock_.start();

    connectHandlers();
    // A drop during a run is ignored, as the menu is then.
    new FileDrop(this, [this](const QString& path) {
        if (!running_)
            openGivenFile(path);
    });
}

int TForm1::outerWidth() const {
    const int framed = frameGeometry().width();
    return framed > width() ? framed : width() + 2 * kClassicBorder;
}

TForm1::~TForm1() {
    if (running_)
        qApp->removeEventFilter(this);
}

void TForm1::setSideWindows(TForm3* graphs, TForm5* zoom, TAboutBox* about) {
    Form3 = graphs;
    Form5 = zoom;
    AboutBox = about;
    if (AboutBox)
        AboutBox->afterOk = [this] { handle([this] { player().RepaintPlayer(); }); };
}

QString TForm1::resultsFilePath() const {
    if (resultsDirectory_.isEmpty())
        return QString::fromStdString(defaultResultsPath());
    return QDir(resultsDirectory_).filePath(QStringLiteral("results.txt"));
}

QString TForm1::lastFolder() const {
    return QSettings().value(QStringLiteral("lastFolder")).toString();
}

void TForm1::rememberFolder(const QString& file) {
    QSettings().setValue(QStringLiteral("lastFolder"), QFileInfo(file).absolutePath());
}

QWidget* TForm1::controlOf(RequestField field) const {
    switch (field) {
    case RequestField::DecDegrees:
        return Edit5;
    case RequestField::DecMinutes:
        return Edit6;
    case RequestField::DecSeconds:
        return Edit7;
    case RequestField::StartFrame:
        return Button11;
    case RequestField::StopFrame:
        return Button12;
    case RequestField::Primary:
    case RequestField::Secondary:
    case RequestField::PrimaryFrame:
        return Panel1;
    case RequestField::FrameRate:
        break;
    }
    return nullptr;
}

QString TForm1::captionOf(RequestField field) const {
    switch (field) {
    case RequestField::DecDegrees:
        return QStringLiteral("Dec degrees");
    case RequestField::DecMinutes:
        return QStringLiteral("Dec minutes");
    case RequestField::DecSeconds:
        return QStringLiteral("Dec seconds");
    case RequestField::StartFrame:
        return QStringLiteral("Start Frame");
    case RequestField::StopFrame:
        return QStringLiteral("End Frame");
    case RequestField::Primary:
    case RequestField::Secondary:
    case RequestField::PrimaryFrame:
        return QStringLiteral("Select Star");
    case RequestField::FrameRate:
        break;
    }
    return QStringLiteral("Frame rate");
}

void TForm1::handle(const std::function<void()>& handler) {
    ++handlerDepth_;
    QString failure;
    try {
        handler();
    } catch (const RequestError& e) {
        // The refusal is shown at the control it concerns: the cursor goes there.
        failure = captionOf(e.field()) + QStringLiteral(": ") + QString::fromStdString(e.what());
        if (QWidget* w = controlOf(e.field()); w && w->isEnabled()) {
            w->setFocus();
            if (auto* box = qobject_cast<QLineEdit*>(w))
                box->selectAll();
        }
        if (e.field() == RequestField::DecDegrees || e.field() == RequestField::DecMinutes ||
            e.field() == RequestField::DecSeconds)
            failure += QStringLiteral(". Type the declination as +DD MM SS");
    } catch (...) {
        failure = describeException(std::current_exception());
    }
    --handlerDepth_;
    if (!failure.isNull() && showError)
        showError(errorBoxText(failure));
    Panel1->update();
}

void TForm1::connectHandlers() {
    auto on = [this](auto method) {
        return [this, method] { handle([this, method] { (this->*method)(); }); };
    };
    connect(OpenAVI1, &QAction::triggered, this, on(&TForm1::OpenAVI1Click));
    connect(SaveResults1, &QAction::triggered, this, on(&TForm1::SaveResults1Click));
    connect(About1, &QAction::triggered, this, on(&TForm1::About1Click));
    connect(SaveCalibration1, &QAction::triggered, this, on(&TForm1::SaveCalibration1Click));
    connect(UseCalibration1, &QAction::triggered, this, on(&TForm1::UseCalibration1Click));
    connect(StopCalibration1, &QAction::triggered, this, on(&TForm1::StopCalibration1Click));
    connect(Speckle1, &QAction::triggered, this, on(&TForm1::Speckle1Click));
    connect(Report1, &QAction::triggered, this, on(&TForm1::Report1Click));
    connect(Run1, &QAction::triggered, this, on(&TForm1::Run1Click));
    connect(FindPairButton, &QPushButton::clicked, this, on(&TForm1::FindPairButtonClick));
    connect(Quit1, &QAction::triggered, this, on(&TForm1::Quit1Click));
    connect(Usage1, &QAction::triggered, this, on(&TForm1::Help1Click));
    // What the result depends on: typed into a Dec box, the orientation or
    // the clipping computes it again; the method ends it.
    for (QLineEdit* box : {Edit5, Edit6, Edit7})
        connect(box, &QLineEdit::textEdited, this, [this](const QString&) {
            decTyped_ = true;
            handle([this] { inputsChanged(true); });
        });
    connect(RadioGroup2, &RadioGroup::itemClicked, this,
            [this](int) { handle([this] { inputsChanged(true); }); });
    connect(ClipCheckBox, &QCheckBox::toggled, this,
            [this](bool) { handle([this] { inputsChanged(true); }); });
    connect(RadioGroup3, &RadioGroup::itemClicked, this, [this](int) {
        staleReason_ = QStringLiteral("the Method");
        handle([this] { inputsChanged(false); });
    });
    const std::pair<QPushButton*, void (TForm1::*)()> buttons[] = {
        {Button1, &TForm1::Button1Click},   {Button2, &TForm1::Button2Click},
        {Button3, &TForm1::Button3Click},   {Button4, &TForm1::Button4Click},
        {Button5, &TForm1::Button5Click},   {Button6, &TForm1::Button6Click},
        {Button7, &TForm1::Button7Click},   {Button8, &TForm1::Button8Click},
        {Button9, &TForm1::Button9Click},   {Button10, &TForm1::Button10Click},
        {Button11, &TForm1::Button11Click}, {Button12, &TForm1::Button12Click},
        {Button13, &TForm1::Button13Click}, {Button14, &TForm1::Button14Click},
        {Button15, &TForm1::Button15Click}, {Button16, &TForm1::Button16Click},
        {Button17, &TForm1::Button17Click}, {Button18, &TForm1::Button18Click},
    };
    for (const auto& [b, method] : buttons)
        connect(b, &QPushButton::clicked, this, on(method));
    // Changes made from code are blocked and run their handler directly
    // (setTrackBarPosition, setActiveChecked), so these come from the user.
    connect(TrackBar1, &QSlider::valueChanged, this, on(&TForm1::TrackBar1Change));
    // A scroll by the user that leaves the position where it was (an arrow
    // key at either end) still counts as a change.
    connect(TrackBar1, &QSlider::actionTriggered, this, [this](int) {
        if (TrackBar1->sliderPosition() == TrackBar1->value())
            handle([this] { TrackBar1Change(); });
    });
    connect(CheckBox1, &QCheckBox::toggled, this, on(&TForm1::CheckBox1Click));
    connect(CheckBox2, &QCheckBox::toggled, this, on(&TForm1::CheckBox2Click));
    connect(Panel1, &PanelWidget::mouseReleased, this,
            [this](int x, int y, Qt::MouseButton b) { handle([=] { Panel1MouseUp(b, x, y); }); });
    connect(&Timer1, &QTimer::timeout, this, on(&TForm1::Timer1Timer));
    connect(DateTimePicker1, &QDateTimeEdit::dateTimeChanged, this, &TForm1::pickerEdited);
    DateTimePicker1->installEventFilter(this);
    if (auto* line = DateTimePicker1->findChild<QLineEdit*>())
        line->installEventFilter(this);
    MediaPlayer1->guard = [this](const std::function<void()>& action) { handle(action); };
    // The transport buttons move the picture: the track bar and the read-outs
    // follow it, so a click always lands on the frame the program stands on.
    connect(MediaPlayer1, &TransportWidget::frameShown, this,
            [this] { handle([this] { transportMoved(); }); });
    connect(CheckBox3, &QCheckBox::toggled, this, on(&TForm1::CheckBox3Click));
    for (QSpinBox* box : {StretchBlackEdit, StretchWhiteEdit})
        connect(box, &QSpinBox::valueChanged, this,
                [this, box](int) { handle([this, box] { StretchChange(box); }); });
    player().onRepaintPlayer = [this] { MediaPlayer1->update(); };
}

// ---------------------------------------------------------------- start-up

void TForm1::FormCreate() {
    move(kWindowLeft, kWindowTop);
    player().SetTimeFormat(TimeFormat::Frames);
    epoch();
    state().PrimaryBox = TStarbox{};
    state().SecondaryBox = TStarbox{};
    state().SystemBox = TStarbox{};
    state().YScale = 1.0f;
}

// ---------------------------------------------------------------- helpers

int TForm1::readInt(const QLineEdit* edit) const {
    return textToInt(text(edit));
}

QString TForm1::roundedText(double value, int decimals) const {
    return QString::fromStdString(formatRounded(value, decimals, decimalSeparator_));
}

FrameRow* TForm1::currentRow() {
    const int32_t f = player().CurrentPosition();
    FrameTable& table = state().FrameData;
    if (f < 0 || static_cast<std::size_t>(f) >= table.size())
        return nullptr;
    return &table[static_cast<std::size_t>(f)];
}

void TForm1::setTrackBarPosition(int position) {
    const int before = TrackBar1->value();
    {
        const QSignalBlocker block(TrackBar1);
        TrackBar1->setValue(position);
    }
    if (TrackBar1->value() != before)
        TrackBar1Change();
}

void TForm1::setTrackBarMax(int max) {
    if (max < TrackBar1->minimum())
        return;
    const int before = TrackBar1->value();
    {
        const QSignalBlocker block(TrackBar1);
        TrackBar1->setMaximum(max);
    }
    if (TrackBar1->value() != before)
        TrackBar1Change();
}

void TForm1::setActiveChecked(bool checked) {
    if (CheckBox1->isChecked() == checked)
        return;
    {
        const QSignalBlocker block(CheckBox1);
        CheckBox1->setChecked(checked);
    }
    CheckBox1Click();
}

// ---------------------------------------------------------------- video

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

void TForm1::clearSelection() {
    session_.clearSelection();
    for (QPushButton* b : {Button6, Button15, Button16, Button9})
        b->setEnabled(false);
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
    // During a run the texts reach the boxes when the window repaints, at the
    // screen's rate: writing them out on every frame only costs measuring time.
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

// ---------------------------------------------------------------- working state

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

void TForm1::clearResults() {
    for (QLineEdit* e : {Edit13, Edit14, Edit15, Edit16, EffectiveFramesEdit,
                         PositionAngleErrorEdit, SeparationErrorEdit})
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

void TForm1::showCounts() {
    const bool any = player().VideoOpen() && session_.measuredFrames() > 0;
    MeasuredFramesEdit->setText(any ? QString::number(session_.measuredFrames()) : QString());
    AcceptedFramesEdit->setText(any ? QString::number(session_.acceptedFrames()) : QString());
    ClippedFramesEdit->setText(any && ClipCheckBox->isChecked() ? QString::number(clipped_)
                                                                : QString());
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

// ---------------------------------------------------------------- selection

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

// ---------------------------------------------------------------- runs

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

int TForm1::refreshIntervalMs() const {
    if (const QScreen* s = screen(); s && s->refreshRate() > 1.0)
        return std::max(1, static_cast<int>(1000.0 / s->refreshRate()));
    return kFallbackRefreshMs;
}

// A run measures in pieces of one screen refresh each and returns to the event
// loop between them, so the window repaints at the screen's rate and "Stop"
// and Escape are seen. While it lasts "GO!" reads "Stop" and the other
// controls of this window ignore input (eventFilter).
void TForm1::cycle() {
    checkDeclinationBoxes();
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
    runPiece();
}

void TForm1::runPiece() {
    bool more = false;
    try {
        const qint64 until = clock_.elapsed() + refreshIntervalMs();
        RunHooks hooks;
        hooks.stopFrame = [this] { return readInt(StopFrameEdit); };
        hooks.cancelRequested = [this, until] {
            return cancelRequested_ || clock_.elapsed() >= until;
        };
        // Each frame only leaves its read-outs; the picture follows once per
        // piece, below, so that a recording read in bands is read whole only
        // at the screen's rate.
        hooks.afterFrame = [this](int32_t) { printframes(); };
        const RunResult r = session_.continueRun(runMethod_, hooks);
        more = r.cancelled && !cancelRequested_;
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
    reduceAndDraw();
}

// The declination is read only after the run; boxes that cannot be read,
// or that still hold what they held before this video was opened, stop GO!
// before it, and the cursor goes into the box.
void TForm1::checkDeclinationBoxes() {
    if (session_.calibration())
        return;
    if (!decTyped_)
        throw RequestError(RequestField::DecDegrees,
                           "the pair's declination is needed for this video, since the pixel "
                           "scale rests on it");
    checkDeclination(text(Edit5), text(Edit6), text(Edit7), decimalSeparator_);
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

void TForm1::followSystemBox() {
    const TStarbox& sys = state().SystemBox;
    PanelSurface& view = panel_;
    const int x = view.originX(), y = view.originY();
    view.follow(sys.CentreX, sys.CentreY, sys.Size);
    if (view.originX() != x || view.originY() != y)
        Panel1->viewChanged();
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

// ---------------------------------------------------------------- reduction

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
    checkDeclinationBoxes();
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
    if (r.reached >= ReductionStage::Averages) {
        Edit11->setText(QString::fromStdString(r.averages.sepText));
        Edit12->setText(QString::fromStdString(r.averages.angleText));
    }
    if (r.reached >= ReductionStage::Regression) {
        Edit13->setText(QString::fromStdString(r.regression.primarySlopeText));
        Edit14->setText(QString::fromStdString(r.regression.secondarySlopeText));
        Edit15->setText(QString::fromStdString(r.regression.positionAngleText));
    }
    if (r.reached >= ReductionStage::Separation) {
        Edit19->setText(QString::fromStdString(r.separation.pixelScaleText));
        Edit16->setText(QString::fromStdString(r.separation.separationText));
        const ErrorTexts e = errorTexts(r, decimalSeparator_);
        PositionAngleErrorEdit->setText(QStringLiteral("± ") +
                                        QString::fromStdString(e.positionAngle));
        SeparationErrorEdit->setText(QStringLiteral("± ") + QString::fromStdString(e.separation));
        EffectiveFramesEdit->setText(
            QString::fromStdString(effectiveFramesText(r.statistics, decimalSeparator_)));
    }
    if (!r.error.empty())
        throw Error(r.error);
    showWarnings(finish.warnings);
    result_ = r;
    Button10->setEnabled(true);
    SaveResults1->setEnabled(true);
    drawtrail();
}

// ---------------------------------------------------------------- calibration

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

void TForm1::FindPairButtonClick() {
    const FoundPair p = session_.findPair();
    RadioGroup1->setItemIndex(0);
    Panel1MouseUp(Qt::LeftButton, p.primaryX, p.primaryY);
    Panel1MouseUp(Qt::LeftButton, p.secondaryX, p.secondaryY);
    // The pair may lie outside the part of a large frame on screen.
    followSystemBox();
}

// "Calculate": the reduction again, with the orientation and declination as
// they stand now. Too few accepted frames (the user may have rejected some
// with "Active") gives no result, and the message says why.
void TForm1::Button9Click() {
    reduceAndDraw();
}

// ---------------------------------------------------------------- epoch

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
    const EpochResult r = corvane::epoch(toCivil(observation_), decimalSeparator_);
    Edit17->setText(QString::fromStdString(r.julianText));
    Edit18->setText(QString::fromStdString(r.besselianText));
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

// ---------------------------------------------------------------- results

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
    measured.julianDate = julianDateText(corvane::epoch(toCivil(observation_), '.'));
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
    if (Edit1->text() == QLatin1String("(Star Designation)") || Edit1->text().trimmed().isEmpty())
        placeholders << QStringLiteral("the Designation reads \"%1\"").arg(Edit1->text());
    if (Edit2->text() == QLatin1String("HH") || Edit3->text() == QLatin1String("MM") ||
        Edit4->text() == QLatin1String("SS"))
        placeholders << QStringLiteral("the RA reads \"%1 %2 %3\"")
                            .arg(Edit2->text(), Edit3->text(), Edit4->text());
    if (!decTyped_)
        placeholders << QStringLiteral("the Dec was not typed for this video");
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

// ---------------------------------------------------------------- side windows

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

void TForm1::Quit1Click() {
    close();
}

void TForm1::Help1Click() {
    // The manual page of an installed copy, else the README of the source
    // tree the program was built from.
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate : {dir + QStringLiteral("/../share/doc/corvane/README.md"),
                                     dir + QStringLiteral("/../share/man/man1/corvane.1"),
                                     QStringLiteral(CORVANE_SOURCE_DIR "/README.md")}) {
        if (QFileInfo::exists(candidate)) {
            if (!QDesktopServices::openUrl(QUrl::fromLocalFile(candidate)))
                throw Error("No program is set to open " + candidate.toStdString() +
                            "; read it in a text viewer");
            return;
        }
    }
    throw Error("The usage text was not found beside the program: read README.md or "
                "'man corvane'");
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

void TForm1::Report1Click() {
    const QStringList inputs = chooseReportInputs ? chooseReportInputs() : QStringList();
    if (inputs.isEmpty())
        return;
    const QString page = chooseReportPage ? chooseReportPage() : QString();
    if (page.isEmpty())
        return;
    ReportRequest request;
    for (const QString& input : inputs)
        request.inputs.push_back(input.toStdString());
    const QFileInfo info(page);
    const QString base = info.dir().filePath(info.completeBaseName());
    request.html = page.toStdString();
    request.csv = (base + QStringLiteral(".csv")).toStdString();
    request.markdown = (base + QStringLiteral(".md")).toStdString();
    const ReportOutcome out = makeReport(request);
    QString message =
        QStringLiteral("Report of %1 pairs written to %2").arg(out.pairs.size()).arg(page);
    if (!out.flags.empty())
        message += QStringLiteral("; %1 measurements flagged").arg(out.flags.size());
    if (!out.skipped.empty())
        message += QStringLiteral("; %1 rows left out").arg(out.skipped.size());
    StatusBar1->showMessage(message, kSavedMessageMs);
}

void TForm1::About1Click() {
    if (!AboutBox)
        return;
    if (!AboutBox->isVisible()) {
        if (const QScreen* s = screen()) {
            QRect r = AboutBox->frameGeometry();
            r.moveCenter(s->availableGeometry().center());
            AboutBox->move(r.topLeft());
        }
    }
    AboutBox->show();
    AboutBox->raise();
    AboutBox->activateWindow();
}

// ---------------------------------------------------------------- events

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    const int dx = std::max(0, width() - kClientWidth);
    const int dy = std::max(0, height() - menuHeight_ - kClientHeight);
    // Right of the panel and below it, by the classic places.
    constexpr int kPanelRight = 880, kPanelBottom = 488;
    for (const auto& [w, r] : classicPlaces_) {
        QRect g = r;
        if (w == Panel1) {
            g.setSize(r.size() + QSize(dx, dy));
        } else if (w == WarningLabel) {
            g.translate(dx, 0);
            g.setHeight(r.height() + dy);
        } else if (w == TrackBar1) {
            g.setWidth(r.width() + dx);
        } else if (w == Button18) {
            g.translate(dx, 0);
        } else if (w->parentWidget() == centralWidget() && r.left() >= kPanelRight) {
            g.translate(dx, dy);
        } else if (w->parentWidget() == centralWidget() && r.left() >= Panel1->x() &&
                   r.top() >= kPanelBottom) {
            g.translate(0, dy);
            if (w == GroupBox5)
                g.setWidth(r.width() + dx);
        }
        if (g != w->geometry())
            w->setGeometry(g);
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    cancelRun();
    for (QWidget* w : {static_cast<QWidget*>(Form3), static_cast<QWidget*>(Form5),
                       static_cast<QWidget*>(AboutBox), static_cast<QWidget*>(RunWindow1)})
        if (w)
            w->hide();
    QMainWindow::closeEvent(event);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (running_ && isUserInput(event->type())) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (!w || w->window() != this)
            return false;
        const bool key =
            event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride;
        if (key && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            cancelRun();
            return true;
        }
        if (w == Button6)
            return false;
        return true;
    }
    if (watched == DateTimePicker1 || watched->parent() == DateTimePicker1) {
        if (event->type() == QEvent::MouseButtonRelease)
            handle([this] { DateTimePicker1Click(); });
        else if (event->type() == QEvent::FocusOut && watched == DateTimePicker1)
            handle([this] { DateTimePicker1Exit(); });
    }
    return QMainWindow::eventFilter(watched, event);
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
