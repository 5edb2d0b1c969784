// A smoke test of the two front ends: the window and corvane-measure, given
// the same video, clicks, range and boxes, show the same texts and save the
// same results line. Both go through one measuring session, so one case with
// every option changed from its default is enough to catch a front end that
// passes a text or a choice on wrongly.
#include "WindowFixture.h"
#include "support/CleanDrift.h"
#include "support/ToolSupport.h"

#include "app/PanelWidget.h"
#include "app/RadioGroup.h"
#include "measure/FrameTable.h"

#include <cmath>

using namespace corvane;
using corvane::testing::WindowFixture;

namespace {

std::string xy(const sim::Point& p) {
    return std::to_string(std::lround(p.x)) + "," + std::to_string(std::lround(p.y));
}

QPoint pixelOf(const sim::Point& p) {
    return QPoint(static_cast<int>(std::lround(p.x)), static_cast<int>(std::lround(p.y)));
}

// The last line of a results file without its first field (the date of
// saving).
std::string lastLineAfterDate(std::string body) {
    if (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0)
        body.resize(body.size() - 2);
    const std::size_t start = body.rfind("\r\n");
    const std::string line = start == std::string::npos ? body : body.substr(start + 2);
    return line.substr(line.find('\t'));
}

using ToolMatchesWindow = WindowFixture;

TEST_F(ToolMatchesWindow, WeightedMirroredRangeGivesTheSameTextsAndResultsLine) {
    constexpr int kStart = 10, kStop = 100, kPrimaryFrame = 12;
    sim::DriftParams p = test::cleanDrift(7);
    p.positionAngleDeg = 150.0;
    p.declinationDeg = 45.0;
    p.rotationDeg = 20.0;
    const std::string video = path("pair.avi").toStdString();
    const sim::Truth truth = sim::writeDriftVideo(video, p);
    ASSERT_TRUE(truth.staysInFrame);
    const sim::Point primaryAt = truth.frames[kPrimaryFrame].primary;
    const sim::Point secondaryAt = truth.frames[kStart].secondary;

    openAndSettle(path("pair.avi"));
    form->RadioGroup3->setItemIndex(0); // "Weighted Average"
    form->RadioGroup2->setItemIndex(1); // "Upright reverted"
    typeDec("-45", "30", "");
    form->Edit1->setText("STF 2272");
    form->Edit2->setText("18");
    form->Edit3->setText("05");
    form->Edit4->setText("27.3");
    form->NotesEdit->setText("seeing 3/5");
    form->TrackBar1->setValue(kStart);
    click("Button11"); // "Start Frame"
    form->TrackBar1->setValue(kStop);
    click("Button12"); // "End Frame"
    form->TrackBar1->setValue(kPrimaryFrame);
    QTest::mouseClick(form->Panel1, Qt::LeftButton, Qt::NoModifier, pixelOf(primaryAt));
    QTest::mouseClick(form->Panel1, Qt::LeftButton, Qt::NoModifier, pixelOf(secondaryAt));
    click("Button6"); // "GO!"
    ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    ASSERT_GE(CountValidRows(form->state().FrameData), MinValidRows);
    click("Button10"); // "Save Results", confirmed
    ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();

    const test::TempDir dir;
    const std::string results = dir.file("results.txt");
    const test::ToolRun r = test::runTool({video,
                                           "--primary",
                                           xy(primaryAt),
                                           "--secondary",
                                           xy(secondaryAt),
                                           "--primary-frame",
                                           std::to_string(kPrimaryFrame),
                                           "--start",
                                           std::to_string(kStart),
                                           "--stop",
                                           std::to_string(kStop),
                                           "--method",
                                           "weighted",
                                           "--orientation",
                                           "mirrored",
                                           "--dec",
                                           "-45 30 ",
                                           "--save",
                                           "--results",
                                           results,
                                           "--designation",
                                           "STF 2272",
                                           "--ra",
                                           "18 05 27.3",
                                           "--notes",
                                           "seeing 3/5"},
                                          dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto m = test::textMap(r.out);
    const std::pair<const char*, QLineEdit*> shown[] = {
        {"sep px", form->Edit11},      {"screen angle", form->Edit12},
        {"drift angle", form->Edit13}, {"position angle", form->Edit15},
        {"separation", form->Edit16},  {"pixel scale", form->Edit19},
        {"epoch J", form->Edit17},     {"epoch B", form->Edit18},
    };
    for (const auto& [key, box] : shown)
        EXPECT_EQ(m.at(key), box->text().toStdString()) << key;
    EXPECT_EQ(m.at("valid frames"), std::to_string(CountValidRows(form->state().FrameData)));

    const std::string windowFile = test::readFile(form->resultsFilePath().toStdString());
    ASSERT_FALSE(windowFile.empty());
    EXPECT_EQ(lastLineAfterDate(test::readFile(results)), lastLineAfterDate(windowFile));
}

// The same inputs typed into the window and given to corvane-measure: both
// refuse with the same words, or both save the same line, date included.
struct SameInputs {
    const char* name;
    const char* decBoxes[3]; // as typed into the Dec boxes
    const char* decOption;   // --dec
    int start, stop;
    const char* refusal;  // held by both messages, or nullptr: both save
    const char* savedDec; // the DEC field of the saved line
};

class ToolAndWindow : public WindowFixture, public ::testing::WithParamInterface<SameInputs> {};

TEST_P(ToolAndWindow, RefuseAlikeOrSaveTheSameLine) {
    const SameInputs& in = GetParam();
    const sim::DriftParams p = test::cleanDrift(9);
    const std::string video = path("pair.avi").toStdString();
    const sim::Truth truth = sim::writeDriftVideo(video, p);
    const sim::Point primary = truth.frames[in.start].primary;
    const sim::Point secondary = truth.frames[in.start].secondary;

    openAndSettle(path("pair.avi"));
    typeDec(in.decBoxes[0], in.decBoxes[1], in.decBoxes[2]);
    form->Edit1->setText("STF 1");
    form->Edit2->setText("01");
    form->Edit3->setText("02");
    form->Edit4->setText("03");
    form->StartFrameEdit->setText(QString::number(in.start));
    form->StopFrameEdit->setText(QString::number(in.stop));
    form->TrackBar1->setValue(in.start);
    QTest::mouseClick(form->Panel1, Qt::LeftButton, Qt::NoModifier, pixelOf(primary));
    QTest::mouseClick(form->Panel1, Qt::LeftButton, Qt::NoModifier, pixelOf(secondary));
    click("Button6");
    if (!in.refusal) {
        ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
        click("Button10");
    }

    const test::TempDir dir;
    const std::string results = dir.file("results.txt");
    const test::ToolRun r = test::runTool(
        {video, "--primary", xy(primary), "--secondary", xy(secondary), "--start",
         std::to_string(in.start), "--stop", std::to_string(in.stop), "--dec", in.decOption,
         "--save", "--results", results, "--designation", "STF 1", "--ra", "01 02 03"},
        dir);
    if (in.refusal) {
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].contains(in.refusal)) << errors[0].toStdString();
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(in.refusal), std::string::npos) << r.err;
        return;
    }
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string line = test::readFile(results);
    EXPECT_EQ(line, test::readFile(form->resultsFilePath().toStdString()));
    EXPECT_NE(line.find(std::string("\t") + in.savedDec + "\t"), std::string::npos) << line;
}

const SameInputs kSameInputs[] = {
    {"DecimalDegrees", {"+30.5", "00", ""}, "+30.5", 0, 100, nullptr, "+30 30 00"},
    {"DecWithColons", {"-30", "7", "5"}, "-30:07:05", 0, 100, nullptr, "-30 07 05"},
    {"DecMinutesSeventyFive",
     {"+30", "75", "00"},
     "+30 75",
     0,
     100,
     "75 is not 0 to under 60 minutes",
     nullptr},
    {"DegreesBeyondThePole",
     {"+95", "00", "00"},
     "+95",
     0,
     100,
     "+95 is not -90 to +90 degrees",
     nullptr},
    {"EndAtTheStart", {"+30", "00", "00"}, "+30", 40, 40, "nothing to measure", nullptr},
};

INSTANTIATE_TEST_SUITE_P(Parity, ToolAndWindow, ::testing::ValuesIn(kSameInputs),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
