#pragma once
// The "Zoom View" window: the system box three times enlarged. The picture is
// kept in a backing canvas and redrawn from it on every repaint, so covering
// and uncovering the window does not erase it.
#include "measure/Starbox.h"
#include "video/PanelSurface.h"
#include "video/PixelCanvas.h"
#include "views/Fourier.h"

#include <QImage>
#include <QRect>
#include <QWidget>

#include <cstdint>

class QPushButton;

namespace corvane {

class TForm5 : public QWidget {
    Q_OBJECT

public:
    static constexpr int kZoomWidth = 210;
    static constexpr int kZoomHeight = 230;
    static constexpr int kGap = 2; // pixels between the main window and the zoom view

    explicit TForm5(QWidget* parent = nullptr);

    // Where the zoom view goes for a main window at (mainLeft, mainTop) that
    // is mainWidth wide: just right of it, same top, 210 x 230.
    static QRect zoomPlacement(int mainLeft, int mainTop, int mainWidth);

    // "Zoom" ticked: place, size and show the window; paint the system box
    // only once it has been measured (FineX > 0).
    void showZoom(const TStarbox& systemBox, const PanelSurface& panel, int mainLeft, int mainTop,
                  int mainWidth);
    // "Zoom" unticked.
    void hideZoom();
    // A refresh while "Zoom" is ticked: paint the box's pixels and repaint.
    void paintZoom(const TStarbox& systemBox, const PanelSurface& panel);

    // The backing picture that drawzoom paints into; call refresh() after
    // painting into it directly.
    PixelCanvas& canvas() { return canvas_; }
    const PixelCanvas& canvas() const { return canvas_; }
    // Schedule a repaint from the canvas.
    void refresh();

    SpectrumArrays& spectrumArrays() { return spectra_; }
    QPushButton* button1() const { return Button1; }

public slots:
    void FormCreate();
    // The hidden spectrum test on the window's own picture.
    void Button1Click();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const QImage& visiblePicture();

    PixelCanvas canvas_;
    SpectrumArrays spectra_;
    QPushButton* Button1;
    // The part of the canvas the window shows, converted for Qt; rebuilt after
    // refresh() and when the canvas grows or the window's size changes.
    QImage picture_;
    uint64_t pictureGeneration_ = UINT64_MAX;
};

} // namespace corvane
