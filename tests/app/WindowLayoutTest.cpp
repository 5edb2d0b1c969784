// The main window as the user first sees it: every control with its caption
// and state, all of them inside the window and clear of each other at any
// size, tabbing in reading order, the menu, the status bar, the About box.
#include "WindowFixture.h"

#include "app/ErrorBox.h"
#include "app/PanelWidget.h"
#include "app/RadioGroup.h"
#include "app/TransportWidget.h"
#include "common/Error.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTimeEdit>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

#include <tuple>

using namespace corvane;
using corvane::testing::WindowFixture;

namespace {

enum State : unsigned { Plain = 0, Disabled = 1, Hidden = 2, ReadOnly = 4 };

struct ControlRow {
    const char* name;
    const char* text; // caption or text at start; nullptr: not checked
    unsigned state;
};

const ControlRow kControls[] = {
    {"Label1", "Designation", Plain},
    {"Edit1", "(Star Designation)", Plain},
    {"Label2", "RA (HH MM SS)", Plain},
    {"Edit2", "HH", Plain},
    {"Edit3", "MM", Plain},
    {"Edit4", "SS", Plain},
    {"Label3", "Dec (+DD MM SS)", Plain},
    {"Edit5", "+00", Plain},
    {"Edit6", "00", Plain},
    {"Edit7", "00", Plain},
    {"Label12", "Observation date", Plain},
    {"Label13", "(dd mm yyyy UT)", Plain},
    {"DateTimePicker1", nullptr, Plain},
    {"Button13", "h+", Plain},
    {"Button14", "h-", Plain},
    {"Label15", "Epoch (J)", Plain},
    {"Edit17", "2006.001", ReadOnly},
    {"Label16", "(B)", Plain},
    {"Edit18", "2006.003", ReadOnly},
    {"Button11", "Start Frame", Disabled},
    {"StartFrameEdit", "", ReadOnly},
    {"Button12", "End Frame", Disabled},
    {"StopFrameEdit", "", ReadOnly},
    {"RadioGroup1", "Select Star", Disabled},
    {"Label4", "box size", Plain},
    {"Edit8", "12", ReadOnly},
    {"Button3", "-", Plain},
    {"Button4", "+", Plain},
    {"RadioGroup3", "Method", Plain},
    {"CheckBox2", "Zoom", Plain},
    {"RadioGroup2", "Orientation", Plain},
    {"GroupBox6", "", Plain},
    {"GroupBox3", "Automatic", Plain},
    {"Button6", "GO!", Disabled},
    {"GroupBox4", "Manual Step", Plain},
    {"Button15", "<-", Disabled},
    {"Button16", "+>", Disabled},
    {"Button9", "Calculate", Disabled},
    {"GroupBox7", "", Plain},
    {"Label18", "Notes:", Plain},
    {"NotesEdit", "", Plain},
    {"Button8", "Graph", Hidden},
    {"StretchBlackLabel", "Black", Plain},
    {"StretchBlackEdit", nullptr, Disabled},
    {"StretchWhiteLabel", "White", Plain},
    {"StretchWhiteEdit", nullptr, Disabled},
    {"CheckBox3", "Fit", Disabled},
    {"FindPairButton", "Find pair", Disabled},
    {"GroupBox5", "", Plain},
    {"Button17", "<", Disabled},
    {"TrackBar1", nullptr, Disabled},
    {"Button18", ">", Disabled},
    {"GroupBox2", "", Plain},
    {"Label5", "Frame:", Plain},
    {"Edit9", "00", ReadOnly},
    {"Label7", "Time (ms):", Plain},
    {"Edit10", "0000", ReadOnly},
    {"CheckBox1", "Active", Plain},
    {"Label17", "Pixels/arcsec", Plain},
    {"Label8", "Angle (screen)", Plain},
    {"Edit12", "", ReadOnly},
    {"Label6", "Sep (px)", Plain},
    {"Edit11", "", ReadOnly},
    {"Label9", "Primary Slope", Hidden},
    {"Edit13", "", Hidden | ReadOnly},
    {"Label10", "Secondary Slope", Hidden},
    {"Edit14", "", Hidden | ReadOnly},
    {"Label11", "Postion Angle", Plain},
    {"Edit15", "", ReadOnly},
    {"Label14", "Separation", Plain},
    {"Edit16", "", ReadOnly},
    {"GroupBox1", "", Plain},
    {"Panel1", nullptr, Plain},
    {"MediaPlayer1", nullptr, Disabled},
    {"Button7", "Reset", Plain},
    {"Button10", "Save Results", Disabled},
    {"Edit19", "", Plain},
    {"Button1", "Step", Hidden | Disabled},
    {"Button2", "Clear", Hidden},
    {"Button5", "Draw", Hidden},
    {"WarningLabel", "", Plain},
    {"ClipCheckBox", "Reject outliers (3 sigma)", Plain},
    {"GroupBox9", "Frames", Plain},
    {"Label19", "measured", Plain},
    {"Label20", "accepted", Plain},
    {"Label21", "clipped", Plain},
    {"EffectiveFramesLabel", "effective", Plain},
    {"MeasuredFramesEdit", "", ReadOnly},
    {"AcceptedFramesEdit", "", ReadOnly},
    {"ClippedFramesEdit", "", ReadOnly},
    {"EffectiveFramesEdit", "", ReadOnly},
    {"GroupBox8", "", Plain},
    {"PositionAngleErrorEdit", "", ReadOnly},
    {"PositionAngleUnitLabel", "deg", Plain},
    {"SeparationErrorEdit", "", ReadOnly},
    {"SeparationUnitLabel", "arcsec", Plain},
    {"DeltaMagEdit", "", ReadOnly},
    {"DeltaMagUnitLabel", "delta m", Plain},
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

// A group box is a frame around its controls; a radio group, the transport,
// the date picker and the spin boxes are one control each with their parts.
bool isFrame(const QWidget* w) {
    return qobject_cast<const QGroupBox*>(w) && !qobject_cast<const RadioGroup*>(w);
}

QRect placeIn(QWidget* client, QWidget* w) {
    return QRect(w->mapTo(client, QPoint(0, 0)), w->size());
}

// The visible controls below `w`, each checked to lie inside its parent.
void visibleControls(QWidget* w, QList<QWidget*>& out) {
    for (QWidget* c : w->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (c->isHidden())
            continue;
        EXPECT_TRUE(w->rect().contains(c->geometry()))
            << c->objectName().toStdString() << " outside " << w->objectName().toStdString();
        if (isFrame(c))
            visibleControls(c, out);
        else
            out << c;
    }
}

// The control a focused part belongs to (a radio button's group, a spin
// box's text field's box).
QWidget* controlOf(QWidget* w) {
    while (!isFrame(w->parentWidget()) && w->parentWidget()->objectName() != "ClientArea")
        w = w->parentWidget();
    return w;
}

class WindowLayout : public WindowFixture {};

TEST_F(WindowLayout, EveryControlHasItsCaptionAndState) {
    for (const ControlRow& row : kControls) {
        SCOPED_TRACE(row.name);
        QWidget* w = control(row.name);
        ASSERT_NE(w, nullptr);
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

// At the classic size and larger, every visible control lies inside its frame
// and the window's client area, shows its whole caption, and covers no other
// control. Neighbours of the classic layout share their one-pixel border line,
// so only an overlap wider than that counts.
TEST_F(WindowLayout, ControlsStayInsideAndApartAtAnySize) {
    const QSize classic = form->minimumSize();
    for (const QSize& size : {classic, classic + QSize(400, 300)}) {
        SCOPED_TRACE(::testing::Message() << size.width() << " x " << size.height());
        form->resize(size);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        QWidget* client = form->centralWidget();
        EXPECT_EQ(client->geometry().bottom() + 1, form->statusBar()->geometry().top());
        QList<QWidget*> controls;
        visibleControls(client, controls);
        ASSERT_GT(controls.size(), 60);
        for (int i = 0; i < controls.size(); ++i) {
            QWidget* w = controls[i];
            const std::string name = w->objectName().toStdString();
            EXPECT_TRUE(qobject_cast<QLineEdit*>(w) ||
                        w->fontMetrics().horizontalAdvance(captionOf(w)) <= w->width())
                << name << " cuts its caption";
            for (int j = i + 1; j < controls.size(); ++j) {
                const QRect both = placeIn(client, w).intersected(placeIn(client, controls[j]));
                EXPECT_TRUE(both.width() <= 1 || both.height() <= 1)
                    << name << " covers " << controls[j]->objectName().toStdString();
            }
        }
        form->hide();
    }
    // A larger window gives the video panel the room.
    EXPECT_EQ(form->Panel1->size(), QSize(640, 480) + QSize(400, 300));
}

// Tab walks the window in reading order: the column left of the panel, the
// one under it, the one right of it, each from top to bottom and left to right;
// with every control enabled, as with a video open.
TEST_F(WindowLayout, TabVisitsTheControlsInReadingOrder) {
    for (QWidget* w : form->centralWidget()->findChildren<QWidget*>())
        w->setEnabled(true);
    form->show();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QWidget* client = form->centralWidget();
    const auto place = [&](QWidget* w) {
        const QRect r = placeIn(client, w);
        const int column = r.center().x() < form->Panel1->x()                  ? 0
                           : r.center().x() > form->Panel1->geometry().right() ? 2
                                                                               : 1;
        return std::make_tuple(column, r.top(), r.left());
    };
    form->Edit1->setFocus(Qt::TabFocusReason);
    QList<QWidget*> visited{form->Edit1};
    for (int k = 0; k < 100; ++k) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* c = controlOf(QApplication::focusWidget());
        if (c == form->Edit1)
            break;
        if (c != visited.last())
            visited << c;
    }
    ASSERT_GE(visited.size(), 10);
    for (int i = 1; i < visited.size(); ++i)
        EXPECT_LT(place(visited[i - 1]), place(visited[i]))
            << visited[i]->objectName().toStdString() << " after "
            << visited[i - 1]->objectName().toStdString();
}

TEST_F(WindowLayout, WindowIsCorvaneAt150By150AtLeastItsClassicSize) {
    EXPECT_EQ(form->windowTitle(), "Corvane");
    EXPECT_EQ(form->pos(), QPoint(150, 150));
    EXPECT_EQ(form->minimumSize(), form->size());
    EXPECT_GT(form->maximumSize().width(), form->width());
    // The client area below the menu is 1024 x 626 and a row for the fourth
    // method's button; with the classic borders the window is 1032 wide
    // outside.
    EXPECT_EQ(form->width(), 1024);
    EXPECT_EQ(form->height() - form->menuBar()->height(), 626 + 19);
    EXPECT_EQ(form->outerWidth(), 1032);
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
        {"RadioGroup3", {"Weighted Average", "Peak Search", "PSF Fit", "Template Fit"}, 1},
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
