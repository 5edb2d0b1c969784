#include "app/PanelWidget.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>

namespace corvane {

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the panel shows 0x00BBGGRR as RGBX bytes");

PanelWidget::PanelWidget(const PanelSurface& surface, QWidget* parent)
    : QWidget(parent), surface_(surface) {
    setCursor(Qt::CrossCursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(PanelSurface::kWidth, PanelSurface::kHeight);
}

void PanelWidget::paintEvent(QPaintEvent* event) {
    // 0x00BBGGRR held little-endian is the byte sequence R, G, B, 0: exactly
    // RGBX8888, so the surface is shown without converting a pixel.
    const QImage image(reinterpret_cast<const uchar*>(surface_.data()), PanelSurface::kWidth,
                       PanelSurface::kHeight, PanelSurface::kWidth * 4, QImage::Format_RGBX8888);
    QPainter painter(this);
    painter.drawImage(event->rect(), image, event->rect());
}

void PanelWidget::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    emit mouseReleased(p.x(), p.y(), event->button());
}

} // namespace corvane
