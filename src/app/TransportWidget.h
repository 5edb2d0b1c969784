#pragma once
// The player's transport buttons (Play, Pause, Stop, Prev, Step, Back). They
// act on the player directly and announce every frame they show, so the
// window can bring the track bar and the read-outs along.
#include <QTimer>
#include <QWidget>

#include <functional>

class QToolButton;

namespace corvane {

class Player;

class TransportWidget : public QWidget {
    Q_OBJECT
public:
    enum class Mode { NotOpen, Stopped, Playing, Paused };

    TransportWidget(Player& player, QWidget* parent = nullptr);

    // Every button press runs through this, so errors reach the error box.
    std::function<void(const std::function<void()>&)> guard;

    Mode mode() const { return mode_; }
    // Call after the player opened or closed a video.
    void videoChanged();
    // Ends playing, e.g. before an automatic run takes the player over.
    void stopPlaying();

    void play();
    void pause();
    void stop();
    void prev();
    void step();
    void back();

signals:
    // The player drew another frame.
    void frameShown();

private:
    QToolButton* addButton(const char* name, int index, int style, void (TransportWidget::*slot)());
    void setMode(Mode m);
    void playTick();
    void run(void (TransportWidget::*action)());

    Player& player_;
    QTimer playTimer_;
    Mode mode_ = Mode::NotOpen;
    QToolButton* btPlay_ = nullptr;
    QToolButton* btPause_ = nullptr;
    QToolButton* btStop_ = nullptr;
    QToolButton* btPrev_ = nullptr;
    QToolButton* btStep_ = nullptr;
    QToolButton* btBack_ = nullptr;
};

} // namespace corvane
