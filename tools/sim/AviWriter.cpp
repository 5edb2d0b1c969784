#include "sim/AviWriter.h"

#include "common/Error.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace corvane::sim {

namespace {

std::string avText(int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

[[noreturn]] void fail(const std::string& what, int code) {
    throw Error(what + ": " + avText(code));
}

bool isRaw(Codec c) {
    return c == Codec::Grey || c == Codec::Colour || c == Codec::Palette || c == Codec::Yuy2;
}

// DIB rows are padded to a multiple of 4 bytes.
int dibStride(int width, int bitsPerPixel) {
    return ((width * bitsPerPixel + 31) / 32) * 4;
}

// libavformat marks raw RGB as top-down (negative biHeight). Capture programs
// write classic bottom-up DIBs, which is what the rows hold here, so the
// header's height is made positive again.
void markBottomUp(const std::string& path, int width, int height) {
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    if (!f)
        throw Error("Cannot reopen " + path);
    unsigned char head[65536];
    const std::size_t got = std::fread(head, 1, sizeof head, f);
    bool done = false;
    for (std::size_t i = 0; i + 20 <= got && !done; ++i) {
        if (std::memcmp(head + i, "strf", 4) != 0)
            continue;
        int32_t w = 0, h = 0;
        std::memcpy(&w, head + i + 12, 4); // the file is little-endian, as is this machine
        std::memcpy(&h, head + i + 16, 4);
        if (w == width && h == -height) {
            const int32_t up = height;
            done = std::fseek(f, static_cast<long>(i + 16), SEEK_SET) == 0 &&
                   std::fwrite(&up, 4, 1, f) == 1;
        }
    }
    if (std::fclose(f) != 0 || !done)
        throw Error("Cannot write the frame header of " + path);
}

// BT.601 YUV of a picture, worked out exactly and rounded, with each chroma
// sample the mean of its block of (1 << hShift) x (1 << vShift) pixels, so the
// picture a test expects does not depend on swscale's rounding.
struct Yuv {
    int width = 0, height = 0, chromaWidth = 0, chromaHeight = 0;
    std::vector<uint8_t> y, u, v;
};

uint8_t level(double v) {
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

Yuv toYuv(const std::vector<Pixel>& pic, int w, int h, bool fullRange, int hShift, int vShift) {
    const double kr = 0.299, kb = 0.114, kg = 1 - kr - kb;
    const double yScale = fullRange ? 1.0 : 219.0 / 255.0;
    const double yOffset = fullRange ? 0.0 : 16.0;
    const double cScale = fullRange ? 1.0 : 224.0 / 255.0;
    Yuv out;
    out.width = w;
    out.height = h;
    out.chromaWidth = (w + (1 << hShift) - 1) >> hShift;
    out.chromaHeight = (h + (1 << vShift) - 1) >> vShift;
    const std::size_t chromaCount =
        static_cast<std::size_t>(out.chromaWidth) * static_cast<std::size_t>(out.chromaHeight);
    out.y.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    std::vector<double> su(chromaCount, 0.0), sv(chromaCount, 0.0), n(chromaCount, 0.0);
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col) {
            const std::size_t i = static_cast<std::size_t>(row) * static_cast<std::size_t>(w) +
                                  static_cast<std::size_t>(col);
            const Pixel c = pic[i];
            const double r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
            const double luma = kr * r + kg * g + kb * b;
            out.y[i] = level(yOffset + yScale * luma);
            const std::size_t ci = static_cast<std::size_t>(row >> vShift) *
                                       static_cast<std::size_t>(out.chromaWidth) +
                                   static_cast<std::size_t>(col >> hShift);
            su[ci] += (b - luma) / (2 * (1 - kb));
            sv[ci] += (r - luma) / (2 * (1 - kr));
            n[ci] += 1;
        }
    out.u.resize(chromaCount);
    out.v.resize(chromaCount);
    for (std::size_t i = 0; i < chromaCount; ++i) {
        out.u[i] = level(128 + cScale * su[i] / n[i]);
        out.v[i] = level(128 + cScale * sv[i] / n[i]);
    }
    return out;
}

} // namespace

struct AviWriter::Impl {
    VideoFormat f;
    std::string path;
    AVFormatContext* fmt = nullptr;
    AVStream* st = nullptr;
    AVCodecContext* enc = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* pkt = nullptr;
    AVRational tb{1, 25};
    bool headerWritten = false;
    bool finished = false;
    bool paletteSent = false;
    int64_t lastN = -1;

    ~Impl() {
        if (fmt && fmt->pb)
            avio_closep(&fmt->pb);
        avformat_free_context(fmt);
        avcodec_free_context(&enc);
        av_frame_free(&frame);
        av_packet_free(&pkt);
    }

    void openEncoder() {
        const bool h264 = f.codec == Codec::H264;
        const bool mjpeg = f.codec == Codec::Mjpeg;
        const AVCodec* codec = h264    ? avcodec_find_encoder_by_name("libx264")
                               : mjpeg ? avcodec_find_encoder(AV_CODEC_ID_MJPEG)
                                       : avcodec_find_encoder(AV_CODEC_ID_MPEG4);
        if (!codec)
            throw Error(std::string("The encoder for ") + codecName(f.codec) +
                        (h264 ? " (libx264)" : "") + " is not available");
        enc = avcodec_alloc_context3(codec);
        if (!enc)
            throw Error("Out of memory");
        enc->width = f.width;
        enc->height = f.height;
        enc->time_base = tb;
        enc->framerate = {f.frameRate.num, f.frameRate.den};
        enc->thread_count = 1;
        if (h264) {
            enc->pix_fmt = AV_PIX_FMT_YUV420P;
            enc->gop_size = f.gopSize;
            enc->max_b_frames = f.bFrames;
            av_opt_set(enc->priv_data, "preset", "fast", 0);
            av_opt_set(enc->priv_data, "crf", "16", 0);
            // Fixed GOP and a fixed number of B-frames, so the stream has the
            // structure asked for whatever the picture holds.
            av_opt_set(enc->priv_data, "x264-params", "b-adapt=0:scenecut=0", 0);
        } else if (mjpeg) {
            enc->pix_fmt = AV_PIX_FMT_YUVJ420P;
            enc->flags |= AV_CODEC_FLAG_QSCALE;
            enc->global_quality = FF_QP2LAMBDA * 3;
        } else {
            // FFmpeg's MPEG-4 encoder makes open GOPs: the B-frames after a
            // key frame in the file are shown before it.
            enc->pix_fmt = AV_PIX_FMT_YUV420P;
            enc->gop_size = f.gopSize;
            enc->max_b_frames = f.bFrames;
            enc->flags |= AV_CODEC_FLAG_QSCALE;
            enc->global_quality = FF_QP2LAMBDA * 2;
            enc->codec_tag = MKTAG('X', 'V', 'I', 'D');
        }
        const int rc = avcodec_open2(enc, codec, nullptr);
        if (rc < 0)
            fail("Cannot open the encoder", rc);
        frame = av_frame_alloc();
        if (!frame)
            throw Error("Out of memory");
        frame->format = enc->pix_fmt;
        frame->width = f.width;
        frame->height = f.height;
        if (av_frame_get_buffer(frame, 0) < 0)
            throw Error("Out of memory");
        if (mjpeg)
            frame->color_range = AVCOL_RANGE_JPEG;
    }

    void setRawParameters() {
        AVCodecParameters* par = st->codecpar;
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = AV_CODEC_ID_RAWVIDEO;
        par->width = f.width;
        par->height = f.height;
        switch (f.codec) {
        case Codec::Grey:
            par->format = AV_PIX_FMT_GRAY8;
            par->codec_tag = MKTAG('Y', '8', '0', '0');
            par->bits_per_coded_sample = 8;
            break;
        case Codec::Colour:
            par->format = AV_PIX_FMT_BGR24;
            par->codec_tag = 0;
            par->bits_per_coded_sample = 24;
            break;
        case Codec::Yuy2:
            par->format = AV_PIX_FMT_YUYV422;
            par->codec_tag = MKTAG('Y', 'U', 'Y', '2');
            par->bits_per_coded_sample = 16;
            break;
        default:
            par->format = AV_PIX_FMT_PAL8;
            par->codec_tag = 0;
            par->bits_per_coded_sample = 8;
            break;
        }
    }

    void writePacket() {
        pkt->stream_index = st->index;
        av_packet_rescale_ts(pkt, tb, st->time_base);
        const int rc = av_interleaved_write_frame(fmt, pkt);
        av_packet_unref(pkt);
        if (rc < 0)
            fail("Cannot write " + path, rc);
    }

    void drainEncoder() {
        for (;;) {
            const int rc = avcodec_receive_packet(enc, pkt);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return;
            if (rc < 0)
                fail("Cannot encode a frame", rc);
            writePacket();
        }
    }

    std::vector<uint8_t> rawBytes(const std::vector<Pixel>& picture) {
        const std::size_t w = static_cast<std::size_t>(f.width);
        const std::size_t h = static_cast<std::size_t>(f.height);
        if (f.codec == Codec::Yuy2) {
            const Yuv yuv = toYuv(picture, f.width, f.height, false, 1, 0);
            std::vector<uint8_t> out(w * 2 * h);
            for (std::size_t row = 0; row < h; ++row)
                for (std::size_t x = 0; x < w; ++x) {
                    const std::size_t c = row * static_cast<std::size_t>(yuv.chromaWidth) + x / 2;
                    uint8_t* px = &out[(row * w + x) * 2];
                    px[0] = yuv.y[row * w + x];
                    px[1] = (x % 2 == 0) ? yuv.u[c] : yuv.v[c]; // Y0 U Y1 V
                }
            return out;
        }
        if (f.codec == Codec::Grey) {
            std::vector<uint8_t> out(w * h);
            for (std::size_t i = 0; i < out.size(); ++i)
                out[i] = static_cast<uint8_t>(picture[i] & 0xFF);
            return out;
        }
        const bool colour = f.codec == Codec::Colour;
        const std::size_t stride = static_cast<std::size_t>(dibStride(f.width, colour ? 24 : 8));
        std::vector<uint8_t> out(stride * h, 0);
        for (std::size_t y = 0; y < h; ++y) {
            // DIBs store the bottom row first.
            uint8_t* row = &out[(h - 1 - y) * stride];
            const Pixel* src = &picture[y * w];
            for (std::size_t x = 0; x < w; ++x) {
                const Pixel c = src[x];
                if (colour) {
                    row[3 * x] = static_cast<uint8_t>((c >> 16) & 0xFF); // blue
                    row[3 * x + 1] = static_cast<uint8_t>((c >> 8) & 0xFF);
                    row[3 * x + 2] = static_cast<uint8_t>(c & 0xFF); // red
                } else {
                    // Indexes run against the grey level (see the palette), so
                    // a reader that ignores the palette shows a negative.
                    row[x] = static_cast<uint8_t>(255 - (c & 0xFF));
                }
            }
        }
        return out;
    }
};

AviWriter::AviWriter(const std::string& path, const VideoFormat& format)
    : impl_(std::make_unique<Impl>()) {
    // The encoders' statistics are of no interest here; errors still show.
    if (av_log_get_level() > AV_LOG_ERROR)
        av_log_set_level(AV_LOG_ERROR);
    Impl& m = *impl_;
    m.f = format;
    m.path = path;
    if (format.width < 1 || format.height < 1 || format.frameRate.num < 1 ||
        format.frameRate.den < 1)
        throw Error("Invalid video format for " + path);
    m.tb = {format.frameRate.den, format.frameRate.num};
    int rc = avformat_alloc_output_context2(&m.fmt, nullptr, "avi", path.c_str());
    if (rc < 0 || !m.fmt)
        fail("Cannot create " + path, rc);
    m.st = avformat_new_stream(m.fmt, nullptr);
    m.pkt = av_packet_alloc();
    if (!m.st || !m.pkt)
        throw Error("Out of memory");
    m.st->time_base = m.tb;
    m.st->avg_frame_rate = {format.frameRate.num, format.frameRate.den};
    if (isRaw(format.codec)) {
        m.setRawParameters();
    } else {
        m.openEncoder();
        rc = avcodec_parameters_from_context(m.st->codecpar, m.enc);
        if (rc < 0)
            fail("Cannot set up the stream", rc);
    }
    rc = avio_open(&m.fmt->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0)
        fail("Cannot create " + path, rc);
    rc = avformat_write_header(m.fmt, nullptr);
    if (rc < 0)
        fail("Cannot write " + path, rc);
    m.headerWritten = true;
}

AviWriter::~AviWriter() {
    if (impl_ && impl_->headerWritten && !impl_->finished) {
        try {
            finish();
        } catch (const Error&) {
            // A destructor must not throw; the file stays incomplete.
        }
    }
}

std::size_t AviWriter::rawFrameSize() const {
    const VideoFormat& f = impl_->f;
    switch (f.codec) {
    case Codec::Grey:
        return static_cast<std::size_t>(f.width) * static_cast<std::size_t>(f.height);
    case Codec::Colour:
        return static_cast<std::size_t>(dibStride(f.width, 24)) *
               static_cast<std::size_t>(f.height);
    case Codec::Palette:
        return static_cast<std::size_t>(dibStride(f.width, 8)) * static_cast<std::size_t>(f.height);
    case Codec::Yuy2:
        return static_cast<std::size_t>(f.width) * 2 * static_cast<std::size_t>(f.height);
    default:
        return 0;
    }
}

void AviWriter::writeFrame(const std::vector<Pixel>& picture, int64_t n) {
    Impl& m = *impl_;
    if (picture.size() !=
        static_cast<std::size_t>(m.f.width) * static_cast<std::size_t>(m.f.height))
        throw Error("Picture of the wrong size for " + m.path);
    if (isRaw(m.f.codec)) {
        writeRawChunk(m.rawBytes(picture), n);
        return;
    }
    if (n <= m.lastN)
        throw Error("Frame numbers must increase");
    m.lastN = n;
    int rc = av_frame_make_writable(m.frame);
    if (rc < 0)
        fail("Cannot encode a frame", rc);
    const Yuv yuv = toYuv(picture, m.f.width, m.f.height, m.f.codec == Codec::Mjpeg, 1, 1);
    for (int row = 0; row < m.f.height; ++row)
        std::memcpy(m.frame->data[0] + static_cast<std::ptrdiff_t>(row) * m.frame->linesize[0],
                    &yuv.y[static_cast<std::size_t>(row) * static_cast<std::size_t>(m.f.width)],
                    static_cast<std::size_t>(m.f.width));
    for (int row = 0; row < yuv.chromaHeight; ++row) {
        const std::size_t from =
            static_cast<std::size_t>(row) * static_cast<std::size_t>(yuv.chromaWidth);
        std::memcpy(m.frame->data[1] + static_cast<std::ptrdiff_t>(row) * m.frame->linesize[1],
                    &yuv.u[from], static_cast<std::size_t>(yuv.chromaWidth));
        std::memcpy(m.frame->data[2] + static_cast<std::ptrdiff_t>(row) * m.frame->linesize[2],
                    &yuv.v[from], static_cast<std::size_t>(yuv.chromaWidth));
    }
    m.frame->pts = n;
    if (m.f.codec == Codec::Mjpeg)
        m.frame->quality = m.enc->global_quality;
    rc = avcodec_send_frame(m.enc, m.frame);
    if (rc < 0)
        fail("Cannot encode a frame", rc);
    m.drainEncoder();
}

void AviWriter::writeRawChunk(const std::vector<uint8_t>& bytes, int64_t n) {
    Impl& m = *impl_;
    if (!isRaw(m.f.codec))
        throw Error("Raw chunks need a raw codec");
    if (n <= m.lastN)
        throw Error("Frame numbers must increase");
    m.lastN = n;
    int rc = av_new_packet(m.pkt, static_cast<int>(bytes.size()));
    if (rc < 0)
        fail("Cannot write " + m.path, rc);
    if (!bytes.empty())
        std::memcpy(m.pkt->data, bytes.data(), bytes.size());
    m.pkt->pts = m.pkt->dts = n;
    m.pkt->duration = 1;
    m.pkt->flags |= AV_PKT_FLAG_KEY;
    if (m.f.codec == Codec::Palette && !m.paletteSent) {
        uint8_t* side = av_packet_new_side_data(m.pkt, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
        if (!side)
            throw Error("Out of memory");
        uint32_t palette[256];
        for (uint32_t k = 0; k < 256; ++k) {
            const uint32_t g = 255 - k;
            palette[k] = 0xFF000000u | (g << 16) | (g << 8) | g;
        }
        std::memcpy(side, palette, AVPALETTE_SIZE);
        m.paletteSent = true;
    }
    m.writePacket();
}

void AviWriter::finish() {
    Impl& m = *impl_;
    if (m.finished)
        return;
    m.finished = true;
    if (m.enc) {
        const int rc = avcodec_send_frame(m.enc, nullptr);
        if (rc < 0)
            fail("Cannot encode a frame", rc);
        m.drainEncoder();
    }
    int rc = av_write_trailer(m.fmt);
    if (rc < 0)
        fail("Cannot write " + m.path, rc);
    rc = avio_closep(&m.fmt->pb);
    if (rc < 0)
        fail("Cannot write " + m.path, rc);
    if (m.f.codec == Codec::Colour || m.f.codec == Codec::Palette)
        markBottomUp(m.path, m.f.width, m.f.height);
}

void writeAudioOnlyAvi(const std::string& path, double seconds) {
    constexpr int kRate = 8000;
    AVFormatContext* fmt = nullptr;
    int rc = avformat_alloc_output_context2(&fmt, nullptr, "avi", path.c_str());
    if (rc < 0 || !fmt)
        fail("Cannot create " + path, rc);
    struct Guard {
        AVFormatContext* f;
        AVPacket* p = nullptr;
        ~Guard() {
            if (f && f->pb)
                avio_closep(&f->pb);
            avformat_free_context(f);
            av_packet_free(&p);
        }
    } guard{fmt};
    AVStream* st = avformat_new_stream(fmt, nullptr);
    guard.p = av_packet_alloc();
    if (!st || !guard.p)
        throw Error("Out of memory");
    AVCodecParameters* par = st->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = AV_CODEC_ID_PCM_S16LE;
    par->sample_rate = kRate;
    par->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    par->bits_per_coded_sample = 16;
    par->block_align = 2;
    par->bit_rate = kRate * 16;
    st->time_base = {1, kRate};
    rc = avio_open(&fmt->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0)
        fail("Cannot create " + path, rc);
    rc = avformat_write_header(fmt, nullptr);
    if (rc < 0)
        fail("Cannot write " + path, rc);
    const int64_t total = static_cast<int64_t>(seconds * kRate);
    const int64_t chunk = kRate / 10;
    for (int64_t s = 0; s < total; s += chunk) {
        const int64_t count = std::min(chunk, total - s);
        rc = av_new_packet(guard.p, static_cast<int>(count * 2));
        if (rc < 0)
            fail("Cannot write " + path, rc);
        std::memset(guard.p->data, 0, static_cast<std::size_t>(count * 2));
        guard.p->pts = guard.p->dts = s;
        guard.p->duration = count;
        guard.p->stream_index = st->index;
        av_packet_rescale_ts(guard.p, AVRational{1, kRate}, st->time_base);
        rc = av_interleaved_write_frame(fmt, guard.p);
        av_packet_unref(guard.p);
        if (rc < 0)
            fail("Cannot write " + path, rc);
    }
    rc = av_write_trailer(fmt);
    if (rc < 0)
        fail("Cannot write " + path, rc);
}

} // namespace corvane::sim
