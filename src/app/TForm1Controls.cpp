// The main window's controls: names, captions, positions, sizes, initial
// states and looks. Positions are relative to the parent (the central widget
// or a group box), in pixels.
#include "app/GroupBoxStyle.h"
#include "app/PanelWidget.h"
#include "app/RadioGroup.h"
#include "app/TForm1.h"

#include "app/TransportWidget.h"
#include "measure/Methods.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>

namespace corvane {

namespace {

// The result fields' background: the pale inactive-caption-text colour of
// the classic desktop theme the window was laid out in.
const QColor kResultBackground(216, 228, 248);
const QColor kGoGreen(0, 128, 0);
// Height of one row of the "Method" group: its first two buttons share the
// 57-pixel group's 39 pixels below the caption.
constexpr int kMethodRowHeight = 19;
const QColor kWarningRed(192, 0, 0);

template <typename W> W* place(W* w, const char* name, int x, int y, int width, int height) {
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(x, y, width, height);
    return w;
}

QLabel* label(QWidget* parent, const char* name, int x, int y, int w, int h, const char* text) {
    auto* l = place(new QLabel(QString::fromLatin1(text), parent), name, x, y, w, h);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

QLineEdit* edit(QWidget* parent, const char* name, int x, int y, int w, int h, const char* text,
                bool readOnly = false) {
    auto* e = place(new QLineEdit(QString::fromLatin1(text), parent), name, x, y, w, h);
    e->setReadOnly(readOnly);
    e->setCursorPosition(0);
    return e;
}

QPushButton* button(QWidget* parent, const char* name, int x, int y, int w, int h,
                    const char* text) {
    return place(new QPushButton(QString::fromLatin1(text), parent), name, x, y, w, h);
}

QGroupBox* group(QWidget* parent, const char* name, int x, int y, int w, int h,
                 const char* caption = "") {
    return place(new QGroupBox(QString::fromLatin1(caption), parent), name, x, y, w, h);
}

void setFontLook(QWidget* w, int pixelSize, bool bold) {
    QFont f = w->font();
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    w->setFont(f);
}

void noTabStop(QWidget* w) {
    w->setFocusPolicy(Qt::ClickFocus);
}

} // namespace

void TForm1::buildControls() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(client);

    // ---- left column ----
    GroupBox1 = group(client, "GroupBox1", 0, 0, 233, 601);
    QWidget* g = GroupBox1;
    Label1 = label(g, "Label1", 40, 12, 56, 13, "Designation");
    Edit1 = edit(g, "Edit1", 104, 8, 113, 21, "(Star Designation)");
    Label2 = label(g, "Label2", 16, 36, 78, 13, "RA (HH MM SS)");
    Edit2 = edit(g, "Edit2", 104, 32, 33, 21, "HH");
    Edit3 = edit(g, "Edit3", 144, 32, 33, 21, "MM");
    Edit4 = edit(g, "Edit4", 184, 32, 33, 21, "SS");
    Label3 = label(g, "Label3", 8, 60, 89, 13, "Dec (+DD MM SS)");
    Edit5 = edit(g, "Edit5", 104, 56, 33, 21, "+00");
    Edit6 = edit(g, "Edit6", 144, 56, 33, 21, "00");
    Edit7 = edit(g, "Edit7", 184, 56, 33, 21, "00");
    Label12 = label(g, "Label12", 8, 88, 81, 13, "Observation date");
    Label13 = label(g, "Label13", 8, 104, 78, 13, "(dd mm yyyy UT)");
    DateTimePicker1 = place(new QDateTimeEdit(g), "DateTimePicker1", 96, 88, 113, 25);
    DateTimePicker1->setTimeSpec(Qt::UTC);
    DateTimePicker1->setDisplayFormat(QStringLiteral("dd MM yyyy, HH mm"));
    DateTimePicker1->setCalendarPopup(true);
    DateTimePicker1->setButtonSymbols(QAbstractSpinBox::NoButtons);
    observation_ = QDateTime(QDate(2006, 1, 1), QTime(12, 0), Qt::UTC);
    DateTimePicker1->setDateTime(observation_);
    noTabStop(DateTimePicker1);
    Button13 = button(g, "Button13", 208, 88, 20, 12, "h+");
    Button14 = button(g, "Button14", 208, 100, 20, 12, "h-");
    Label15 = label(g, "Label15", 40, 124, 45, 13, "Epoch (J)");
    Edit17 = edit(g, "Edit17", 96, 120, 57, 21, "2000.0", true);
    Label16 = label(g, "Label16", 152, 124, 13, 13, "(B)");
    Edit18 = edit(g, "Edit18", 168, 120, 57, 21, "2000.0", true);
    Button11 = button(g, "Button11", 32, 184, 65, 25, "Start Frame");
    StartFrameEdit = edit(g, "StartFrameEdit", 96, 184, 41, 21, "", true);
    Button12 = button(g, "Button12", 32, 208, 65, 25, "End Frame");
    StopFrameEdit = edit(g, "StopFrameEdit", 96, 208, 41, 21, "", true);
    RadioGroup1 = place(new RadioGroup(QStringLiteral("RadioGroup1"), QStringLiteral("Select Star"),
                                       {QStringLiteral("Primary"), QStringLiteral("Secondary")}, g),
                        "RadioGroup1", 24, 240, 97, 57);
    Label4 = label(g, "Label4", 128, 248, 38, 13, "box size");
    Edit8 = edit(g, "Edit8", 128, 264, 41, 21, "12", true);
    Button3 = button(g, "Button3", 168, 264, 17, 21, "-");
    Button4 = button(g, "Button4", 184, 264, 17, 21, "+");
    // One button per measuring method, in the method table's order. The group
    // grows by a row for each method beyond the first two, so those keep
    // their places, and the controls below it move down by as much.
    QStringList methods;
    for (std::size_t i = 0; i < methodCount(); ++i)
        methods << QString::fromLatin1(methodEntries()[i].caption);
    const int below = kMethodRowHeight * (static_cast<int>(methodCount()) - 2);
    RadioGroup3 =
        place(new RadioGroup(QStringLiteral("RadioGroup3"), QStringLiteral("Method"), methods, g),
              "RadioGroup3", 24, 296, 121, 57 + below);
    RadioGroup3->setItemIndex(indexOfMethod(kDefaultMethod));
    CheckBox2 = place(new QCheckBox(QStringLiteral("Zoom"), g), "CheckBox2", 152, 312, 65, 17);
    // Beside "Zoom", the other view option; only a frame larger than the panel can be fitted.
    CheckBox3 = place(new QCheckBox(QStringLiteral("Fit"), g), "CheckBox3", 152, 332, 65, 17);
    CheckBox3->setEnabled(false);
    RadioGroup2 = place(new RadioGroup(QStringLiteral("RadioGroup2"), QStringLiteral("Orientation"),
                                       {QStringLiteral("Correct or Inverted (rotated 180)"),
                                        QStringLiteral("Upright reverted (flipped R/L)")},
                                       g),
                        "RadioGroup2", 24, 352 + below, 193, 57);
    RadioGroup2->setItemIndex(0);
    GroupBox6 = group(g, "GroupBox6", 24, 408 + below, 193, 9);
    GroupBox3 = group(g, "GroupBox3", 24, 416 + below, 89, 49, "Automatic");
    Button6 = button(GroupBox3, "Button6", 16, 16, 57, 25, "GO!");
    GroupBox4 = group(g, "GroupBox4", 120, 416 + below, 97, 49, "Manual Step");
    Button15 = button(GroupBox4, "Button15", 16, 16, 25, 25, "<-");
    Button16 = button(GroupBox4, "Button16", 56, 16, 25, 25, "+>");
    Button9 = button(g, "Button9", 120, 472 + below, 97, 25, "Calculate");
    GroupBox7 = group(g, "GroupBox7", 24, 496 + below, 193, 9);
    // "Notes:" beside its field, not above it: the row this saves keeps the
    // field clear of the black and white point boxes below.
    Label18 = label(g, "Label18", 24, 512 + below, 31, 13, "Notes:");
    NotesEdit = edit(g, "NotesEdit", 60, 508 + below, 157, 21, "");
    Button8 = button(g, "Button8", 24, 568, 25, 25, "Graph");
    // Beside "Save Results": the black and white points deep and faint
    // frames are shown with, so that faint stars can be seen and clicked.
    StretchBlackLabel = label(g, "StretchBlackLabel", 24, 552, 30, 13, "Black");
    StretchBlackEdit = place(new QSpinBox(g), "StretchBlackEdit", 56, 548, 57, 21);
    StretchWhiteLabel = label(g, "StretchWhiteLabel", 24, 576, 30, 13, "White");
    StretchWhiteEdit = place(new QSpinBox(g), "StretchWhiteEdit", 56, 572, 57, 21);
    for (QSpinBox* box : {StretchBlackEdit, StretchWhiteEdit}) {
        box->setRange(0, IntensityPlane::kWhiteLevel8);
        box->setKeyboardTracking(false);
        box->setEnabled(false);
    }
    StretchWhiteEdit->setValue(IntensityPlane::kWhiteLevel8);

    // ---- navigation row ----
    GroupBox5 = group(client, "GroupBox5", 240, 488, 641, 41);
    GroupBox5->setCursor(Qt::PointingHandCursor);
    Button17 = button(GroupBox5, "Button17", 8, 8, 25, 17, "<");
    TrackBar1 = place(new QSlider(Qt::Horizontal, GroupBox5), "TrackBar1", 40, 8, 553, 25);
    TrackBar1->setRange(0, 100);
    TrackBar1->setValue(0);
    TrackBar1->setPageStep(5);
    TrackBar1->setSingleStep(1);
    TrackBar1->setTickInterval(2);
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    TrackBar1->setCursor(Qt::PointingHandCursor);
    Button18 = button(GroupBox5, "Button18", 600, 8, 25, 17, ">");

    // ---- read-out row ----
    GroupBox2 = group(client, "GroupBox2", 240, 528, 641, 73);
    g = GroupBox2;
    Label5 = label(g, "Label5", 24, 16, 32, 13, "Frame:");
    Edit9 = edit(g, "Edit9", 64, 16, 49, 21, "00", true);
    Label7 = label(g, "Label7", 16, 40, 48, 13, "Time (ms):");
    Edit10 = edit(g, "Edit10", 64, 40, 49, 21, "0000", true);
    CheckBox1 = place(new QCheckBox(QStringLiteral("Active"), g), "CheckBox1", 120, 16, 97, 17);
    Label17 = label(g, "Label17", 128, 40, 64, 13, "Pixels/arcsec");
    Label8 = label(g, "Label8", 288, 16, 68, 13, "Angle (screen)");
    Edit12 = edit(g, "Edit12", 360, 16, 49, 21, "", true);
    Label6 = label(g, "Label6", 312, 40, 39, 13, "Sep (px)");
    Edit11 = edit(g, "Edit11", 360, 40, 49, 21, "", true);
    Label9 = label(g, "Label9", 408, 16, 64, 13, "Primary Slope");
    Edit13 = edit(g, "Edit13", 432, 16, 41, 21, "", true);
    Label10 = label(g, "Label10", 408, 40, 81, 13, "Secondary Slope");
    Edit14 = edit(g, "Edit14", 432, 40, 41, 21, "", true);
    Label11 = label(g, "Label11", 456, 16, 97, 16, "Postion Angle");
    Edit15 = edit(g, "Edit15", 560, 16, 73, 21, "", true);
    Label14 = label(g, "Label14", 472, 40, 77, 16, "Separation");
    Edit16 = edit(g, "Edit16", 560, 40, 73, 21, "", true);

    // ---- right of the panel and the results: the warnings, the outlier
    // option, the frame counts and the standard errors ----
    WarningLabel = label(client, "WarningLabel", 888, 8, 128, 364, "");
    WarningLabel->setWordWrap(true);
    // Against the bottom, next to the counts and the results they are about.
    WarningLabel->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    QPalette warningPalette = WarningLabel->palette();
    warningPalette.setColor(QPalette::WindowText, kWarningRed);
    WarningLabel->setPalette(warningPalette);
    // Off by default: every accepted frame counts unless the user asks.
    ClipCheckBox = place(new QCheckBox(QStringLiteral("Reject outliers (3 sigma)"), client),
                         "ClipCheckBox", 888, 380, 128, 17);
    GroupBox9 = group(client, "GroupBox9", 888, 404, 128, 117, "Frames");
    g = GroupBox9;
    Label19 = label(g, "Label19", 8, 20, 56, 13, "measured");
    MeasuredFramesEdit = edit(g, "MeasuredFramesEdit", 68, 16, 53, 21, "", true);
    Label20 = label(g, "Label20", 8, 44, 56, 13, "accepted");
    AcceptedFramesEdit = edit(g, "AcceptedFramesEdit", 68, 40, 53, 21, "", true);
    Label21 = label(g, "Label21", 8, 68, 56, 13, "clipped");
    ClippedFramesEdit = edit(g, "ClippedFramesEdit", 68, 64, 53, 21, "", true);
    // What the accepted frames are worth when neighbouring frames share their
    // errors: the standard errors count this many.
    EffectiveFramesLabel = label(g, "EffectiveFramesLabel", 8, 92, 56, 13, "effective");
    EffectiveFramesEdit = edit(g, "EffectiveFramesEdit", 68, 88, 53, 21, "", true);
    // Each standard error on the row of its value.
    GroupBox8 = group(client, "GroupBox8", 888, 528, 128, 73);
    g = GroupBox8;
    PositionAngleErrorEdit = edit(g, "PositionAngleErrorEdit", 8, 16, 73, 21, "", true);
    PositionAngleUnitLabel = label(g, "PositionAngleUnitLabel", 86, 20, 34, 13, "deg");
    SeparationErrorEdit = edit(g, "SeparationErrorEdit", 8, 40, 73, 21, "", true);
    SeparationUnitLabel = label(g, "SeparationUnitLabel", 86, 44, 34, 13, "arcsec");

    // ---- directly on the client area, in front of the group boxes ----
    Panel1 = place(new PanelWidget(panel_, client), "Panel1", 240, 8, 640, 480);
    MediaPlayer1 =
        place(new TransportWidget(session_.player(), client), "MediaPlayer1", 32, 152, 169, 30);
    Button7 = button(client, "Button7", 144, 184, 57, 25, "Reset");
    Button10 = button(client, "Button10", 120, 552, 97, 33, "Save Results");
    // Below "Reset": both clicks at once, on the two brightest stars.
    FindPairButton = button(client, "FindPairButton", 144, 212, 57, 21, "Find pair");
    Edit19 = edit(client, "Edit19", 440, 568, 65, 21, "");
    Button1 = button(client, "Button1", 304, 608, 75, 25, "Step");
    Button2 = button(client, "Button2", 384, 608, 75, 25, "Clear");
    Button5 = button(client, "Button5", 536, 616, 75, 25, "Draw");
    for (QWidget* w : {static_cast<QWidget*>(MediaPlayer1), static_cast<QWidget*>(Button7),
                       static_cast<QWidget*>(Button10), static_cast<QWidget*>(Edit19),
                       static_cast<QWidget*>(FindPairButton)})
        w->raise();

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setFixedHeight(19);
    // The video's path, the calibration in use with its scale, and a spare.
    const int panelWidths[3] = {400, 250, 50};
    for (int i = 0; i < 3; ++i) {
        StatusPanels[i] = new QLabel(StatusBar1);
        StatusPanels[i]->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
        StatusPanels[i]->setFixedWidth(panelWidths[i]);
        StatusPanels[i]->setFrameShape(QFrame::Panel);
        StatusPanels[i]->setFrameShadow(QFrame::Sunken);
        StatusBar1->addWidget(StatusPanels[i]);
    }
    TimingPanel = new QLabel(StatusBar1);
    TimingPanel->setObjectName(QStringLiteral("TimingPanel"));
    TimingPanel->setFrameShape(QFrame::Panel);
    TimingPanel->setFrameShadow(QFrame::Sunken);
    StatusBar1->addWidget(TimingPanel, 1);
    setStatusBar(StatusBar1);

    // Captions on the frame line, as on the classic desktop.
    // Created after the controls, so it is deleted after them.
    auto* boxStyle = new GroupBoxStyle;
    boxStyle->setParent(this);
    for (QGroupBox* box : client->findChildren<QGroupBox*>())
        box->setStyle(boxStyle);

    // ---- initial states ----
    for (QWidget* w : {static_cast<QWidget*>(Button11), static_cast<QWidget*>(Button12),
                       static_cast<QWidget*>(RadioGroup1), static_cast<QWidget*>(Button6),
                       static_cast<QWidget*>(Button15), static_cast<QWidget*>(Button16),
                       static_cast<QWidget*>(Button9), static_cast<QWidget*>(Button17),
                       static_cast<QWidget*>(TrackBar1), static_cast<QWidget*>(Button18),
                       static_cast<QWidget*>(Button1), static_cast<QWidget*>(FindPairButton),
                       static_cast<QWidget*>(Button10), static_cast<QWidget*>(MediaPlayer1)})
        w->setEnabled(false);
    for (QWidget* w : {static_cast<QWidget*>(Button8), static_cast<QWidget*>(Label9),
                       static_cast<QWidget*>(Edit13), static_cast<QWidget*>(Label10),
                       static_cast<QWidget*>(Edit14), static_cast<QWidget*>(Button1),
                       static_cast<QWidget*>(Button2), static_cast<QWidget*>(Button5)})
        w->setVisible(false);

    // ---- looks ----
    setFontLook(Button6, 13, true);
    QPalette goPalette = Button6->palette();
    // Green while it can be pressed; greyed like any other button while disabled.
    goPalette.setColor(QPalette::Active, QPalette::ButtonText, kGoGreen);
    goPalette.setColor(QPalette::Inactive, QPalette::ButtonText, kGoGreen);
    Button6->setPalette(goPalette);
    setFontLook(Button15, 13, true);
    setFontLook(Button16, 13, true);
    setFontLook(Button9, 11, true);
    setFontLook(Button10, 11, true);
    setFontLook(Label11, 13, true);
    setFontLook(Label14, 13, true);
    for (QLineEdit* e : {Edit15, Edit16, PositionAngleErrorEdit, SeparationErrorEdit}) {
        setFontLook(e, 12, false);
        QPalette p = e->palette();
        p.setColor(QPalette::Base, kResultBackground);
        e->setPalette(p);
    }
    for (QWidget* w : {static_cast<QWidget*>(Button6), static_cast<QWidget*>(Button15),
                       static_cast<QWidget*>(Button16)})
        w->setCursor(Qt::PointingHandCursor);
    for (QWidget* w :
         {static_cast<QWidget*>(Button3),          static_cast<QWidget*>(Button4),
          static_cast<QWidget*>(Button6),          static_cast<QWidget*>(Button7),
          static_cast<QWidget*>(Button9),          static_cast<QWidget*>(Button10),
          static_cast<QWidget*>(Button11),         static_cast<QWidget*>(Button12),
          static_cast<QWidget*>(Button13),         static_cast<QWidget*>(Button14),
          static_cast<QWidget*>(Button15),         static_cast<QWidget*>(Button16),
          static_cast<QWidget*>(CheckBox1),        static_cast<QWidget*>(CheckBox2),
          static_cast<QWidget*>(CheckBox3),        static_cast<QWidget*>(StartFrameEdit),
          static_cast<QWidget*>(StopFrameEdit),    static_cast<QWidget*>(MediaPlayer1),
          static_cast<QWidget*>(StretchBlackEdit), static_cast<QWidget*>(StretchWhiteEdit),
          static_cast<QWidget*>(ClipCheckBox)})
        noTabStop(w);
    for (QLineEdit* e :
         {Edit8, Edit9, Edit10, Edit11, Edit12, Edit13, Edit14, Edit15, Edit16, Edit17, Edit18,
          Edit19, MeasuredFramesEdit, AcceptedFramesEdit, ClippedFramesEdit, EffectiveFramesEdit,
          PositionAngleErrorEdit, SeparationErrorEdit})
        noTabStop(e);
}

void TForm1::buildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu"));
    File1 = bar->addMenu(QStringLiteral("File"));
    File1->setObjectName(QStringLiteral("File1"));
    OpenAVI1 = File1->addAction(QStringLiteral("Open AVI"));
    OpenAVI1->setObjectName(QStringLiteral("OpenAVI1"));
    NewDataFile1 = File1->addAction(QStringLiteral("New Data File"));
    NewDataFile1->setObjectName(QStringLiteral("NewDataFile1"));
    OpenDataFile1 = File1->addAction(QStringLiteral("Open Data File"));
    OpenDataFile1->setObjectName(QStringLiteral("OpenDataFile1"));
    SaveDataFile1 = File1->addAction(QStringLiteral("Save Data File"));
    SaveDataFile1->setObjectName(QStringLiteral("SaveDataFile1"));
    for (QAction* hidden : {NewDataFile1, OpenDataFile1, SaveDataFile1})
        hidden->setVisible(false);
    SaveResults1 = File1->addAction(QStringLiteral("Save Results"));
    SaveResults1->setObjectName(QStringLiteral("SaveResults1"));
    SaveCalibration1 = File1->addAction(QStringLiteral("Save Calibration..."));
    SaveCalibration1->setObjectName(QStringLiteral("SaveCalibration1"));
    UseCalibration1 = File1->addAction(QStringLiteral("Use Calibration..."));
    UseCalibration1->setObjectName(QStringLiteral("UseCalibration1"));
    StopCalibration1 = File1->addAction(QStringLiteral("Stop Using Calibration"));
    StopCalibration1->setObjectName(QStringLiteral("StopCalibration1"));
    StopCalibration1->setEnabled(false);
    // Pairs closer than the seeing, from the whole video's short exposures.
    Speckle1 = File1->addAction(QStringLiteral("Speckle..."));
    Speckle1->setObjectName(QStringLiteral("Speckle1"));
    Report1 = File1->addAction(QStringLiteral("Report..."));
    Report1->setObjectName(QStringLiteral("Report1"));
    File1->addSeparator();
    Quit1 = File1->addAction(QStringLiteral("Quit"));
    Quit1->setObjectName(QStringLiteral("Quit1"));
    OpenAVI1->setShortcut(QKeySequence::Open);
    SaveResults1->setShortcut(QKeySequence::Save);
    Quit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // Enabled while a result computed from the inputs on screen is shown.
    SaveResults1->setEnabled(false);
    View1 = bar->addMenu(QStringLiteral("View"));
    View1->setObjectName(QStringLiteral("View1"));
    Run1 = View1->addAction(QStringLiteral("Run"));
    Run1->setObjectName(QStringLiteral("Run1"));
    Help1 = bar->addMenu(QStringLiteral("Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    Usage1 = Help1->addAction(QStringLiteral("Usage"));
    Usage1->setObjectName(QStringLiteral("Usage1"));
    Usage1->setShortcut(QKeySequence::HelpContents);
    A1 = bar->addMenu(QStringLiteral("About"));
    A1->setObjectName(QStringLiteral("A1"));
    About1 = A1->addAction(QStringLiteral("About"));
    About1->setObjectName(QStringLiteral("About1"));
}

} // namespace corvane
