#pragma once
// The About box: program name and version. Created once, hidden, and shown
// and hidden again as often as the user likes.
#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;

namespace corvane {

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    // Run after "OK" has hidden the box (the main window repaints the player).
    std::function<void()> afterOk;

    void OKButtonClick();

    QLabel* ProductName = nullptr;
    QLabel* Version = nullptr;
    QLabel* ProgramIcon = nullptr;
    QPushButton* OKButton = nullptr;
};

} // namespace corvane
