#pragma once
// The program's four windows as main() builds them, with the error box, the
// confirmation box, the file dialog and the frame-rate question replaced by
// recorders, so a test runs without any modal dialog.
#include "app/AboutBox.h"
#include "app/TForm1.h"
#include "views/TForm3.h"
#include "views/TForm5.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace corvane::testing {

class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<TForm1>();
        form->showError = [this](const QString& m) { errors << m; };
        form->confirm = [this](const QString& line) {
            confirmed << line;
            return confirmAnswer;
        };
        form->chooseVideoFile = [this] { return dialogAnswer; };
        form->confirmPlaceholders = [this](const QString& question) {
            placeholderQuestions << question;
            return placeholderAnswer;
        };
        form->askFrameRate = [this](const QString& question) {
            rateQuestions << question;
            return rateAnswer;
        };
        form->setResultsDirectory(tmp.path());
        form->FormCreate();
        graphs = std::make_unique<TForm3>();
        zoom = std::make_unique<TForm5>();
        about = std::make_unique<TAboutBox>();
        form->setSideWindows(graphs.get(), zoom.get(), about.get());
    }
    void TearDown() override {
        form->close();
        about.reset();
        zoom.reset();
        graphs.reset();
        form.reset();
        QCoreApplication::processEvents();
    }

    template <typename W = QWidget> W* control(const char* name) const {
        return form->findChild<W*>(QString::fromLatin1(name));
    }
    QString textOf(const char* name) const { return control<QLineEdit>(name)->text(); }
    void click(const char* name) {
        QPushButton* b = control<QPushButton>(name);
        ASSERT_NE(b, nullptr) << name;
        QTest::mouseClick(b, Qt::LeftButton);
        // A run returns to the event loop between its pieces: wait for its end.
        while (form->running())
            QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    // Opens through the same path as the dialog and lets the 500 ms reset run.
    void openAndSettle(const QString& path) {
        dialogAnswer = path;
        form->OpenAVI1->trigger();
        ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
        QTest::qWait(650);
        ASSERT_FALSE(form->Timer1.isActive());
    }
    QString path(const char* file) const { return tmp.filePath(QString::fromLatin1(file)); }
    // Types the declination into the Dec boxes key by key, as the user does.
    void typeDec(const QString& degrees, const QString& minutes = QStringLiteral("00"),
                 const QString& seconds = QStringLiteral("00")) {
        const std::pair<QLineEdit*, QString> boxes[] = {
            {form->Edit5, degrees}, {form->Edit6, minutes}, {form->Edit7, seconds}};
        for (const auto& [box, text] : boxes) {
            box->clear();
            if (text.isEmpty())
                QTest::keyClick(box, Qt::Key_Backspace); // an edit all the same
            else
                QTest::keyClicks(box, text);
        }
    }

    QTemporaryDir tmp;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TForm3> graphs;
    std::unique_ptr<TForm5> zoom;
    std::unique_ptr<TAboutBox> about;
    QStringList errors;
    QStringList confirmed;
    bool confirmAnswer = true;
    QString dialogAnswer;
    QStringList rateQuestions;
    QStringList placeholderQuestions;
    bool placeholderAnswer = true; // save a line that still holds a placeholder
    double rateAnswer = 0;         // the frame rate given when asked; 0 cancels
};

} // namespace corvane::testing
