// corvane-measure and the window, given the same video and the same clicks,
// show the same texts: the mean separation and screen angle, the position
// angle, the separation, the pixel scale and the epochs, and save the same
// results line.
#include "WindowFixture.h"

#include "app/PanelWidget.h"
#include "app/RadioGroup.h"
#include "measure/FrameTable.h"
#include "sim/DriftSim.h"

#include <QFile>

#include <cmath>
#include <fcntl.h>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#ifndef CORVANE_MEASURE_TOOL
#error "CORVANE_MEASURE_TOOL must name the corvane-measure executable"
#endif

using namespace corvane;
using corvane::testing::WindowFixture;

namespace {

sim::DriftParams drift(uint64_t seed) {
    sim::DriftParams p;
    p.frames = 120;
    p.fps = 10.0;
    p.separationArcsec = 12.0;
    p.positionAngleDeg = 150.0;
    p.declinationDeg = 45.0;
    p.scalePxPerArcsec = 1.5;
    p.rotationDeg = 20.0;
    p.seeingFwhmPx = 3.0;
    p.primaryBrightness = 230.0;
    p.secondaryBrightness = 150.0;
    p.jitterPx = 0.2;
    p.sky = 0.0;
    p.noiseSigma = 1.0;
    p.seed = seed;
    return p;
}

struct Case {
    const char* name;
    int method;      // RadioGroup3: 0 "Weighted Average", 1 "Peak Search"
    int orientation; // RadioGroup2: 0 correct, 1 mirrored
    const char* dec[3];
    int start;
    int stop; // -1: the video's length
    int primaryFrame;
};

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readAll(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

ToolRun runTool(std::vector<std::string> args, const std::string& dir) {
    args.insert(args.begin(), CORVANE_MEASURE_TOOL);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string outPath = dir + "/tool-stdout";
    const std::string errPath = dir + "/tool-stderr";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0)
            ::_exit(126);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ToolRun r;
    int wstatus = 0;
    if (pid > 0 && ::waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus))
        r.status = WEXITSTATUS(wstatus);
    r.out = readAll(outPath);
    r.err = readAll(errPath);
    return r;
}

std::map<std::string, std::string> textMap(const std::string& out) {
    std::map<std::string, std::string> m;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string value = line.substr(colon + 1);
        if (!value.empty() && value[0] == ' ')
            value.erase(0, 1);
        m[line.substr(0, colon)] = value;
    }
    return m;
}

std::string xy(const sim::Point& p) {
    return std::to_string(std::lround(p.x)) + "," + std::to_string(std::lround(p.y));
}

QPoint pixelOf(const sim::Point& p) {
    return QPoint(static_cast<int>(std::lround(p.x)), static_cast<int>(std::lround(p.y)));
}

// The last line of a results file, without its first field (the date of
// saving, whose format the window reads from the system's locale).
std::string lastLineAfterDate(const std::string& file) {
    std::string body = file;
    if (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0)
        body.resize(body.size() - 2);
    const std::size_t start = body.rfind("\r\n");
    const std::string line = start == std::string::npos ? body : body.substr(start + 2);
    const std::size_t tab = line.find('\t');
    return tab == std::string::npos ? line : line.substr(tab);
}

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class ToolMatchesWindow : public WindowFixture, public ::testing::WithParamInterface<Case> {};

TEST_P(ToolMatchesWindow, SameTextsAndSameResultsLine) {
    const Case& c = GetParam();
    const std::string video = path("pair.avi").toStdString();
    const sim::Truth truth = sim::writeDriftVideo(video, drift(7 + c.method));
    ASSERT_TRUE(truth.staysInFrame);
    const int stop = c.stop < 0 ? static_cast<int>(truth.frames.size()) : c.stop;
    const sim::Point primaryAt = truth.frames[static_cast<std::size_t>(c.primaryFrame)].primary;
    const sim::Point secondaryAt = truth.frames[static_cast<std::size_t>(c.start)].secondary;

    // The window, as a user works it.
    openAndSettle(path("pair.avi"));
    form->RadioGroup3->setItemIndex(c.method);
    form->RadioGroup2->setItemIndex(c.orientation);
    form->Edit5->setText(c.dec[0]);
    form->Edit6->setText(c.dec[1]);
    form->Edit7->setText(c.dec[2]);
    form->Edit1->setText("STF 2272");
    form->Edit2->setText("18");
    form->Edit3->setText("05");
    form->Edit4->setText("27.3");
    form->NotesEdit->setText("seeing 3/5");
    form->TrackBar1->setValue(c.start);
    click("Button11"); // "Start Frame"
    if (c.stop >= 0) {
        form->TrackBar1->setValue(c.stop);
        click("Button12"); // "End Frame"
    }
    form->TrackBar1->setValue(c.primaryFrame);
    QTest::mouseClick(form->Panel1, Qt::LeftButton, Qt::NoModifier, pixelOf(primaryAt));
    QTest::mouseClick(form->Panel1, Qt::LeftButton, Qt::NoModifier, pixelOf(secondaryAt));
    click("Button6"); // "GO!"
    ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    ASSERT_GE(CountValidRows(form->state().FrameData), MinValidRows);
    click("Button10"); // "Save Results", confirmed
    ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();

    // The tool, with the same video and clicks.
    const std::string results = path("tool-results.txt").toStdString();
    const ToolRun r = runTool({video,
                               "--primary",
                               xy(primaryAt),
                               "--secondary",
                               xy(secondaryAt),
                               "--primary-frame",
                               std::to_string(c.primaryFrame),
                               "--start",
                               std::to_string(c.start),
                               "--stop",
                               std::to_string(stop),
                               "--method",
                               c.method == 0 ? "weighted" : "peak",
                               "--orientation",
                               c.orientation == 0 ? "correct" : "mirrored",
                               "--dec",
                               std::string(c.dec[0]) + " " + c.dec[1] + " " + c.dec[2],
                               "--save",
                               "--results",
                               results,
                               "--designation",
                               "STF 2272",
                               "--ra",
                               "18 05 27.3",
                               "--notes",
                               "seeing 3/5"},
                              tmp.path().toStdString());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto m = textMap(r.out);

    EXPECT_EQ(m.at("frames measured"), std::to_string(stop - c.start));
    EXPECT_EQ(m.at("valid frames"), std::to_string(CountValidRows(form->state().FrameData)));
    EXPECT_EQ(m.at("sep px"), form->Edit11->text().toStdString());
    EXPECT_EQ(m.at("screen angle"), form->Edit12->text().toStdString());
    EXPECT_EQ(m.at("drift angle"), form->Edit13->text().toStdString());
    EXPECT_EQ(m.at("position angle"), form->Edit15->text().toStdString());
    EXPECT_EQ(m.at("separation"), form->Edit16->text().toStdString());
    EXPECT_EQ(m.at("pixel scale"), form->Edit19->text().toStdString());
    EXPECT_EQ(m.at("epoch J"), form->Edit17->text().toStdString());
    EXPECT_EQ(m.at("epoch B"), form->Edit18->text().toStdString());

    const std::string windowFile = readAll(form->resultsFilePath().toStdString());
    ASSERT_FALSE(windowFile.empty());
    EXPECT_EQ(lastLineAfterDate(readAll(results)), lastLineAfterDate(windowFile));
    // Title and header the same, byte for byte.
    EXPECT_EQ(readAll(results).substr(0, windowFile.find('\n', windowFile.find('\n') + 1)),
              windowFile.substr(0, windowFile.find('\n', windowFile.find('\n') + 1)));
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ToolMatchesWindow,
    ::testing::Values(
        Case{"PeakSearchWholeVideo", 1, 0, {"+45", "00", "00"}, 0, -1, 0},
        Case{"WeightedMirroredRangePrimaryLater", 0, 1, {"-45", "30", ""}, 10, 100, 12}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
