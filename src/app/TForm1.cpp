// The main window itself: its construction, the one place every handler's
// errors end (`handle`), the wiring of the controls to their handlers, the
// window's events and the Help and About menus. The handlers live beside it
// by concern: TForm1File (the video), TForm1Run (selection and measuring),
// TForm1Results (reduction, epoch and saving), TForm1Calibration and
// TForm1Views (the frame, the zoom, the graphs and the side panels).
#include "app/TForm1.h"

#include "app/AboutBox.h"
#include "app/ErrorBox.h"
#include "app/FileDrop.h"
#include "app/PanelWidget.h"
#include "app/RadioGroup.h"
#include "app/TForm1Shared.h"
#include "app/TransportWidget.h"
#include "common/Error.h"
#include "common/NumberText.h"
#include "results/ResultsFile.h"
#include "video/RecordingClock.h"
#include "views/RunPlots.h"
#include "views/TForm3.h"
#include "views/TForm5.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTimeEdit>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QUrl>

#include <algorithm>

namespace corvane {

using namespace form1;

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
// What the frame-rate question offers first.
constexpr double kDefaultFrameRate = 25.0;

// The system's decimal separator when it is a single plain character.
char systemDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point[0].unicode() < 0x80)
        return static_cast<char>(point[0].unicode());
    return '.';
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
    setMinimumSize(kClientWidth, menuHeight + kClientHeight + columnGrowth_);
    resize(kClientWidth, menuHeight + kClientHeight + columnGrowth_);
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
    chooseReportMethodCode = [this]() -> std::optional<QString> {
        bool ok = false;
        const QString code = QInputDialog::getText(
            this, QStringLiteral("Report: WDS listing"),
            QStringLiteral("The WDS method code for the listing of measures (e.g. Ca);\n"
                           "leave it empty for no listing:"),
            QLineEdit::Normal, QString(), &ok);
        if (!ok)
            return std::nullopt;
        return code.trimmed();
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

void TForm1::FormCreate() {
    move(kWindowLeft, kWindowTop);
    player().SetTimeFormat(TimeFormat::Frames);
    epoch();
    state().PrimaryBox = TStarbox{};
    state().SecondaryBox = TStarbox{};
    state().SystemBox = TStarbox{};
    state().YScale = 1.0f;
}

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

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    const int dx = std::max(0, width() - kClientWidth);
    const int dy = std::max(0, height() - menuHeight_ - kClientHeight - columnGrowth_);
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

} // namespace corvane
