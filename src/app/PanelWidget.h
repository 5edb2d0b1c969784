#pragma once
// The video panel: shows the panel surface's 640 x 480 colour values and
// reports where a mouse button was released. It owns no pixels.
#include "video/PanelSurface.h"

#include <QWidget>

namespace corvane {

class PanelWidget : public QWidget {
    Q_OBJECT
public:
    PanelWidget(const PanelSurface& surface, QWidget* parent = nullptr);

signals:
    // Any mouse button released over the panel, in panel coordinates.
    void mouseReleased(int x, int y, Qt::MouseButton button);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    const PanelSurface& surface_;
};

} // namespace corvane
