// Opening a video from outside the window: named on the command line or
// dropped onto it. Either way it opens as from the menu, and a file that
// cannot be opened gives the menu's message.
#include "WindowFixture.h"

#include "app/CommandLine.h"
#include "sim/DriftSim.h"
#include "video/Player.h"

#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QUrl>

using namespace corvane;
using corvane::testing::WindowFixture;

namespace {

enum class Route { CommandLine, Drop };

struct OutsideCase {
    const char* name;
    Route route;
    bool readable;
};

const OutsideCase kOutsideCases[] = {
    {"video_named_at_start", Route::CommandLine, true},
    {"video_dropped", Route::Drop, true},
    {"unreadable_file_named_at_start", Route::CommandLine, false},
    {"unreadable_file_dropped", Route::Drop, false},
};

class OpenFromOutside : public WindowFixture, public ::testing::WithParamInterface<OutsideCase> {
protected:
    QString writeVideo(const char* name) {
        sim::DriftParams p;
        p.width = 320;
        p.height = 240;
        p.frames = 12;
        const QString file = path(name);
        sim::writeDriftVideo(file.toStdString(), p);
        return file;
    }
    // What a file manager sends: the drag, then the drop; true when the
    // window took the drag.
    bool drop(const QString& file) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(file)});
        const QPoint at(400, 200);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form.get(), &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form.get(), &dropped);
        return dropped.isAccepted();
    }
    void openFromOutside(Route route, const QString& file) {
        if (route == Route::Drop) {
            EXPECT_TRUE(drop(file));
            return;
        }
        const WindowCommandLine line = parseWindowCommandLine({file});
        ASSERT_TRUE(line.error.isEmpty()) << line.error.toStdString();
        form->openGivenFile(line.file);
    }
};

TEST_P(OpenFromOutside, OpensAsTheMenuDoes) {
    const OutsideCase& c = GetParam();
    QString file = writeVideo("drift.avi");
    if (!c.readable) {
        file = path("broken.avi");
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("RIFF and nothing a video holds");
    }
    // What the menu makes of the same file.
    dialogAnswer = file;
    form->OpenAVI1->trigger();
    const QStringList menuErrors = errors;
    const int32_t menuLength = c.readable ? form->player().VideoLength() : -1;
    errors.clear();
    form->StatusPanels[0]->clear();

    openFromOutside(c.route, file);
    EXPECT_EQ(errors, menuErrors);
    if (c.readable) {
        EXPECT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
        EXPECT_EQ(form->player().VideoLength(), menuLength);
        EXPECT_EQ(form->StatusPanels[0]->text(), file);
        QTest::qWait(650); // the reset after opening runs as after the menu
        EXPECT_FALSE(form->Timer1.isActive());
        EXPECT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    } else {
        ASSERT_EQ(errors.size(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Routes, OpenFromOutside, ::testing::ValuesIn(kOutsideCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowFixture, DragWithoutOneLocalFileIsRefused) {
    const struct {
        const char* name;
        QList<QUrl> urls;
    } rows[] = {
        {"web address", {QUrl("https://example.invalid/a.avi")}},
        {"two files", {QUrl::fromLocalFile("/tmp/a.avi"), QUrl::fromLocalFile("/tmp/b.avi")}},
        {"no files", {}},
    };
    for (const auto& row : rows) {
        QMimeData data;
        data.setUrls(row.urls);
        QDragEnterEvent enter(QPoint(400, 200), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(form.get(), &enter);
        EXPECT_FALSE(enter.isAccepted()) << row.name;
    }
    EXPECT_TRUE(errors.isEmpty());
}

TEST(WindowCommandLine, ReadsOneFileAndTheTwoQuestions) {
    const struct {
        const char* name;
        QStringList args;
        QString file;
        bool help, version, error;
    } rows[] = {
        {"nothing", {}, "", false, false, false},
        {"a file", {"night1.avi"}, "night1.avi", false, false, false},
        {"a file after --", {"--", "-odd.avi"}, "-odd.avi", false, false, false},
        {"help", {"--help"}, "", true, false, false},
        {"version", {"--version"}, "", false, true, false},
        {"two files", {"a.avi", "b.avi"}, "a.avi", false, false, true},
        {"unknown option", {"--frames"}, "", false, false, true},
        {"empty name", {""}, "", false, false, true},
    };
    for (const auto& row : rows) {
        const WindowCommandLine c = parseWindowCommandLine(row.args);
        EXPECT_EQ(c.file, row.file) << row.name;
        EXPECT_EQ(c.help, row.help) << row.name;
        EXPECT_EQ(c.version, row.version) << row.name;
        EXPECT_EQ(!c.error.isEmpty(), row.error) << row.name;
    }
}

} // namespace
