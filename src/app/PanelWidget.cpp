#include "app/PanelWidget.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>

namespace corvane {

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the panel shows 0x00BBGGRR as RGBX bytes");

namespace {
constexpr int kBarThickness = 12;
constexpr int kWheelStepPx = 48; // frame pixels per notch of the wheel
} // namespace

PanelWidget::PanelWidget(PanelSurface& surface, QWidget* parent)
    : QWidget(parent), surface_(surface), hbar_(new QScrollBar(Qt::Horizontal, this)),
      vbar_(new QScrollBar(Qt::Vertical, this)) {
    setCursor(Qt::CrossCursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The classic size at least; a larger window gives the panel its room.
    setMinimumSize(PanelSurface::kWidth, PanelSurface::kHeight);
    resize(PanelSurface::kWidth, PanelSurface::kHeight);
    hbar_->setObjectName(QStringLiteral("Panel1HorizontalBar"));
    vbar_->setObjectName(QStringLiteral("Panel1VerticalBar"));
    for (QScrollBar* b : {hbar_, vbar_}) {
        b->setCursor(Qt::ArrowCursor);
        b->setFocusPolicy(Qt::NoFocus);
        b->hide();
        connect(b, &QScrollBar::valueChanged, this, &PanelWidget::scrolled);
    }
    placeBars();
}

void PanelWidget::placeBars() {
    hbar_->setGeometry(0, surface_.height() - kBarThickness, surface_.width() - kBarThickness,
                       kBarThickness);
    vbar_->setGeometry(surface_.width() - kBarThickness, 0, kBarThickness,
                       surface_.height() - kBarThickness);
}

void PanelWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    surface_.setSize(width(), height());
    placeBars();
    viewChanged();
}

void PanelWidget::viewChanged() {
    updating_ = true;
    const bool scrolls = surface_.frameLargerThanPanel() && !surface_.scaled();
    const int spareX = std::max(0, surface_.frameWidth() - surface_.width());
    const int spareY = std::max(0, surface_.frameHeight() - surface_.height());
    {
        const QSignalBlocker bh(hbar_), bv(vbar_);
        // The bars lie over the panel's edges: the last pixels of the frame
        // can be scrolled out from under them.
        hbar_->setRange(0, spareX > 0 ? spareX + PanelSurface::kScrollSlack : 0);
        vbar_->setRange(0, spareY > 0 ? spareY + PanelSurface::kScrollSlack : 0);
        hbar_->setPageStep(surface_.width());
        vbar_->setPageStep(surface_.height());
        hbar_->setSingleStep(kWheelStepPx);
        vbar_->setSingleStep(kWheelStepPx);
        hbar_->setValue(surface_.originX());
        vbar_->setValue(surface_.originY());
    }
    hbar_->setVisible(scrolls && spareX > 0);
    vbar_->setVisible(scrolls && spareY > 0);
    updating_ = false;
    update();
}

void PanelWidget::scrolled() {
    if (updating_)
        return;
    surface_.setOrigin(hbar_->value(), vbar_->value());
    update();
}

void PanelWidget::paintEvent(QPaintEvent* event) {
    // 0x00BBGGRR held little-endian is the byte sequence R, G, B, 0: exactly
    // RGBX8888, so the surface is shown without converting a pixel.
    const QImage image(reinterpret_cast<const uchar*>(surface_.data()), surface_.width(),
                       surface_.height(), surface_.width() * 4, QImage::Format_RGBX8888);
    QPainter painter(this);
    painter.drawImage(event->rect(), image, event->rect());
}

void PanelWidget::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    int fx = 0, fy = 0;
    surface_.panelToFrame(p.x(), p.y(), fx, fy);
    emit mouseReleased(fx, fy, event->button());
}

void PanelWidget::wheelEvent(QWheelEvent* event) {
    if (!hbar_->isVisible() && !vbar_->isVisible()) {
        event->ignore();
        return;
    }
    const int notches = event->angleDelta().y() / 120;
    QScrollBar* bar =
        (event->modifiers() & Qt::ShiftModifier) || !vbar_->isVisible() ? hbar_ : vbar_;
    bar->setValue(bar->value() - notches * kWheelStepPx);
    event->accept();
}

} // namespace corvane
