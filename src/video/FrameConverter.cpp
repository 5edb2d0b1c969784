#include "video/FrameConverter.h"

#include "video/Intensities.h"
#include "video/Monochrome.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace corvane {

namespace {

constexpr Colour kColourMask = 0x00FFFFFFu;

Colour fromRgb(unsigned r, unsigned g, unsigned b) {
    return r | (g << 8) | (b << 16);
}

// The JPEG variants of the YUV formats are the plain formats at full range;
// swscale treats them as deprecated and rebuilds its context on every call.
AVPixelFormat plainYuv(AVPixelFormat f, bool& fullRange) {
    switch (f) {
    case AV_PIX_FMT_YUVJ420P:
        fullRange = true;
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        fullRange = true;
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        fullRange = true;
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        fullRange = true;
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        fullRange = true;
        return AV_PIX_FMT_YUV411P;
    default:
        return f;
    }
}

// One row of B, G, R bytes; written plainly so the compiler vectorises it.
void bgr24Row(const uint8_t* __restrict s, Colour* __restrict dst, std::size_t w) {
    for (std::size_t x = 0; x < w; ++x)
        dst[x] = fromRgb(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
}

// Row y of plane p; FFmpeg may store a bottom-up picture with a negative stride.
const uint8_t* row(const AVFrame* f, int p, int y) {
    return f->data[p] + static_cast<std::ptrdiff_t>(y) * f->linesize[p];
}

} // namespace

FrameConverter::~FrameConverter() {
    sws_freeContext(sws_);
}

bool FrameConverter::convert(const AVFrame* f, Frame& out) {
    const int w = f->width;
    const int h = f->height;
    if (w <= 0 || h <= 0 || w > FrameSource::kMaxSide || h > FrameSource::kMaxSide || !f->data[0])
        return false;
    if (f->format == AV_PIX_FMT_GRAY8) {
        convertGrey(f, out);
        return true;
    }
    if (!convertColour(f, 0, h, out.display.resetColour(w, h).data()))
        return false;
    intensitiesOfColours(out);
    return true;
}

bool FrameConverter::convertBand(const AVFrame* f, const PixelRect& band, IntensityPlane& out) {
    const int w = f->width;
    const int h = f->height;
    if (w <= 0 || h <= 0 || w > FrameSource::kMaxSide || h > FrameSource::kMaxSide || !f->data[0])
        return false;
    const PixelRect part = clippedTo(band, w, h);
    const int top = part.top, bottom = part.bottom;
    const std::size_t x0 = static_cast<std::size_t>(part.left);
    const std::size_t x1 = static_cast<std::size_t>(part.right);
    out.reset(w, h);
    if (f->format == AV_PIX_FMT_GRAY8) {
        for (int y = top; y < bottom; ++y) {
            const uint8_t* __restrict s = row(f, 0, y);
            uint16_t* __restrict v = out.row(y);
            for (std::size_t x = x0; x < x1; ++x)
                v[x] = intensityOfGrey8(s[x]);
        }
    } else if (!yuv_.intensities(f, f->color_range == AVCOL_RANGE_JPEG, part, out)) {
        // The other layouts convert whole rows of colours.
        const std::size_t uw = static_cast<std::size_t>(w);
        band_.resize(static_cast<std::size_t>(bottom - top) * uw);
        if (!convertColour(f, top, bottom, band_.data()))
            return false;
        const Colour* c = band_.data();
        for (int y = top; y < bottom; ++y, c += uw) {
            uint16_t* v = out.row(y);
            for (std::size_t x = x0; x < x1; ++x)
                v[x] = static_cast<uint16_t>(monochrome(c[x]));
        }
    }
    out.hold(part);
    return true;
}

// A grey level g shows as the colour g * 0x010101, whose intensity is
// round_half_even(3g * 255 / 768) = round_half_even(g - g / 256): g itself up
// to 128 (128 - 0.5 is a tie that goes to the even 128) and g - 1 above.
void FrameConverter::convertGrey(const AVFrame* f, Frame& out) {
    const int w = f->width;
    const int h = f->height;
    std::vector<uint8_t>& grey = out.display.resetGrey(w, h);
    out.intensity.reset(w, h);
    const std::size_t uw = static_cast<std::size_t>(w);
    for (int y = 0; y < h; ++y) {
        const uint8_t* __restrict s = row(f, 0, y);
        uint8_t* __restrict g = grey.data() + static_cast<std::size_t>(y) * uw;
        uint16_t* __restrict v = out.intensity.row(y);
        for (std::size_t x = 0; x < uw; ++x) {
            g[x] = s[x];
            v[x] = static_cast<uint16_t>(s[x] - (s[x] > 128 ? 1 : 0));
        }
    }
}

void FrameConverter::intensitiesOfColours(Frame& out) {
    const int w = out.display.width();
    const int h = out.display.height();
    out.intensity.reset(w, h);
    std::vector<Colour> line(static_cast<std::size_t>(w));
    for (int y = 0; y < h; ++y) {
        out.display.copyRow(0, y, w, line.data());
        uint16_t* v = out.intensity.row(y);
        for (int x = 0; x < w; ++x)
            v[x] = static_cast<uint16_t>(monochrome(line[static_cast<std::size_t>(x)]));
    }
}

bool FrameConverter::convertColour(const AVFrame* f, int y0, int y1, Colour* dst) {
    const int w = f->width;
    const int h = y1;
    const std::size_t uw = static_cast<std::size_t>(w);
    switch (f->format) {
    case AV_PIX_FMT_BGR24:
        for (int y = y0; y < h; ++y, dst += uw)
            bgr24Row(row(f, 0, y), dst, uw);
        return true;
    case AV_PIX_FMT_RGB24:
        for (int y = y0; y < h; ++y, dst += uw) {
            const uint8_t* s = row(f, 0, y);
            for (std::size_t x = 0; x < uw; ++x, s += 3)
                dst[x] = fromRgb(s[0], s[1], s[2]);
        }
        return true;
    case AV_PIX_FMT_BGRA:
    case AV_PIX_FMT_BGR0:
    case AV_PIX_FMT_RGBA:
    case AV_PIX_FMT_RGB0: {
        const bool bgr = f->format == AV_PIX_FMT_BGRA || f->format == AV_PIX_FMT_BGR0;
        for (int y = y0; y < h; ++y, dst += uw) {
            const uint8_t* s = row(f, 0, y);
            for (std::size_t x = 0; x < uw; ++x, s += 4)
                dst[x] = bgr ? fromRgb(s[2], s[1], s[0]) : fromRgb(s[0], s[1], s[2]);
        }
        return true;
    }
    case AV_PIX_FMT_PAL8: {
        // Through the palette ourselves: swscale is off by one on pal8.
        Colour lut[256];
        const uint32_t* pal = reinterpret_cast<const uint32_t*>(f->data[1]);
        for (unsigned i = 0; i < 256; ++i) {
            const uint32_t p = pal ? pal[i] : i * 0x010101u; // 0xAARRGGBB
            lut[i] = fromRgb((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
        }
        for (int y = y0; y < h; ++y, dst += uw) {
            const uint8_t* s = row(f, 0, y);
            for (std::size_t x = 0; x < uw; ++x)
                dst[x] = lut[s[x]];
        }
        return true;
    }
    default:
        if (yuv_.convert(f, f->color_range == AVCOL_RANGE_JPEG, y0, y1, dst))
            return true;
        return convertWithSwscale(f, y0, y1, dst);
    }
}

// swscale converts whole frames only: a band is cut from the whole frame.
bool FrameConverter::convertWithSwscale(const AVFrame* f, int y0, int y1, Colour* out) {
    const bool whole = y0 == 0 && y1 == f->height;
    if (!whole)
        whole_.resize(static_cast<std::size_t>(f->width) * static_cast<std::size_t>(f->height));
    Colour* pixels = whole ? out : whole_.data();
    const std::size_t count =
        static_cast<std::size_t>(f->width) * static_cast<std::size_t>(f->height);
    bool fullRange = f->color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat src = plainYuv(static_cast<AVPixelFormat>(f->format), fullRange);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(src);
    if (!desc || (desc->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM)))
        return false;
    const int colourSpace = static_cast<int>(f->colorspace);
    if (!sws_ || swsFormat_ != src || swsWidth_ != f->width || swsHeight_ != f->height ||
        swsFullRange_ != fullRange || swsColourSpace_ != colourSpace) {
        sws_freeContext(sws_);
        sws_ = sws_getContext(f->width, f->height, src, f->width, f->height, AV_PIX_FMT_RGB0,
                              SWS_POINT | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND, nullptr, nullptr,
                              nullptr);
        swsFormat_ = -1;
        if (!sws_)
            return false;
        const bool yuv = !(desc->flags & AV_PIX_FMT_FLAG_RGB) && desc->nb_components >= 3;
        if (yuv) {
            const int* coeffs = sws_getCoefficients(colourSpace);
            // Without the file's own matrix and range the colours, and so the
            // intensities, would be wrong: such a frame is not converted.
            if (sws_setColorspaceDetails(sws_, coeffs, fullRange ? 1 : 0,
                                         sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16,
                                         1 << 16) < 0) {
                sws_freeContext(sws_);
                sws_ = nullptr;
                return false;
            }
        }
        swsFormat_ = src;
        swsWidth_ = f->width;
        swsHeight_ = f->height;
        swsFullRange_ = fullRange;
        swsColourSpace_ = colourSpace;
    }
    uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(pixels), nullptr, nullptr, nullptr};
    const int dstStride[4] = {f->width * 4, 0, 0, 0};
    const int rows = sws_scale(sws_, f->data, f->linesize, 0, f->height, dst, dstStride);
    if (rows != f->height)
        return false;
    // The fourth byte of RGB0 is unspecified; the panel needs it 0.
    for (std::size_t i = 0; i < count; ++i)
        pixels[i] &= kColourMask;
    if (!whole)
        std::copy(pixels + static_cast<std::size_t>(y0) * static_cast<std::size_t>(f->width),
                  pixels + static_cast<std::size_t>(y1) * static_cast<std::size_t>(f->width), out);
    return true;
}

} // namespace corvane
