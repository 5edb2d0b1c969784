// The window's GO! against the same measurement without a window, in CPU
// time of the whole process: a 640 x 480 drift video of 1500 frames, the pair
// clicked on frame 0 and every frame measured, then the reduction. The
// window also repaints the panel and the read-outs some 30 times a second
// and draws the trail; it should cost at most a quarter more.
//
// Run offscreen: QT_QPA_PLATFORM=offscreen corvane_window_bench
// [CORVANE_BENCH_VIDEO=/tmp/pair.avi]
#include "app/AboutBox.h"
#include "app/PanelWidget.h"
#include "app/RadioGroup.h"
#include "app/TForm1.h"
#include "session/MeasureVideo.h"
#include "sim/DriftSim.h"
#include "views/TForm3.h"
#include "views/TForm5.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <memory>
#include <string>

namespace corvane {
namespace {

constexpr int kFrames = 1500;

struct Video {
    QTemporaryDir dir;
    std::string path;
    sim::Truth truth;
};

// 1500 frames at 25 a second, drifting about 450 pixels across the frame.
// Writing it takes longer than the runs: with CORVANE_BENCH_VIDEO set, the
// video is written there once, with the first frame's stars beside it in
// "<video>.stars", and later runs (and profiles) read both again.
const Video& video() {
    static Video v = [] {
        Video made;
        const std::string kept = qEnvironmentVariable("CORVANE_BENCH_VIDEO").toStdString();
        if (!kept.empty()) {
            sim::FrameTruth first;
            std::ifstream stars(kept + ".stars");
            if (stars >> first.primary.x >> first.primary.y >> first.secondary.x >>
                first.secondary.y) {
                made.path = kept;
                made.truth.frames = {first};
                return made;
            }
        }
        made.path =
            kept.empty() ? made.dir.filePath(QStringLiteral("pair.avi")).toStdString() : kept;
        sim::DriftParams p;
        p.frames = kFrames;
        p.declinationDeg = 60.0;
        made.truth = sim::writeDriftVideo(made.path, p);
        if (!kept.empty()) {
            const sim::FrameTruth& f = made.truth.frames[0];
            std::ofstream(kept + ".stars")
                << std::setprecision(17) << f.primary.x << ' ' << f.primary.y << ' '
                << f.secondary.x << ' ' << f.secondary.y << '\n';
        }
        return made;
    }();
    return v;
}

FramePoint clickOn(const sim::Point& p) {
    return {static_cast<int32_t>(std::lround(p.x)), static_cast<int32_t>(std::lround(p.y))};
}

Method methodOf(const benchmark::State& state) {
    return methodAtIndex(static_cast<int>(state.range(0)));
}

void BM_HeadlessRun(benchmark::State& state) {
    const Video& v = video();
    MeasureRequest request;
    request.video = v.path;
    request.primary = clickOn(v.truth.frames[0].primary);
    request.secondary = clickOn(v.truth.frames[0].secondary);
    request.method = methodOf(state);
    request.decDegrees = "+60";
    int32_t valid = 0;
    for (auto _ : state) {
        const MeasureOutcome out = measureVideo(request);
        valid = out.validFrames;
        benchmark::DoNotOptimize(out.reduction);
    }
    state.counters["valid"] = valid;
    state.counters["frames"] = kFrames;
}

void BM_WindowGo(benchmark::State& state) {
    const Video& v = video();
    TForm1 form;
    QString error;
    form.showError = [&error](const QString& m) { error = m; };
    form.confirm = [](const QString&) { return true; };
    form.chooseVideoFile = [&v] { return QString::fromStdString(v.path); };
    form.askFrameRate = [](const QString&) { return 0.0; };
    QTemporaryDir results;
    form.setResultsDirectory(results.path());
    form.FormCreate();
    TForm3 graphs;
    TForm5 zoom;
    TAboutBox about;
    form.setSideWindows(&graphs, &zoom, &about);
    form.show();
    form.OpenAVI1->trigger();
    QTest::qWait(650); // the reset half a second after opening
    // Typed, as a user does: a text set from outside does not count as given.
    form.Edit5->selectAll();
    QTest::keyClicks(form.Edit5, QStringLiteral("+60"));
    const FramePoint p = clickOn(v.truth.frames[0].primary);
    const FramePoint s = clickOn(v.truth.frames[0].secondary);
    const int methodIndex = static_cast<int>(state.range(0));
    form.RadioGroup3->setItemIndex(methodIndex);
    for (auto _ : state) {
        // Back to frame 0 with the slider, where the pair is clicked.
        state.PauseTiming();
        form.TrackBar1->setValue(0);
        QCoreApplication::processEvents();
        state.ResumeTiming();
        QTest::mouseClick(form.Panel1, Qt::LeftButton, Qt::NoModifier, QPoint(p.x, p.y));
        QTest::mouseClick(form.Panel1, Qt::RightButton, Qt::NoModifier, QPoint(s.x, s.y));
        QTest::mouseClick(form.Button6, Qt::LeftButton);
        // Sleeps while the window has nothing to do, so waiting costs no CPU.
        while (form.running())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    if (!error.isEmpty())
        state.SkipWithError(error.toStdString().c_str());
    state.counters["valid"] = CountValidRows(form.state().FrameData);
    state.counters["frames"] = kFrames;
    form.close();
}

// Each method (by its button index), a few whole runs of CPU time.
void eachMethod(benchmark::internal::Benchmark* b) {
    b->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Iterations(3);
    b->Repetitions(3);
}

BENCHMARK(BM_HeadlessRun)->Apply(eachMethod);
BENCHMARK(BM_WindowGo)->Apply(eachMethod);

} // namespace
} // namespace corvane

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
