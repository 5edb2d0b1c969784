// The observation date and its epochs, and saving the results line, through
// the window's controls.
#include "WindowFixture.h"

#include "results/ResultsLine.h"
#include "views/RunPlots.h"

#include <QChart>
#include <QChartView>
#include <QDateTimeEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScatterSeries>
#include <QStatusBar>

using namespace corvane;
using corvane::testing::WindowFixture;

namespace {

class EpochWindow : public WindowFixture {
protected:
    QDateTime utc(int y, int mo, int d, int h, int mi) const {
        return QDateTime(QDate(y, mo, d), QTime(h, mi), Qt::UTC);
    }
};

TEST_F(EpochWindow, StartUpShowsTheEpochsOfNewYear2006AtNoon) {
    EXPECT_EQ(form->Edit17->text(), "2006.001");
    EXPECT_EQ(form->Edit18->text(), "2006.003");
}

struct HourStep {
    const char* name;
    QDateTime from;
    const char* button;
    QDateTime to;
    const char* julian;
};

const HourStep kHourSteps[] = {
    {"back_across_new_year", QDateTime(QDate(2006, 1, 1), QTime(0, 0), Qt::UTC), "Button14",
     QDateTime(QDate(2005, 12, 31), QTime(23, 0), Qt::UTC), "2006"},
    {"forward_across_midnight", QDateTime(QDate(2006, 1, 1), QTime(23, 30), Qt::UTC), "Button13",
     QDateTime(QDate(2006, 1, 2), QTime(0, 30), Qt::UTC), nullptr},
    {"forward_across_february", QDateTime(QDate(2008, 2, 29), QTime(23, 0), Qt::UTC), "Button13",
     QDateTime(QDate(2008, 3, 1), QTime(0, 0), Qt::UTC), nullptr},
    {"back_across_month_start", QDateTime(QDate(2010, 5, 1), QTime(0, 15), Qt::UTC), "Button14",
     QDateTime(QDate(2010, 4, 30), QTime(23, 15), Qt::UTC), nullptr},
    {"noon_of_j2000", QDateTime(QDate(2000, 1, 1), QTime(11, 0), Qt::UTC), "Button13",
     QDateTime(QDate(2000, 1, 1), QTime(12, 0), Qt::UTC), "2000"},
};

class HourButtons : public EpochWindow, public ::testing::WithParamInterface<HourStep> {};

TEST_P(HourButtons, MoveTheWholeDateTimeByOneHour) {
    const HourStep& s = GetParam();
    form->setObservationDateTime(s.from);
    click(s.button);
    EXPECT_EQ(form->observationDateTime(), s.to);
    EXPECT_EQ(form->DateTimePicker1->dateTime(), s.to);
    if (s.julian) {
        EXPECT_EQ(form->Edit17->text(), s.julian);
    }
    EXPECT_TRUE(errors.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Steps, HourButtons, ::testing::ValuesIn(kHourSteps),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EpochWindow, PickingADateKeepsTheTimeOfDay) {
    form->setObservationDateTime(utc(2006, 1, 1, 21, 0));
    // What the calendar does when the user picks 5 May 2010.
    form->DateTimePicker1->setDateTime(utc(2010, 5, 5, 8, 15));
    EXPECT_EQ(form->observationDateTime(), utc(2010, 5, 5, 21, 0));
    EXPECT_EQ(form->DateTimePicker1->dateTime(), utc(2010, 5, 5, 21, 0));
    EXPECT_EQ(form->Edit17->text(), "2010.342");
}

TEST_F(EpochWindow, CommaSeparatorShowsInTheEpochs) {
    form->setDecimalSeparator(',');
    form->setObservationDateTime(utc(2006, 1, 1, 12, 0));
    click("Button13");
    click("Button14");
    EXPECT_EQ(form->Edit17->text(), "2006,001");
    EXPECT_EQ(form->Edit18->text(), "2006,003");
}

class ResultsWindow : public WindowFixture {
protected:
    // A result on screen without a video: 40 accepted rows of a pair drifting
    // 2 pixels a frame, reduced by "Calculate".
    void SetUp() override {
        WindowFixture::SetUp();
        FrameTable& rows = form->state().FrameData;
        rows.assign(41, FrameRow{});
        for (int i = 1; i <= 40; ++i) {
            FrameRow& r = rows[static_cast<std::size_t>(i)];
            r.PrimaryX = 100.0f + 2.0f * static_cast<float>(i) + (i % 3 == 0 ? 0.1f : 0.0f);
            r.PrimaryY = 100.0f + (i % 2 == 0 ? 0.1f : 0.0f);
            r.SecondaryX = r.PrimaryX + 10.0f;
            r.SecondaryY = r.PrimaryY - 5.0f - (i % 4 == 0 ? 0.1f : 0.0f);
            computeSeparationAndAngle(r);
            r.TimeUs = 100000 * i;
            r.FrameNo = i;
            r.Valid = true;
        }
        typeDec("+00");
        form->handle([this] { form->Button9Click(); });
        ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
        ASSERT_FALSE(form->Edit16->text().isEmpty());
    }
    QString resultFields() const {
        return form->Edit16->text() + "\t" + form->Edit15->text() + "\t40\t";
    }
    QStringList fileLines() const {
        QFile f(form->resultsFilePath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QString all = QString::fromUtf8(f.readAll());
        EXPECT_TRUE(all.endsWith("\r\n"));
        all.chop(2);
        return all.split("\r\n");
    }
};

TEST_F(ResultsWindow, ConfirmedSaveAppendsTheLineShown) {
    form->NotesEdit->setText("seeing\tpoor, wind");
    click("Button10");
    ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    ASSERT_EQ(confirmed.size(), 1);
    const QString expected = QString::fromStdString(recordDateToday()) +
                             "\t(Star Designation)\tHH MM SS\t+00 00 00\t2006.001\t2006.003\t" +
                             resultFields() + "seeing poor, wind";
    EXPECT_EQ(confirmed[0],
              expected + "\n\nTabs and line breaks in the notes become spaces in results.txt.");
    const QStringList lines = fileLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "Corvane Ouput File");
    EXPECT_EQ(lines[1], "RecordDate\tdesignation\tRA\tDEC\tEpoch(J)\tEpoch(B)\tSep(rho)\tPA(theta)"
                        "\t#frames\tNotes");
    EXPECT_EQ(lines[2], expected);
    EXPECT_EQ(form->statusBar()->currentMessage(),
              "Results saved to " + form->resultsFilePath() + " and " +
                  QFileInfo(form->resultsFilePath()).dir().filePath("results.csv"));
    // The designation and the RA still read as they did before anything was typed.
    EXPECT_EQ(placeholderQuestions.size(), 1);

    form->SaveResults1->trigger(); // the menu item does the same
    EXPECT_EQ(fileLines().size(), 4);

    // results.csv beside it: its header and one row per save.
    QFile csv(QFileInfo(form->resultsFilePath()).dir().filePath("results.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QStringList rows = QString::fromUtf8(csv.readAll()).split("\r\n");
    ASSERT_EQ(rows.size(), 4); // header, two rows, and nothing after the last line end
    EXPECT_TRUE(rows[1].contains(",\"seeing\tpoor, wind\",")) << rows[1].toStdString();
    // ... and the picker's Julian date (1 January 2006, 12:00), the
    // orientation and the frames measured.
    // Rows typed in without a video leave the artificial-star test's empty.
    EXPECT_TRUE(
        rows[1].endsWith(",40,40,0,Peak Search,,0.1,4,drift,,,,,2453737,correct,1,40,40,,,,,,no"))
        << rows[1].toStdString();
}

TEST_F(ResultsWindow, PlaceholdersAreSavedOnlyWhenTheUserSaysSo) {
    placeholderAnswer = false;
    click("Button10");
    EXPECT_EQ(placeholderQuestions.size(), 1);
    EXPECT_TRUE(confirmed.isEmpty());
    EXPECT_FALSE(QFile::exists(form->resultsFilePath()));
}

TEST_F(ResultsWindow, ReportOfTheSavesAndTheRunFromTheMenus) {
    click("Button10");
    const QString csv = QFileInfo(form->resultsFilePath()).dir().filePath("results.csv");
    form->chooseReportInputs = [csv] { return QStringList{csv}; };
    form->chooseReportPage = [this] { return path("night.html"); };
    form->chooseReportMethodCode = [] { return std::optional<QString>("Ca"); };
    form->Report1->trigger();
    ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    for (const char* written : {"night.html", "night.csv", "night.md", "night.wds.txt"})
        EXPECT_TRUE(QFile::exists(path(written))) << written;
    EXPECT_EQ(form->statusBar()->currentMessage(),
              "Report of 1 pairs written to " + path("night.html"));

    form->Run1->trigger();
    ASSERT_NE(form->RunWindow1, nullptr);
    EXPECT_TRUE(form->RunWindow1->isVisible());
    // The 40 accepted frames on screen, none rejected.
    const QList<QAbstractSeries*> sep = form->RunWindow1->Plots->SeparationChart->chart()->series();
    ASSERT_EQ(sep.size(), 2);
    EXPECT_EQ(qobject_cast<QScatterSeries*>(sep[0])->count(), 40);
    EXPECT_EQ(qobject_cast<QScatterSeries*>(sep[1])->count(), 0);
}

TEST_F(ResultsWindow, CancelWritesNothing) {
    confirmAnswer = false;
    form->SaveResults1->trigger();
    EXPECT_EQ(confirmed.size(), 1);
    EXPECT_FALSE(QFile::exists(form->resultsFilePath()));
}

TEST_F(ResultsWindow, UnwritableFolderIsReportedAndNothingHalfWritten) {
    form->setResultsDirectory(path("no-such-folder"));
    click("Button10");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_FALSE(QFile::exists(form->resultsFilePath()));
}

TEST_F(ResultsWindow, FallbackShortDateWhenTheSystemHasNone) {
    const QByteArray locale = qgetenv("LC_ALL");
    qputenv("LC_ALL", "C");
    confirmAnswer = false;
    click("Button10");
    const QDate d = QDate::currentDate();
    EXPECT_TRUE(confirmed[0].startsWith(
        QString("%1/%2/%3\t").arg(d.month()).arg(d.day()).arg(d.year() % 100, 2, 10, QChar('0'))));
    qputenv("LC_ALL", locale);
}

} // namespace
