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
#include <algorithm>

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

// The kinds of control the window is built of.
enum class Kind {
    Label,
    Edit,
    ReadOnlyEdit,
    Button,
    Group,
    CheckBox,
    SpinBox,
    DatePicker,
    RadioGroup,
    Slider,
    Panel,
    Transport,
};

// Where a row's control is kept: a member of the window of any control type.
class Slot {
public:
    template <typename W>
    Slot(W*& member) // NOLINT(google-explicit-constructor): rows name members plainly
        : member_(&member),
          set_([](void* m, QWidget* w) { *static_cast<W**>(m) = qobject_cast<W*>(w); }) {}
    void operator()(QWidget* w) const { set_(member_, w); }

private:
    void* member_;
    void (*set_)(void*, QWidget*);
};

// One control: what it is, its member, object name and caption, its place
// in its parent (none: the client area), whether it moves down with the
// "Method" group's extra rows, and a radio group's items.
// Which rows move down as the "Method" group grows: those below it, and,
// once the group outgrows the room the column keeps for a third button,
// the column's foot (the graph button, the black and white points and
// "Save Results").
enum class Shift { None, BelowMethods, Foot };

struct ControlRow {
    Kind kind;
    Slot slot;
    const char* name;
    const char* caption;
    QRect geometry;
    QGroupBox* const* parent = nullptr;
    Shift shift = Shift::None;
    QStringList items = {};
};

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

    // One button per measuring method, in the method table's order. The group
    // grows by a row for each method beyond the first two, so those keep
    // their places, and the controls below it move down by as much.
    QStringList methods;
    for (std::size_t i = 0; i < methodCount(); ++i)
        if (methodEntries()[i].inWindow)
            methods << QString::fromLatin1(methodEntries()[i].caption);
    const int below = kMethodRowHeight * (static_cast<int>(methods.size()) - 2);

    const int foot = std::max(0, below - kMethodRowHeight);
    constexpr Shift kBelow = Shift::BelowMethods;
    constexpr Shift kFoot = Shift::Foot;
    QGroupBox* const* const left = &GroupBox1;
    // In the order of creation, which is the order of the Tab key and of
    // stacking: the controls directly on the client area come last, in
    // front of the group boxes.
    const ControlRow rows[] = {
        // ---- left column ----
        {Kind::Group, GroupBox1, "GroupBox1", "", {0, 0, 233, 601}},
        {Kind::Label, Label1, "Label1", "Designation", {40, 12, 56, 13}, left},
        {Kind::Edit, Edit1, "Edit1", "(Star Designation)", {104, 8, 113, 21}, left},
        {Kind::Label, Label2, "Label2", "RA (HH MM SS)", {16, 36, 78, 13}, left},
        {Kind::Edit, Edit2, "Edit2", "HH", {104, 32, 33, 21}, left},
        {Kind::Edit, Edit3, "Edit3", "MM", {144, 32, 33, 21}, left},
        {Kind::Edit, Edit4, "Edit4", "SS", {184, 32, 33, 21}, left},
        {Kind::Label, Label3, "Label3", "Dec (+DD MM SS)", {8, 60, 89, 13}, left},
        {Kind::Edit, Edit5, "Edit5", "+00", {104, 56, 33, 21}, left},
        {Kind::Edit, Edit6, "Edit6", "00", {144, 56, 33, 21}, left},
        {Kind::Edit, Edit7, "Edit7", "00", {184, 56, 33, 21}, left},
        {Kind::Label, Label12, "Label12", "Observation date", {8, 88, 81, 13}, left},
        {Kind::Label, Label13, "Label13", "(dd mm yyyy UT)", {8, 104, 78, 13}, left},
        {Kind::DatePicker, DateTimePicker1, "DateTimePicker1", "", {96, 88, 113, 25}, left},
        {Kind::Button, Button13, "Button13", "h+", {208, 88, 20, 12}, left},
        {Kind::Button, Button14, "Button14", "h-", {208, 100, 20, 12}, left},
        {Kind::Label, Label15, "Label15", "Epoch (J)", {40, 124, 45, 13}, left},
        {Kind::ReadOnlyEdit, Edit17, "Edit17", "2000.0", {96, 120, 57, 21}, left},
        {Kind::Label, Label16, "Label16", "(B)", {152, 124, 13, 13}, left},
        {Kind::ReadOnlyEdit, Edit18, "Edit18", "2000.0", {168, 120, 57, 21}, left},
        {Kind::Button, Button11, "Button11", "Start Frame", {32, 184, 65, 25}, left},
        {Kind::ReadOnlyEdit, StartFrameEdit, "StartFrameEdit", "", {96, 184, 41, 21}, left},
        {Kind::Button, Button12, "Button12", "End Frame", {32, 208, 65, 25}, left},
        {Kind::ReadOnlyEdit, StopFrameEdit, "StopFrameEdit", "", {96, 208, 41, 21}, left},
        {Kind::RadioGroup,
         RadioGroup1,
         "RadioGroup1",
         "Select Star",
         {24, 240, 97, 57},
         left,
         Shift::None,
         {QStringLiteral("Primary"), QStringLiteral("Secondary")}},
        {Kind::Label, Label4, "Label4", "box size", {128, 248, 38, 13}, left},
        {Kind::ReadOnlyEdit, Edit8, "Edit8", "12", {128, 264, 41, 21}, left},
        {Kind::Button, Button3, "Button3", "-", {168, 264, 17, 21}, left},
        {Kind::Button, Button4, "Button4", "+", {184, 264, 17, 21}, left},
        {Kind::RadioGroup,
         RadioGroup3,
         "RadioGroup3",
         "Method",
         {24, 296, 121, 57 + below},
         left,
         Shift::None,
         methods},
        {Kind::CheckBox, CheckBox2, "CheckBox2", "Zoom", {152, 312, 65, 17}, left},
        // Beside "Zoom", the other view option.
        {Kind::CheckBox, CheckBox3, "CheckBox3", "Fit", {152, 332, 65, 17}, left},
        {Kind::RadioGroup,
         RadioGroup2,
         "RadioGroup2",
         "Orientation",
         {24, 352, 193, 57},
         left,
         kBelow,
         {QStringLiteral("Correct or Inverted (rotated 180)"),
          QStringLiteral("Upright reverted (flipped R/L)")}},
        {Kind::Group, GroupBox6, "GroupBox6", "", {24, 408, 193, 9}, left, kBelow},
        {Kind::Group, GroupBox3, "GroupBox3", "Automatic", {24, 416, 89, 49}, left, kBelow},
        {Kind::Button, Button6, "Button6", "GO!", {16, 16, 57, 25}, &GroupBox3},
        {Kind::Group, GroupBox4, "GroupBox4", "Manual Step", {120, 416, 97, 49}, left, kBelow},
        {Kind::Button, Button15, "Button15", "<-", {16, 16, 25, 25}, &GroupBox4},
        {Kind::Button, Button16, "Button16", "+>", {56, 16, 25, 25}, &GroupBox4},
        {Kind::Button, Button9, "Button9", "Calculate", {120, 472, 97, 25}, left, kBelow},
        {Kind::Group, GroupBox7, "GroupBox7", "", {24, 496, 193, 9}, left, kBelow},
        // "Notes:" beside its field, not above it: the row this saves keeps
        // the field clear of the black and white point boxes below.
        {Kind::Label, Label18, "Label18", "Notes:", {24, 512, 31, 13}, left, kBelow},
        {Kind::Edit, NotesEdit, "NotesEdit", "", {60, 508, 157, 21}, left, kBelow},
        {Kind::Button, Button8, "Button8", "Graph", {24, 568, 25, 25}, left, kFoot},
        // Beside "Save Results": the black and white points deep and faint
        // frames are shown with, so that faint stars can be seen and clicked.
        {Kind::Label,
         StretchBlackLabel,
         "StretchBlackLabel",
         "Black",
         {24, 552, 30, 13},
         left,
         kFoot},
        {Kind::SpinBox, StretchBlackEdit, "StretchBlackEdit", "", {56, 548, 57, 21}, left, kFoot},
        {Kind::Label,
         StretchWhiteLabel,
         "StretchWhiteLabel",
         "White",
         {24, 576, 30, 13},
         left,
         kFoot},
        {Kind::SpinBox, StretchWhiteEdit, "StretchWhiteEdit", "", {56, 572, 57, 21}, left, kFoot},

        // ---- navigation row ----
        {Kind::Group, GroupBox5, "GroupBox5", "", {240, 488, 641, 41}},
        {Kind::Button, Button17, "Button17", "<", {8, 8, 25, 17}, &GroupBox5},
        {Kind::Slider, TrackBar1, "TrackBar1", "", {40, 8, 553, 25}, &GroupBox5},
        {Kind::Button, Button18, "Button18", ">", {600, 8, 25, 17}, &GroupBox5},

        // ---- read-out row ----
        {Kind::Group, GroupBox2, "GroupBox2", "", {240, 528, 641, 73}},
        {Kind::Label, Label5, "Label5", "Frame:", {24, 16, 32, 13}, &GroupBox2},
        {Kind::ReadOnlyEdit, Edit9, "Edit9", "00", {64, 16, 49, 21}, &GroupBox2},
        {Kind::Label, Label7, "Label7", "Time (ms):", {16, 40, 48, 13}, &GroupBox2},
        {Kind::ReadOnlyEdit, Edit10, "Edit10", "0000", {64, 40, 49, 21}, &GroupBox2},
        {Kind::CheckBox, CheckBox1, "CheckBox1", "Active", {120, 16, 97, 17}, &GroupBox2},
        {Kind::Label, Label17, "Label17", "Pixels/arcsec", {128, 40, 64, 13}, &GroupBox2},
        {Kind::Label, Label8, "Label8", "Angle (screen)", {288, 16, 68, 13}, &GroupBox2},
        {Kind::ReadOnlyEdit, Edit12, "Edit12", "", {360, 16, 49, 21}, &GroupBox2},
        {Kind::Label, Label6, "Label6", "Sep (px)", {312, 40, 39, 13}, &GroupBox2},
        {Kind::ReadOnlyEdit, Edit11, "Edit11", "", {360, 40, 49, 21}, &GroupBox2},
        {Kind::Label, Label9, "Label9", "Primary Slope", {408, 16, 64, 13}, &GroupBox2},
        {Kind::ReadOnlyEdit, Edit13, "Edit13", "", {432, 16, 41, 21}, &GroupBox2},
        {Kind::Label, Label10, "Label10", "Secondary Slope", {408, 40, 81, 13}, &GroupBox2},
        {Kind::ReadOnlyEdit, Edit14, "Edit14", "", {432, 40, 41, 21}, &GroupBox2},
        {Kind::Label, Label11, "Label11", "Postion Angle", {456, 16, 97, 16}, &GroupBox2},
        {Kind::ReadOnlyEdit, Edit15, "Edit15", "", {560, 16, 73, 21}, &GroupBox2},
        {Kind::Label, Label14, "Label14", "Separation", {472, 40, 77, 16}, &GroupBox2},
        {Kind::ReadOnlyEdit, Edit16, "Edit16", "", {560, 40, 73, 21}, &GroupBox2},

        // ---- right of the panel and the results: the warnings, the outlier
        // option, the frame counts and the standard errors ----
        {Kind::Label, WarningLabel, "WarningLabel", "", {888, 8, 128, 340}},
        // Off by default: every accepted frame counts unless the user asks.
        {Kind::CheckBox,
         ClipCheckBox,
         "ClipCheckBox",
         "Reject outliers (3 sigma)",
         {888, 356, 128, 17}},
        {Kind::Group, GroupBox9, "GroupBox9", "Frames", {888, 380, 128, 117}},
        {Kind::Label, Label19, "Label19", "measured", {8, 20, 56, 13}, &GroupBox9},
        {Kind::ReadOnlyEdit,
         MeasuredFramesEdit,
         "MeasuredFramesEdit",
         "",
         {68, 16, 53, 21},
         &GroupBox9},
        {Kind::Label, Label20, "Label20", "accepted", {8, 44, 56, 13}, &GroupBox9},
        {Kind::ReadOnlyEdit,
         AcceptedFramesEdit,
         "AcceptedFramesEdit",
         "",
         {68, 40, 53, 21},
         &GroupBox9},
        {Kind::Label, Label21, "Label21", "clipped", {8, 68, 56, 13}, &GroupBox9},
        {Kind::ReadOnlyEdit,
         ClippedFramesEdit,
         "ClippedFramesEdit",
         "",
         {68, 64, 53, 21},
         &GroupBox9},
        // What the accepted frames are worth when neighbouring frames share
        // their errors: the standard errors count this many.
        {Kind::Label,
         EffectiveFramesLabel,
         "EffectiveFramesLabel",
         "effective",
         {8, 92, 56, 13},
         &GroupBox9},
        {Kind::ReadOnlyEdit,
         EffectiveFramesEdit,
         "EffectiveFramesEdit",
         "",
         {68, 88, 53, 21},
         &GroupBox9},
        // Each standard error on the row of its value.
        {Kind::Group, GroupBox8, "GroupBox8", "", {888, 504, 128, 97}},
        {Kind::ReadOnlyEdit,
         PositionAngleErrorEdit,
         "PositionAngleErrorEdit",
         "",
         {8, 16, 73, 21},
         &GroupBox8},
        {Kind::Label,
         PositionAngleUnitLabel,
         "PositionAngleUnitLabel",
         "deg",
         {86, 20, 34, 13},
         &GroupBox8},
        {Kind::ReadOnlyEdit,
         SeparationErrorEdit,
         "SeparationErrorEdit",
         "",
         {8, 40, 73, 21},
         &GroupBox8},
        {Kind::Label,
         SeparationUnitLabel,
         "SeparationUnitLabel",
         "arcsec",
         {86, 44, 34, 13},
         &GroupBox8},
        // The magnitude difference with its error, where the method measures
        // each star's light (PSF Fit); empty otherwise.
        {Kind::ReadOnlyEdit, DeltaMagEdit, "DeltaMagEdit", "", {8, 64, 73, 21}, &GroupBox8},
        {Kind::Label,
         DeltaMagUnitLabel,
         "DeltaMagUnitLabel",
         "delta m",
         {86, 68, 38, 13},
         &GroupBox8},

        // ---- directly on the client area, in front of the group boxes ----
        {Kind::Panel, Panel1, "Panel1", "", {240, 8, 640, 480}},
        {Kind::Transport, MediaPlayer1, "MediaPlayer1", "", {32, 152, 169, 30}},
        {Kind::Button, Button7, "Button7", "Reset", {144, 184, 57, 25}},
        {Kind::Button, Button10, "Button10", "Save Results", {120, 552, 97, 33}, nullptr, kFoot},
        // Below "Reset": both clicks at once, on the two brightest stars.
        {Kind::Button, FindPairButton, "FindPairButton", "Find pair", {144, 212, 57, 21}},
        {Kind::Edit, Edit19, "Edit19", "", {440, 568, 65, 21}},
        {Kind::Button, Button1, "Button1", "Step", {304, 608, 75, 25}},
        {Kind::Button, Button2, "Button2", "Clear", {384, 608, 75, 25}},
        {Kind::Button, Button5, "Button5", "Draw", {536, 616, 75, 25}},
    };
    for (const ControlRow& row : rows) {
        QWidget* parent = row.parent ? static_cast<QWidget*>(*row.parent) : client;
        const QString caption = QString::fromLatin1(row.caption);
        QWidget* w = nullptr;
        switch (row.kind) {
        case Kind::Label: {
            auto* l = new QLabel(caption, parent);
            l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            w = l;
            break;
        }
        case Kind::Edit:
        case Kind::ReadOnlyEdit: {
            auto* e = new QLineEdit(caption, parent);
            e->setReadOnly(row.kind == Kind::ReadOnlyEdit);
            e->setCursorPosition(0);
            w = e;
            break;
        }
        case Kind::Button:
            w = new QPushButton(caption, parent);
            break;
        case Kind::Group:
            w = new QGroupBox(caption, parent);
            break;
        case Kind::CheckBox:
            w = new QCheckBox(caption, parent);
            break;
        case Kind::SpinBox:
            w = new QSpinBox(parent);
            break;
        case Kind::DatePicker:
            w = new QDateTimeEdit(parent);
            break;
        case Kind::RadioGroup:
            w = new RadioGroup(QString::fromLatin1(row.name), caption, row.items, parent);
            break;
        case Kind::Slider:
            w = new QSlider(Qt::Horizontal, parent);
            break;
        case Kind::Panel:
            w = new PanelWidget(panel_, parent);
            break;
        case Kind::Transport:
            w = new TransportWidget(session_.player(), parent);
            break;
        }
        w->setObjectName(QString::fromLatin1(row.name));
        w->setGeometry(row.geometry.translated(0, row.shift == Shift::BelowMethods ? below
                                                  : row.shift == Shift::Foot       ? foot
                                                                                   : 0));
        row.slot(w);
    }
    // The left column's frame reaches past its moved foot.
    GroupBox1->resize(GroupBox1->width(), GroupBox1->height() + foot);
    columnGrowth_ = foot;

    DateTimePicker1->setTimeSpec(Qt::UTC);
    DateTimePicker1->setDisplayFormat(QStringLiteral("dd MM yyyy, HH mm"));
    DateTimePicker1->setCalendarPopup(true);
    DateTimePicker1->setButtonSymbols(QAbstractSpinBox::NoButtons);
    observation_ = QDateTime(QDate(2006, 1, 1), QTime(12, 0), Qt::UTC);
    DateTimePicker1->setDateTime(observation_);
    noTabStop(DateTimePicker1);
    RadioGroup3->setItemIndex(indexOfMethod(kDefaultMethod));
    // Only a frame larger than the panel can be fitted.
    CheckBox3->setEnabled(false);
    RadioGroup2->setItemIndex(0);
    for (QSpinBox* box : {StretchBlackEdit, StretchWhiteEdit}) {
        box->setRange(0, IntensityPlane::kWhiteLevel8);
        box->setKeyboardTracking(false);
        box->setEnabled(false);
    }
    StretchWhiteEdit->setValue(IntensityPlane::kWhiteLevel8);

    GroupBox5->setCursor(Qt::PointingHandCursor);
    TrackBar1->setRange(0, 100);
    TrackBar1->setValue(0);
    TrackBar1->setPageStep(5);
    TrackBar1->setSingleStep(1);
    TrackBar1->setTickInterval(2);
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    TrackBar1->setCursor(Qt::PointingHandCursor);

    WarningLabel->setWordWrap(true);
    // Against the bottom, next to the counts and the results they are about.
    WarningLabel->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    QPalette warningPalette = WarningLabel->palette();
    warningPalette.setColor(QPalette::WindowText, kWarningRed);
    WarningLabel->setPalette(warningPalette);

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
          static_cast<QWidget*>(ClipCheckBox),     static_cast<QWidget*>(FindPairButton)})
        noTabStop(w);
    for (QLineEdit* e :
         {Edit8, Edit9, Edit10, Edit11, Edit12, Edit13, Edit14, Edit15, Edit16, Edit17, Edit18,
          Edit19, MeasuredFramesEdit, AcceptedFramesEdit, ClippedFramesEdit, EffectiveFramesEdit,
          PositionAngleErrorEdit, SeparationErrorEdit, DeltaMagEdit})
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
