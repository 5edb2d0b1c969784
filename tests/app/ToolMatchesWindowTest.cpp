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
// saving, whose format the window reads from the system's locale).
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
    form->Edit5->setText("-45");
    form->Edit6->setText("30");
    form->Edit7->setText("");
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

} // namespace
