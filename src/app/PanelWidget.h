#pragma once
// The video panel: shows what the panel surface shows (the frame on screen,
// or the part of a larger frame that the view takes in, and the marks over
// it) and reports where a mouse button was released, in frame pixels. A
// frame larger than the panel gets scroll bars along the panel's right and
// bottom edges (and the mouse wheel), unless the fit view shows it whole.
// It owns no pixels.
#include "video/PanelSurface.h"

#include <QWidget>

class QScrollBar;

namespace corvane {

class PanelWidget : public QWidget {
    Q_OBJECT
public:
    PanelWidget(PanelSurface& surface, QWidget* parent = nullptr);

    // Call after the frame size or the view changed (a video opened, "Fit"
    // ticked, the view followed a star): the scroll bars follow the view.
    void viewChanged();
    QScrollBar* horizontalBar() const { return hbar_; }
    QScrollBar* verticalBar() const { return vbar_; }

signals:
    // Any mouse button released over the panel, in frame pixels.
    void mouseReleased(int x, int y, Qt::MouseButton button);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void scrolled();
    // The scroll bars along the panel's right and bottom edges.
    void placeBars();

    PanelSurface& surface_;
    QScrollBar* hbar_;
    QScrollBar* vbar_;
    bool updating_ = false;
};

} // namespace corvane
