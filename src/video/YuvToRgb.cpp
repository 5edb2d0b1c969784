#include "video/YuvToRgb.h"

#include "video/Monochrome.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

namespace corvane {

// Where the three components of a pixel lie.
struct YuvToRgb::Layout {
    int yPlane, yOffset, yStep; // luma: plane, first byte, bytes per pixel
    int uPlane, uOffset;        // chroma: plane and first byte of U and V,
    int vPlane, vOffset, cStep; // bytes per chroma sample
    int hShift, vShift;         // chroma subsampling (log2)
};

namespace {

using Layout = YuvToRgb::Layout;

bool layoutOf(int format, Layout& l, bool& fullRange) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        fullRange = true;
        [[fallthrough]];
    case AV_PIX_FMT_YUV420P:
        l = {0, 0, 1, 1, 0, 2, 0, 1, 1, 1};
        return true;
    case AV_PIX_FMT_YUVJ422P:
        fullRange = true;
        [[fallthrough]];
    case AV_PIX_FMT_YUV422P:
        l = {0, 0, 1, 1, 0, 2, 0, 1, 1, 0};
        return true;
    case AV_PIX_FMT_YUVJ444P:
        fullRange = true;
        [[fallthrough]];
    case AV_PIX_FMT_YUV444P:
        l = {0, 0, 1, 1, 0, 2, 0, 1, 0, 0};
        return true;
    case AV_PIX_FMT_YUVJ440P:
        fullRange = true;
        [[fallthrough]];
    case AV_PIX_FMT_YUV440P:
        l = {0, 0, 1, 1, 0, 2, 0, 1, 0, 1};
        return true;
    case AV_PIX_FMT_YUVJ411P:
        fullRange = true;
        [[fallthrough]];
    case AV_PIX_FMT_YUV411P:
        l = {0, 0, 1, 1, 0, 2, 0, 1, 2, 0};
        return true;
    case AV_PIX_FMT_NV12:
        l = {0, 0, 1, 1, 0, 1, 1, 2, 1, 1};
        return true;
    case AV_PIX_FMT_NV21:
        l = {0, 0, 1, 1, 1, 1, 0, 2, 1, 1};
        return true;
    case AV_PIX_FMT_YUYV422:
        l = {0, 0, 2, 0, 1, 0, 3, 4, 1, 0};
        return true;
    case AV_PIX_FMT_UYVY422:
        l = {0, 1, 2, 0, 0, 0, 2, 4, 1, 0};
        return true;
    case AV_PIX_FMT_YVYU422:
        l = {0, 0, 2, 0, 3, 0, 1, 4, 1, 0};
        return true;
    default:
        return false;
    }
}

// Luma weights (Kr, Kb) of the colour matrix the stream names.
void weightsOf(int colourSpace, double& kr, double& kb) {
    switch (colourSpace) {
    case AVCOL_SPC_BT709:
        kr = 0.2126;
        kb = 0.0722;
        return;
    case AVCOL_SPC_FCC:
        kr = 0.30;
        kb = 0.11;
        return;
    case AVCOL_SPC_SMPTE240M:
        kr = 0.212;
        kb = 0.087;
        return;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        kr = 0.2627;
        kb = 0.0593;
        return;
    default: // BT.601, also when the stream does not say
        kr = 0.299;
        kb = 0.114;
        return;
    }
}

constexpr int kShift = 16;
constexpr int32_t kHalf = 1 << (kShift - 1);

inline uint32_t clip(int32_t v) {
    v >>= kShift; // arithmetic: negative sums stay negative and clip to 0
    return static_cast<uint32_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

} // namespace

// The matrix in 16-bit fixed point.
struct YuvToRgb::Tables {
    int32_t yOffset = 0;                    // 16 at limited range
    int32_t yScale = 0;                     // per luma level
    int32_t rV = 0, gU = 0, gV = 0, bU = 0; // per chroma level off 128
    // One row gathered into contiguous bytes, so the arithmetic below runs
    // over plain arrays (the compiler vectorises it).
    std::vector<uint8_t> y, u, v;

    Tables(int colourSpace, bool fullRange) {
        double kr, kb;
        weightsOf(colourSpace, kr, kb);
        const double kg = 1.0 - kr - kb;
        const double one = 1 << kShift;
        const double ys = fullRange ? 1.0 : 255.0 / 219.0;
        const double cs = fullRange ? 1.0 : 255.0 / 224.0;
        yOffset = fullRange ? 0 : 16;
        yScale = static_cast<int32_t>(std::lround(ys * one));
        rV = static_cast<int32_t>(std::lround(2 * (1 - kr) * cs * one));
        bU = static_cast<int32_t>(std::lround(2 * (1 - kb) * cs * one));
        gU = static_cast<int32_t>(std::lround(-2 * kb * (1 - kb) / kg * cs * one));
        gV = static_cast<int32_t>(std::lround(-2 * kr * (1 - kr) / kg * cs * one));
        for (int32_t level = 0; level < 256; ++level) {
            int32_t c = ((level - yOffset) * yScale + kHalf) >> kShift;
            c = c < 0 ? 0 : (c > 255 ? 255 : c);
            grey[level] = static_cast<uint16_t>(c - (c > 128 ? 1 : 0));
        }
    }

    // The intensity of each luma level where the chroma is neutral: red,
    // green and blue all at the luma's level, whose intensity is that of an
    // 8-bit grey level.
    uint16_t grey[256] = {};
};

namespace {

void convertRow(const YuvToRgb::Tables& t, const uint8_t* __restrict ys,
                const uint8_t* __restrict us, const uint8_t* __restrict vs, Colour* __restrict out,
                std::size_t w) {
    for (std::size_t x = 0; x < w; ++x) {
        const int32_t luma = (ys[x] - t.yOffset) * t.yScale + kHalf;
        const int32_t u = us[x] - 128;
        const int32_t v = vs[x] - 128;
        out[x] = clip(luma + v * t.rV) | (clip(luma + u * t.gU + v * t.gV) << 8) |
                 (clip(luma + u * t.bU) << 16);
    }
}

// The intensities of the colours convertRow gives, without making them.
void intensityRow(const YuvToRgb::Tables& t, const uint8_t* __restrict ys,
                  const uint8_t* __restrict us, const uint8_t* __restrict vs,
                  uint16_t* __restrict out, std::size_t w) {
    for (std::size_t x = 0; x < w; ++x) {
        const int32_t luma = (ys[x] - t.yOffset) * t.yScale + kHalf;
        const int32_t u = us[x] - 128;
        const int32_t v = vs[x] - 128;
        out[x] =
            detail::kIntensityOfSumRef[clip(luma + v * t.rV) + clip(luma + u * t.gU + v * t.gV) +
                                       clip(luma + u * t.bU)];
    }
}

// intensityRow where the chroma is neutral, from the table: the arithmetic
// needs a 32-bit product per pixel, which the baseline instruction set has
// no packed form of, so it ran a pixel at a time at three times the cost.
void greyRow(const YuvToRgb::Tables& t, const uint8_t* __restrict ys, uint16_t* __restrict out,
             std::size_t w) {
    for (std::size_t x = 0; x < w; ++x)
        out[x] = t.grey[ys[x]];
}

// Whether every one of `n` chroma samples `step` bytes apart is 128.
bool neutral(const uint8_t* s, int step, std::size_t n) {
    unsigned off = 0;
    if (step == 1)
        for (std::size_t i = 0; i < n; ++i)
            off |= s[i] ^ 128u;
    else
        for (std::size_t i = 0; i < n; ++i)
            off |= s[i * static_cast<std::size_t>(step)] ^ 128u;
    return off == 0;
}

// Bytes at `src`, `src + step`, ... with each sample repeated for
// 1 << hShift pixels.
void gather(const uint8_t* src, int step, int hShift, uint8_t* dst, std::size_t w) {
    if (step == 1 && hShift == 0) {
        std::memcpy(dst, src, w);
        return;
    }
    if (step == 1 && hShift == 1) { // planar 4:2:0 and 4:2:2, the common case
        const std::size_t pairs = w / 2;
        for (std::size_t i = 0; i < pairs; ++i) {
            const uint16_t twice = static_cast<uint16_t>(src[i] * 0x0101u);
            std::memcpy(dst + 2 * i, &twice, 2);
        }
        if (w % 2)
            dst[w - 1] = src[pairs];
        return;
    }
    for (std::size_t x = 0; x < w; ++x)
        dst[x] = src[(x >> hShift) * static_cast<std::size_t>(step)];
}

const uint8_t* rowOf(const AVFrame* f, int plane, int y) {
    return f->data[plane] + static_cast<std::ptrdiff_t>(y) * f->linesize[plane];
}

} // namespace

YuvToRgb::YuvToRgb() = default;
YuvToRgb::~YuvToRgb() = default;

bool YuvToRgb::prepare(const AVFrame* f, bool fullRange, Layout& l) {
    if (!layoutOf(f->format, l, fullRange))
        return false;
    for (int p : {l.yPlane, l.uPlane, l.vPlane})
        if (!f->data[p])
            return false;
    // Built once per kind of frame; a video keeps one kind throughout.
    if (!tables_ || colourSpace_ != f->colorspace || fullRange_ != fullRange) {
        tables_ = std::make_unique<Tables>(f->colorspace, fullRange);
        colourSpace_ = f->colorspace;
        fullRange_ = fullRange;
    }
    const std::size_t w = static_cast<std::size_t>(f->width);
    tables_->y.resize(w);
    tables_->u.resize(w);
    tables_->v.resize(w);
    return true;
}

bool YuvToRgb::convert(const AVFrame* f, bool fullRange, int y0, int y1, Colour* out) {
    Layout l{};
    if (!prepare(f, fullRange, l))
        return false;
    Tables& t = *tables_;
    const std::size_t w = static_cast<std::size_t>(f->width);
    for (int y = y0; y < y1; ++y, out += w) {
        gather(rowOf(f, l.yPlane, y) + l.yOffset, l.yStep, 0, t.y.data(), w);
        gather(rowOf(f, l.uPlane, y >> l.vShift) + l.uOffset, l.cStep, l.hShift, t.u.data(), w);
        gather(rowOf(f, l.vPlane, y >> l.vShift) + l.vOffset, l.cStep, l.hShift, t.v.data(), w);
        convertRow(t, t.y.data(), t.u.data(), t.v.data(), out, w);
    }
    return true;
}

bool YuvToRgb::intensities(const AVFrame* f, bool fullRange, const PixelRect& band,
                           IntensityPlane& out) {
    Layout l{};
    if (!prepare(f, fullRange, l))
        return false;
    Tables& t = *tables_;
    // From the first column of the band's first chroma sample, so that the
    // samples repeat as they do from column 0.
    const std::size_t x0 = static_cast<std::size_t>(band.left) >> l.hShift << l.hShift;
    const std::size_t w = static_cast<std::size_t>(std::max(band.right, band.left)) - x0;
    const std::size_t chroma = (w + (std::size_t{1} << l.hShift) - 1) >> l.hShift;
    const std::size_t yFirst = x0 * static_cast<std::size_t>(l.yStep);
    const std::size_t cFirst = (x0 >> l.hShift) * static_cast<std::size_t>(l.cStep);
    for (int y = band.top; y < band.bottom; ++y) {
        const uint8_t* ys = rowOf(f, l.yPlane, y) + l.yOffset + yFirst;
        if (l.yStep != 1) {
            gather(ys, l.yStep, 0, t.y.data(), w);
            ys = t.y.data();
        }
        const uint8_t* us = rowOf(f, l.uPlane, y >> l.vShift) + l.uOffset + cFirst;
        const uint8_t* vs = rowOf(f, l.vPlane, y >> l.vShift) + l.vOffset + cFirst;
        uint16_t* __restrict o = out.row(y) + x0;
        if (neutral(us, l.cStep, chroma) && neutral(vs, l.cStep, chroma)) {
            greyRow(t, ys, o, w);
            continue;
        }
        gather(us, l.cStep, l.hShift, t.u.data(), w);
        gather(vs, l.cStep, l.hShift, t.v.data(), w);
        intensityRow(t, ys, t.u.data(), t.v.data(), o, w);
    }
    return true;
}

} // namespace corvane
