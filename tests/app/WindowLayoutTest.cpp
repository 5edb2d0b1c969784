// The main window as the user first sees it: every control where the layout
// puts it, with its caption and state, the menu, the status bar, the About box.
#include "WindowFixture.h"

#include "app/ErrorBox.h"
#include "app/PanelWidget.h"
#include "app/RadioGroup.h"
#include "app/TransportWidget.h"
#include "common/Error.h"

#include <QAbstractButton>
#include <QDateTimeEdit>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

using namespace corvane;
using corvane::testing::WindowFixture;

namespace {

enum State : unsigned { Plain = 0, Disabled = 1, Hidden = 2, ReadOnly = 4 };

struct ControlRow {
    const char* name;
    const char* parent;
    int x, y, w, h;
    const char* text; // caption or text at start; nullptr: not checked
    unsigned state;
};

const ControlRow kControls[] = {
    {"Label1", "GroupBox1", 40, 12, 56, 13, "Designation", Plain},
    {"Edit1", "GroupBox1", 104, 8, 113, 21, "(Star Designation)", Plain},
    {"Label2", "GroupBox1", 16, 36, 78, 13, "RA (HH MM SS)", Plain},
    {"Edit2", "GroupBox1", 104, 32, 33, 21, "HH", Plain},
    {"Edit3", "GroupBox1", 144, 32, 33, 21, "MM", Plain},
    {"Edit4", "GroupBox1", 184, 32, 33, 21, "SS", Plain},
    {"Label3", "GroupBox1", 8, 60, 89, 13, "Dec (+DD MM SS)", Plain},
    {"Edit5", "GroupBox1", 104, 56, 33, 21, "+00", Plain},
    {"Edit6", "GroupBox1", 144, 56, 33, 21, "00", Plain},
    {"Edit7", "GroupBox1", 184, 56, 33, 21, "00", Plain},
    {"Label12", "GroupBox1", 8, 88, 81, 13, "Observation date", Plain},
    {"Label13", "GroupBox1", 8, 104, 78, 13, "(dd mm yyyy UT)", Plain},
    {"DateTimePicker1", "GroupBox1", 96, 88, 113, 25, nullptr, Plain},
    {"Button13", "GroupBox1", 208, 88, 20, 12, "h+", Plain},
    {"Button14", "GroupBox1", 208, 100, 20, 12, "h-", Plain},
    {"Label15", "GroupBox1", 40, 124, 45, 13, "Epoch (J)", Plain},
    {"Edit17", "GroupBox1", 96, 120, 57, 21, "2006.001", ReadOnly},
    {"Label16", "GroupBox1", 152, 124, 13, 13, "(B)", Plain},
    {"Edit18", "GroupBox1", 168, 120, 57, 21, "2006.003", ReadOnly},
    {"Button11", "GroupBox1", 32, 184, 65, 25, "Start Frame", Disabled},
    {"StartFrameEdit", "GroupBox1", 96, 184, 41, 21, "", ReadOnly},
    {"Button12", "GroupBox1", 32, 208, 65, 25, "End Frame", Disabled},
    {"StopFrameEdit", "GroupBox1", 96, 208, 41, 21, "", ReadOnly},
    {"RadioGroup1", "GroupBox1", 24, 240, 97, 57, "Select Star", Disabled},
    {"Label4", "GroupBox1", 128, 248, 38, 13, "box size", Plain},
    {"Edit8", "GroupBox1", 128, 264, 41, 21, "12", ReadOnly},
    {"Button3", "GroupBox1", 168, 264, 17, 21, "-", Plain},
    {"Button4", "GroupBox1", 184, 264, 17, 21, "+", Plain},
    {"RadioGroup3", "GroupBox1", 24, 296, 121, 76, "Method", Plain},
    {"CheckBox2", "GroupBox1", 152, 312, 65, 17, "Zoom", Plain},
    {"RadioGroup2", "GroupBox1", 24, 371, 193, 57, "Orientation", Plain},
    {"GroupBox6", "GroupBox1", 24, 427, 193, 9, "", Plain},
    {"GroupBox3", "GroupBox1", 24, 435, 89, 49, "Automatic", Plain},
    {"Button6", "GroupBox3", 16, 16, 57, 25, "GO!", Disabled},
    {"GroupBox4", "GroupBox1", 120, 435, 97, 49, "Manual Step", Plain},
    {"Button15", "GroupBox4", 16, 16, 25, 25, "<-", Disabled},
    {"Button16", "GroupBox4", 56, 16, 25, 25, "+>", Disabled},
    {"Button9", "GroupBox1", 120, 491, 97, 25, "Calculate", Disabled},
    {"GroupBox7", "GroupBox1", 24, 515, 193, 9, "", Plain},
    {"Label18", "GroupBox1", 24, 531, 31, 13, "Notes:", Plain},
    {"NotesEdit", "GroupBox1", 60, 527, 157, 21, "", Plain},
    {"Button8", "GroupBox1", 24, 568, 25, 25, "Graph", Hidden},
    {"StretchBlackLabel", "GroupBox1", 24, 552, 30, 13, "Black", Plain},
    {"StretchBlackEdit", "GroupBox1", 56, 548, 57, 21, nullptr, Disabled},
    {"StretchWhiteLabel", "GroupBox1", 24, 576, 30, 13, "White", Plain},
    {"StretchWhiteEdit", "GroupBox1", 56, 572, 57, 21, nullptr, Disabled},
    {"GroupBox5", "ClientArea", 240, 488, 641, 41, "", Plain},
    {"Button17", "GroupBox5", 8, 8, 25, 17, "<", Disabled},
    {"TrackBar1", "GroupBox5", 40, 8, 553, 25, nullptr, Disabled},
    {"Button18", "GroupBox5", 600, 8, 25, 17, ">", Disabled},
    {"GroupBox2", "ClientArea", 240, 528, 641, 73, "", Plain},
    {"Label5", "GroupBox2", 24, 16, 32, 13, "Frame:", Plain},
    {"Edit9", "GroupBox2", 64, 16, 49, 21, "00", ReadOnly},
    {"Label7", "GroupBox2", 16, 40, 48, 13, "Time (ms):", Plain},
    {"Edit10", "GroupBox2", 64, 40, 49, 21, "0000", ReadOnly},
    {"CheckBox1", "GroupBox2", 120, 16, 97, 17, "Active", Plain},
    {"Label17", "GroupBox2", 128, 40, 64, 13, "Pixels/arcsec", Plain},
    {"Label8", "GroupBox2", 288, 16, 68, 13, "Angle (screen)", Plain},
    {"Edit12", "GroupBox2", 360, 16, 49, 21, "", ReadOnly},
    {"Label6", "GroupBox2", 312, 40, 39, 13, "Sep (px)", Plain},
    {"Edit11", "GroupBox2", 360, 40, 49, 21, "", ReadOnly},
    {"Label9", "GroupBox2", 408, 16, 64, 13, "Primary Slope", Hidden},
    {"Edit13", "GroupBox2", 432, 16, 41, 21, "", Hidden | ReadOnly},
    {"Label10", "GroupBox2", 408, 40, 81, 13, "Secondary Slope", Hidden},
    {"Edit14", "GroupBox2", 432, 40, 41, 21, "", Hidden | ReadOnly},
    {"Label11", "GroupBox2", 456, 16, 97, 16, "Postion Angle", Plain},
    {"Edit15", "GroupBox2", 560, 16, 73, 21, "", ReadOnly},
    {"Label14", "GroupBox2", 472, 40, 77, 16, "Separation", Plain},
    {"Edit16", "GroupBox2", 560, 40, 73, 21, "", ReadOnly},
    {"GroupBox1", "ClientArea", 0, 0, 233, 601, "", Plain},
    {"Panel1", "ClientArea", 240, 8, 640, 480, nullptr, Plain},
    {"MediaPlayer1", "ClientArea", 32, 152, 169, 30, nullptr, Disabled},
    {"Button7", "ClientArea", 144, 184, 57, 25, "Reset", Plain},
    {"Button10", "ClientArea", 120, 552, 97, 33, "Save Results", Disabled},
    {"Edit19", "ClientArea", 440, 568, 65, 21, "", Plain},
    {"Button1", "ClientArea", 304, 608, 75, 25, "Step", Hidden | Disabled},
    {"Button2", "ClientArea", 384, 608, 75, 25, "Clear", Hidden},
    {"Button5", "ClientArea", 536, 616, 75, 25, "Draw", Hidden},
    {"WarningLabel", "ClientArea", 888, 8, 128, 364, "", Plain},
    {"ClipCheckBox", "ClientArea", 888, 380, 128, 17, "Reject outliers (3 sigma)", Plain},
    {"GroupBox9", "ClientArea", 888, 404, 128, 117, "Frames", Plain},
    {"MeasuredFramesEdit", "GroupBox9", 68, 16, 53, 21, "", ReadOnly},
    {"AcceptedFramesEdit", "GroupBox9", 68, 40, 53, 21, "", ReadOnly},
    {"ClippedFramesEdit", "GroupBox9", 68, 64, 53, 21, "", ReadOnly},
    {"EffectiveFramesEdit", "GroupBox9", 68, 88, 53, 21, "", ReadOnly},
    {"GroupBox8", "ClientArea", 888, 528, 128, 73, "", Plain},
    {"PositionAngleErrorEdit", "GroupBox8", 8, 16, 73, 21, "", ReadOnly},
    {"PositionAngleUnitLabel", "GroupBox8", 86, 20, 34, 13, "deg", Plain},
    {"SeparationErrorEdit", "GroupBox8", 8, 40, 73, 21, "", ReadOnly},
    {"SeparationUnitLabel", "GroupBox8", 86, 44, 34, 13, "arcsec", Plain},
};

QString captionOf(QWidget* w) {
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title();
    return {};
}

class WindowLayout : public WindowFixture {};

TEST_F(WindowLayout, EveryControlHasItsPlaceCaptionAndState) {
    for (const ControlRow& row : kControls) {
        SCOPED_TRACE(row.name);
        QWidget* w = control(row.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget()->objectName().toStdString(), row.parent);
        EXPECT_EQ(w->geometry(), QRect(row.x, row.y, row.w, row.h));
        if (row.text) {
            EXPECT_EQ(captionOf(w).toStdString(), row.text);
        }
        EXPECT_EQ(!w->isEnabled(), (row.state & Disabled) != 0);
        EXPECT_EQ(w->isHidden(), (row.state & Hidden) != 0);
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            EXPECT_EQ(e->isReadOnly(), (row.state & ReadOnly) != 0);
        }
    }
}

TEST_F(WindowLayout, WindowIsCorvaneAt150By150AtLeastItsClassicSize) {
    EXPECT_EQ(form->windowTitle(), "Corvane");
    EXPECT_EQ(form->pos(), QPoint(150, 150));
    EXPECT_EQ(form->minimumSize(), form->size());
    EXPECT_GT(form->maximumSize().width(), form->width());
    // The client area below the menu is 1024 x 626; with the classic borders
    // the window is 1032 wide outside.
    EXPECT_EQ(form->width(), 1024);
    EXPECT_EQ(form->height() - form->menuBar()->height(), 626);
    EXPECT_EQ(form->outerWidth(), 1032);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    EXPECT_EQ(form->centralWidget()->mapTo(form.get(), QPoint(0, 0)),
              QPoint(0, form->menuBar()->height()));
    EXPECT_EQ(form->statusBar()->geometry().top() - form->menuBar()->height(), 607);
    EXPECT_EQ(form->statusBar()->height(), 19);
}

TEST_F(WindowLayout, RadioGroupsHaveTheirItemsAndSelections) {
    struct Row {
        const char* name;
        QStringList items;
        int index;
    };
    const Row rows[] = {
        {"RadioGroup1", {"Primary", "Secondary"}, -1},
        {"RadioGroup3", {"Weighted Average", "Peak Search", "PSF Fit"}, 1},
        {"RadioGroup2", {"Correct or Inverted (rotated 180)", "Upright reverted (flipped R/L)"}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto* g = control<RadioGroup>(row.name);
        ASSERT_NE(g, nullptr);
        ASSERT_EQ(g->count(), row.items.size());
        for (int i = 0; i < g->count(); ++i)
            EXPECT_EQ(g->itemText(i), row.items[i]);
        EXPECT_EQ(g->itemIndex(), row.index);
    }
}

TEST_F(WindowLayout, RadioGroupCanShowNoSelectionAndComeBack) {
    RadioGroup* g = form->RadioGroup3;
    g->setItemIndex(-1);
    EXPECT_EQ(g->itemIndex(), -1);
    g->setItemIndex(0);
    EXPECT_EQ(g->itemIndex(), 0);
    g->setItemIndex(7); // out of range: ignored
    EXPECT_EQ(g->itemIndex(), 0);
}

TEST_F(WindowLayout, TabStopsAreOffWhereListed) {
    const char* off[] = {
        "Button3",  "Button4",  "Button6",        "Button7",       "Button9",
        "Button10", "Button11", "Button12",       "Button13",      "Button14",
        "Button15", "Button16", "CheckBox1",      "CheckBox2",     "DateTimePicker1",
        "Edit8",    "Edit9",    "Edit10",         "Edit11",        "Edit12",
        "Edit13",   "Edit14",   "Edit15",         "Edit16",        "Edit17",
        "Edit18",   "Edit19",   "StartFrameEdit", "StopFrameEdit", "MediaPlayer1"};
    for (const char* name : off) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(control(name)->focusPolicy() & Qt::TabFocus);
    }
    for (const char* name : {"Edit1", "Edit5", "NotesEdit", "Button8"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(control(name)->focusPolicy() & Qt::TabFocus);
    }
}

TEST_F(WindowLayout, LooksOfTheResultAndRunControls) {
    EXPECT_TRUE(form->Button6->font().bold());
    EXPECT_EQ(form->Button6->font().pixelSize(), 13);
    EXPECT_EQ(form->Button6->palette().color(QPalette::Active, QPalette::ButtonText),
              QColor(0, 128, 0));
    // Disabled until a pair is selected, and then it must not look pressable.
    EXPECT_NE(form->Button6->palette().color(QPalette::Disabled, QPalette::ButtonText),
              QColor(0, 128, 0));
    for (QWidget* w :
         {static_cast<QWidget*>(form->Button15), static_cast<QWidget*>(form->Button16),
          static_cast<QWidget*>(form->Label11), static_cast<QWidget*>(form->Label14)}) {
        EXPECT_TRUE(w->font().bold()) << w->objectName().toStdString();
        EXPECT_EQ(w->font().pixelSize(), 13) << w->objectName().toStdString();
    }
    for (QWidget* w : {static_cast<QWidget*>(form->Button9), static_cast<QWidget*>(form->Button10)})
        EXPECT_TRUE(w->font().bold()) << w->objectName().toStdString();
    // The result fields stand out from the ordinary read-only boxes.
    EXPECT_NE(form->Edit15->palette().color(QPalette::Base),
              form->Edit11->palette().color(QPalette::Base));
    EXPECT_EQ(form->Edit16->palette().color(QPalette::Base),
              form->Edit15->palette().color(QPalette::Base));
    EXPECT_EQ(form->Panel1->cursor().shape(), Qt::CrossCursor);
    EXPECT_EQ(form->TrackBar1->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(WindowLayout, ControlsOverTheLeftColumnAreInFront) {
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    for (const char* name : {"MediaPlayer1", "Button7", "Button10", "Edit19"}) {
        SCOPED_TRACE(name);
        QWidget* w = control(name);
        QWidget* client = w->parentWidget();
        const QPoint inside = w->geometry().center();
        QWidget* top = client->childAt(inside);
        EXPECT_TRUE(top == w || w->isAncestorOf(top));
    }
}

TEST_F(WindowLayout, TrackBarRangeAndTicks) {
    QSlider* t = form->TrackBar1;
    EXPECT_EQ(t->minimum(), 0);
    EXPECT_EQ(t->maximum(), 100);
    EXPECT_EQ(t->value(), 0);
    EXPECT_EQ(t->pageStep(), 5);
    EXPECT_EQ(t->tickInterval(), 2);
    EXPECT_EQ(t->tickPosition(), QSlider::TicksBelow);
}

TEST_F(WindowLayout, DatePickerStartsOnNewYear2006AtNoon) {
    QDateTimeEdit* p = form->DateTimePicker1;
    EXPECT_EQ(p->displayFormat(), "dd MM yyyy, HH mm");
    EXPECT_TRUE(p->calendarPopup());
    EXPECT_EQ(p->dateTime(), QDateTime(QDate(2006, 1, 1), QTime(12, 0), Qt::UTC));
    EXPECT_EQ(p->text(), "01 01 2006, 12 00");
}

TEST_F(WindowLayout, MenuHoldsOpenAviSaveResultsCalibrationReportRunAndAbout) {
    QMenuBar* bar = form->menuBar();
    const QList<QAction*> top = bar->actions();
    ASSERT_EQ(top.size(), 4);
    EXPECT_EQ(top[0]->text(), "File");
    EXPECT_EQ(top[1]->text(), "View");
    EXPECT_EQ(top[2]->text(), "Help");
    EXPECT_EQ(top[3]->text(), "About");
    struct Item {
        const char* name;
        const char* caption;
        bool visible;
        bool enabled; // with no video open
    };
    const Item file[] = {{"OpenAVI1", "Open AVI", true, true},
                         {"NewDataFile1", "New Data File", false, true},
                         {"OpenDataFile1", "Open Data File", false, true},
                         {"SaveDataFile1", "Save Data File", false, true},
                         {"SaveResults1", "Save Results", true, false},
                         {"SaveCalibration1", "Save Calibration...", true, true},
                         {"UseCalibration1", "Use Calibration...", true, true},
                         {"StopCalibration1", "Stop Using Calibration", true, false},
                         {"Speckle1", "Speckle...", true, true},
                         {"Report1", "Report...", true, true},
                         {"", "", true, true},
                         {"Quit1", "Quit", true, true}};
    const QList<QAction*> items = form->File1->actions();
    ASSERT_EQ(items.size(), 12);
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(file[i].name);
        EXPECT_EQ(items[i]->objectName(), file[i].name);
        EXPECT_EQ(items[i]->text(), file[i].caption);
        EXPECT_EQ(items[i]->isVisible(), file[i].visible);
        if (file[i].visible) {
            EXPECT_EQ(items[i]->isEnabled(), file[i].enabled);
        }
    }
    ASSERT_EQ(form->View1->actions().size(), 1);
    EXPECT_EQ(form->View1->actions()[0]->text(), "Run");
    ASSERT_EQ(form->A1->actions().size(), 1);
    EXPECT_EQ(form->A1->actions()[0]->text(), "About");
}

TEST_F(WindowLayout, OpenDialogListsTheRecordingsFirstThenUpperAndLowerCaseAvi) {
    const QStringList filters = form->OpenDialog1Filter.split(";;");
    ASSERT_EQ(filters.size(), 2);
    EXPECT_EQ(filters[0], "Videos (*.avi *.ser *.fits *.fit *.fts)");
    EXPECT_TRUE(filters[1].startsWith("Windows Video"));
    EXPECT_TRUE(filters[1].contains("*.AVI"));
    EXPECT_TRUE(filters[1].contains("*.avi"));
}

TEST_F(WindowLayout, StatusBarHasThreeEmptyPanels) {
    const int widths[] = {400, 250, 50};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(form->StatusPanels[i]->width(), widths[i]);
        EXPECT_TRUE(form->StatusPanels[i]->text().isEmpty());
        EXPECT_EQ(form->StatusPanels[i]->parentWidget(), form->statusBar());
    }
    // The timing of the open video follows them, empty until one is open.
    EXPECT_TRUE(form->TimingPanel->text().isEmpty());
    EXPECT_EQ(form->TimingPanel->parentWidget(), form->statusBar());
}

TEST_F(WindowLayout, TimerIsAHalfSecondOneShotThatStartsOff) {
    EXPECT_EQ(form->Timer1.interval(), 500);
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_TRUE(form->Timer1.isSingleShot());
}

TEST_F(WindowLayout, TransportShowsSixButtonsDisabledWithoutVideo) {
    for (const char* name : {"btPlay", "btPause", "btStop", "btPrev", "btStep", "btBack"}) {
        SCOPED_TRACE(name);
        auto* b = form->MediaPlayer1->findChild<QAbstractButton*>(name);
        ASSERT_NE(b, nullptr);
        EXPECT_FALSE(b->isEnabled());
    }
}

TEST_F(WindowLayout, AboutBoxIsOneWindowShownAndHiddenAgain) {
    EXPECT_FALSE(about->isVisible());
    EXPECT_EQ(about->windowTitle(), "About");
    EXPECT_EQ(about->size(), QSize(298, 186));
    EXPECT_EQ(about->ProductName->text(), "Corvane");
    EXPECT_TRUE(about->ProductName->font().bold());
    EXPECT_EQ(about->Version->text(), "Version 1.0"); // as --version says
    EXPECT_EQ(about->OKButton->text(), "OK");
    EXPECT_TRUE(about->OKButton->isDefault());

    form->About1->trigger();
    EXPECT_TRUE(about->isVisible());
    EXPECT_FALSE(about->isModal());
    form->About1->trigger();
    EXPECT_TRUE(about->isVisible());
    int aboutBoxes = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<TAboutBox*>(w))
            ++aboutBoxes;
    EXPECT_EQ(aboutBoxes, 1);

    QTest::mouseClick(about->OKButton, Qt::LeftButton);
    EXPECT_FALSE(about->isVisible());
    form->About1->trigger();
    EXPECT_TRUE(about->isVisible());
    EXPECT_TRUE(errors.isEmpty());
}

// ---- the error box ----

struct ErrorTextRow {
    const char* name;
    const char* raised;
    const char* shown;
};

const ErrorTextRow kErrorTexts[] = {
    {"letter_gets_full_stop", "No MCI device open", "No MCI device open."},
    {"quote_keeps_text", "'x' is not a valid integer value", "'x' is not a valid integer value."},
    {"digit_gets_full_stop", "I/O error 5", "I/O error 5."},
    {"full_stop_not_doubled", "Disk full.", "Disk full."},
    {"closing_bracket_sorts_before_full_stop", "Cannot open (missing)", "Cannot open (missing)"},
    {"apostrophe_sorts_before_full_stop", "bad 'x'", "bad 'x'"},
    {"empty_text_stays_empty", "", ""},
};

class ErrorText : public ::testing::TestWithParam<ErrorTextRow> {};

TEST_P(ErrorText, FullStopWhenTheLastCharacterSortsAfterIt) {
    EXPECT_EQ(errorBoxText(std::string(GetParam().raised)).toStdString(), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Rows, ErrorText, ::testing::ValuesIn(kErrorTexts),
                         [](const auto& info) { return std::string(info.param.name); });

class ErrorHandling : public WindowFixture {};

TEST_F(ErrorHandling, ResetBeforeAVideoReportsNoDeviceAndChangesNothing) {
    const QString epochJ = form->Edit17->text();
    form->Edit11->setText("keep");
    click("Button7");
    ASSERT_EQ(errors, QStringList{"No MCI device open."});
    EXPECT_EQ(form->Edit11->text(), "keep");
    EXPECT_EQ(form->Edit17->text(), epochJ);
    EXPECT_EQ(form->RadioGroup1->itemIndex(), -1);
    EXPECT_FALSE(form->RadioGroup1->isEnabled());
    EXPECT_TRUE(form->state().FrameData.empty());
}

TEST_F(ErrorHandling, EveryKindOfExceptionEndsInTheErrorBox) {
    form->handle([] { throw Error("Disk full"); });
    form->handle([] { throw std::runtime_error("odd failure"); });
    form->handle([] { throw 42; });
    EXPECT_EQ(errors, (QStringList{"Disk full.", "odd failure.", "Unknown error."}));
}

TEST_F(ErrorHandling, ActiveWithoutVideoOnlyToggles) {
    QTest::mouseClick(form->CheckBox1, Qt::LeftButton);
    EXPECT_TRUE(form->CheckBox1->isChecked());
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_TRUE(form->state().FrameData.empty());
}

// Without a result there is nothing to save: the button and the menu item
// wait for one, and the handler itself refuses.
TEST_F(ErrorHandling, SaveWaitsForAResultAndRefusesWithoutOne) {
    EXPECT_FALSE(form->Button10->isEnabled());
    EXPECT_FALSE(form->SaveResults1->isEnabled());
    form->handle([this] { form->Button10Click(); });
    EXPECT_TRUE(confirmed.isEmpty());
    EXPECT_EQ(errors, QStringList{"There is no result to save: measure the pair with GO! first."});
    EXPECT_FALSE(QFile::exists(form->resultsFilePath()));
}

} // namespace
