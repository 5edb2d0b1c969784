#include "views/TForm5.h"

#include "views/Overlays.h"

#include "video/Monochrome.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>

#include <algorithm>

namespace corvane {

namespace {

// The background is the window-text system colour (index 8).
constexpr int kWindowTextColourIndex = 8;

QRgb toRgb(Colour c) {
    if (c & 0x80000000u)
        c = systemColour(static_cast<int>(c & 0xFFu));
    return qRgb(static_cast<int>(c & 0xFFu), static_cast<int>((c >> 8) & 0xFFu),
                static_cast<int>((c >> 16) & 0xFFu));
}

} // namespace

TForm5::TForm5(QWidget* parent)
    : QWidget(parent, Qt::Window), Button1(new QPushButton("Button1", this)) {
    setObjectName("Form5");
    setWindowTitle("Zoom View");
    move(736, 196);
    resize(283, 281);

    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(toRgb(systemColour(kWindowTextColourIndex))));
    setPalette(pal);
    setAutoFillBackground(true);

    // Kept for the spectrum test; nothing in the program shows it.
    Button1->setObjectName("Button1");
    Button1->hide();
    connect(Button1, &QPushButton::clicked, this, &TForm5::Button1Click);

    FormCreate();
}

QRect TForm5::zoomPlacement(int mainLeft, int mainTop, int mainWidth) {
    return QRect(mainLeft + mainWidth + kGap, mainTop, kZoomWidth, kZoomHeight);
}

void TForm5::showZoom(const TStarbox& systemBox, const PanelSurface& panel, int mainLeft,
                      int mainTop, int mainWidth) {
    const QRect place = zoomPlacement(mainLeft, mainTop, mainWidth);
    move(place.topLeft());
    resize(place.size());
    show();
    // Before the first successful measure the box holds no picture worth showing.
    if (systemBox.FineX > 0)
        paintZoom(systemBox, panel);
}

void TForm5::hideZoom() {
    hide();
}

void TForm5::paintZoom(const TStarbox& systemBox, const PanelSurface& panel) {
    drawzoom(systemBox, panel, canvas_);
    refresh();
}

void TForm5::refresh() {
    // Pixel writes do not mark the canvas as changed; a refresh always rebuilds.
    pictureGeneration_ = UINT64_MAX;
    update();
}

void TForm5::FormCreate() {}

void TForm5::Button1Click() {
    spectrumTest(spectra_, canvas_);
    refresh();
}

const QImage& TForm5::visiblePicture() {
    const int w = std::min(canvas_.width(), width());
    const int h = std::min(canvas_.height(), height());
    if (pictureGeneration_ == canvas_.generation() && picture_.width() == w &&
        picture_.height() == h)
        return picture_;
    picture_ = QImage(std::max(w, 0), std::max(h, 0), QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture_.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = toRgb(canvas_.pixel(x, y));
    }
    pictureGeneration_ = canvas_.generation();
    return picture_;
}

void TForm5::paintEvent(QPaintEvent* event) {
    const QImage& picture = visiblePicture();
    if (picture.isNull())
        return;
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.drawImage(0, 0, picture);
}

} // namespace corvane
