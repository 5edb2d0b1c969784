#include "video/AviFrameSource.h"

#include "common/Error.h"
#include "video/AviCheck.h"
#include "video/FrameConverter.h"
#include "video/Intensities.h"
#include "video/Monochrome.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/log.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <set>

namespace corvane {

namespace {

std::string avText(int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

std::string fourccText(uint32_t tag) {
    if (tag == 0)
        return "none";
    char buf[AV_FOURCC_MAX_STRING_SIZE] = {};
    av_fourcc_make_string(buf, tag);
    return buf;
}

// FFmpeg reports every oddity of a damaged file on stderr; the player reports
// what matters itself.
void quietLibraries() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

// How many times the source steps further back when the key frame it found
// turns out to give no picture (a dropped frame carries no data).
constexpr int kMaxSeekRetries = 16;

} // namespace

namespace {

// n * num / den seconds in units of 1 / perSecond, to the nearest unit with
// ties to even, exactly in integers.
int64_t rationalTime(int64_t n, int64_t num, int64_t den, int64_t perSecond) {
    if (den <= 0 || num < 0 || n < 0)
        return 0;
    const __int128 total = static_cast<__int128>(n) * num * perSecond;
    __int128 q = total / den;
    const __int128 twiceRest = 2 * (total % den);
    if (twiceRest > den || (twiceRest == den && (q & 1) != 0))
        ++q;
    return q > INT64_MAX ? INT64_MAX : static_cast<int64_t>(q);
}

} // namespace

int64_t frameTimeMs(int64_t n, int64_t num, int64_t den) {
    return rationalTime(n, num, den, 1000);
}

int64_t frameTimeUs(int64_t n, int64_t num, int64_t den) {
    return rationalTime(n, num, den, 1000000);
}

bool looksLikeAvi(const unsigned char* head, std::size_t size) {
    return size >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "AVI ", 4) == 0;
}

namespace {

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The header of a video chunk: "NNdb" or "NNdc" and the size of its data.
bool chunkHeaderAt(const uint8_t* p, uint32_t size) {
    return p[2] == 'd' && (p[3] == 'b' || p[3] == 'c') && le32(p + 4) == size;
}

} // namespace

// Uncompressed frames read straight from the file: the index gives each
// frame's chunk, only the rows asked for are read, and they are turned into
// intensities as the decoded picture's would be. Used only for a layout
// checked against the decoder's own picture of the first frame; anything
// else (a chunk of another size, a header that is not where the index says)
// goes through the decoder.
class RawChunks {
public:
    RawChunks() = default;
    RawChunks(const RawChunks&) = delete;
    RawChunks& operator=(const RawChunks&) = delete;
    ~RawChunks() {
        if (fd_ >= 0)
            ::close(fd_);
    }

    // The chunks of frames 0 .. frames - 1 from the stream's index; false
    // for a stream that cannot be read this way.
    bool index(const std::string& path, AVStream* st, int format, int64_t startPts, int64_t frames);
    // The layout taken from the decoder's picture of the first recorded
    // frame, checked against its chunk; false when they differ.
    bool adopt(const AVFrame* decoded);
    int64_t firstFrame() const { return first_; }
    // The part `band` of frame n into `out` (whole rows are read, only the
    // band's columns converted); false when the frame must be decoded instead.
    bool readRows(int64_t n, const PixelRect& band, IntensityPlane& out);

private:
    // Where frame n's rows start in the file; -1 when it has none, or when
    // `checked` and its chunk's header is not there.
    int64_t dataOffset(int64_t n, bool checked = false) const;
    bool readAt(int64_t offset, std::size_t bytes, uint8_t* out) const;
    int storedRow(int y) const { return bottomUp_ ? height_ - 1 - y : y; }

    bool usable_ = false;
    int fd_ = -1;
    // Per frame the file offset of the chunk whose picture it shows (a
    // dropped frame shows the frame before it); -1 for none.
    std::vector<int64_t> chunk_;
    int64_t first_ = -1;
    uint32_t chunkBytes_ = 0;
    int headerBytes_ = 8; // from an index entry's position to the data
    int width_ = 0, height_ = 0;
    std::size_t stride_ = 0, rowBytes_ = 0;
    bool bottomUp_ = false;
    int format_ = AV_PIX_FMT_NONE;
    uint16_t lut_[256] = {}; // intensity of each palette index
    std::vector<uint8_t> rows_;
};

bool RawChunks::index(const std::string& path, AVStream* st, int format, int64_t startPts,
                      int64_t frames) {
    const AVCodecParameters* par = st->codecpar;
    if (par->codec_id != AV_CODEC_ID_RAWVIDEO || frames <= 0 ||
        (format != AV_PIX_FMT_GRAY8 && format != AV_PIX_FMT_PAL8 && format != AV_PIX_FMT_BGR24))
        return false;
    width_ = par->width;
    height_ = par->height;
    format_ = format;
    rowBytes_ = static_cast<std::size_t>(width_) * (format_ == AV_PIX_FMT_BGR24 ? 3 : 1);
    chunk_.assign(static_cast<std::size_t>(frames), -1);
    const int entries = avformat_index_get_entries_count(st);
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(st, i);
        const int64_t n = e ? e->timestamp - startPts : -1;
        if (!e || e->size <= 0 || n < 0 || n >= frames)
            continue;
        if (chunkBytes_ == 0)
            chunkBytes_ = static_cast<uint32_t>(e->size);
        if (static_cast<uint32_t>(e->size) != chunkBytes_ || e->pos < 8)
            return false;
        if (chunk_[static_cast<std::size_t>(n)] < 0)
            chunk_[static_cast<std::size_t>(n)] = e->pos;
    }
    if (chunkBytes_ == 0 || chunkBytes_ % static_cast<uint32_t>(height_) != 0)
        return false;
    stride_ = chunkBytes_ / static_cast<uint32_t>(height_);
    if (stride_ < rowBytes_)
        return false;
    for (std::size_t n = 0; n < chunk_.size(); ++n) {
        if (chunk_[n] >= 0 && first_ < 0)
            first_ = static_cast<int64_t>(n);
        if (chunk_[n] < 0 && n > 0)
            chunk_[n] = chunk_[n - 1];
    }
    // The decoder turns a picture stored bottom row first the right way up.
    bottomUp_ = par->extradata_size >= 9 &&
                std::memcmp(par->extradata + par->extradata_size - 9, "BottomUp", 9) == 0;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        return false;
    // An index entry points at its chunk's header or at its data.
    const int64_t pos = chunk_[static_cast<std::size_t>(first_)];
    uint8_t head[16];
    if (!readAt(pos - 8, sizeof head, head))
        return false;
    if (chunkHeaderAt(head + 8, chunkBytes_))
        headerBytes_ = 8;
    else if (chunkHeaderAt(head, chunkBytes_))
        headerBytes_ = 0;
    else
        return false;
    // The last chunk's header where the index says shows the offsets hold
    // throughout; a frame is not checked again each time it is read.
    return dataOffset(frames - 1, true) >= 0;
}

bool RawChunks::adopt(const AVFrame* f) {
    const int64_t at = dataOffset(first_, true);
    if (!f || at < 0 || f->format != format_ || f->width != width_ || f->height != height_)
        return false;
    rows_.resize(chunkBytes_);
    if (!readAt(at, chunkBytes_, rows_.data()))
        return false;
    for (int y = 0; y < height_; ++y)
        if (std::memcmp(rows_.data() + static_cast<std::size_t>(storedRow(y)) * stride_,
                        f->data[0] + static_cast<std::ptrdiff_t>(y) * f->linesize[0],
                        rowBytes_) != 0)
            return false;
    rows_ = {}; // from now on only bands are read
    const uint32_t* palette = reinterpret_cast<const uint32_t*>(f->data[1]);
    if (format_ == AV_PIX_FMT_PAL8 && !palette)
        return false;
    for (unsigned i = 0; i < 256; ++i) {
        if (format_ == AV_PIX_FMT_PAL8) {
            const uint32_t p = palette[i]; // 0xAARRGGBB
            lut_[i] = static_cast<uint16_t>(
                monochrome(((p >> 16) & 0xFF) | (p & 0xFF00) | ((p & 0xFF) << 16)));
        }
    }
    usable_ = true;
    return true;
}

bool RawChunks::readAt(int64_t offset, std::size_t bytes, uint8_t* out) const {
    while (bytes > 0) {
        const ssize_t got = ::pread(fd_, out, bytes, static_cast<off_t>(offset));
        if (got <= 0)
            return false;
        out += got;
        offset += got;
        bytes -= static_cast<std::size_t>(got);
    }
    return true;
}

int64_t RawChunks::dataOffset(int64_t n, bool checked) const {
    if (n < 0 || static_cast<std::size_t>(n) >= chunk_.size() || fd_ < 0)
        return -1;
    const int64_t pos = chunk_[static_cast<std::size_t>(n)];
    uint8_t header[8];
    if (pos < 0 || (checked && (!readAt(pos - (8 - headerBytes_), sizeof header, header) ||
                                !chunkHeaderAt(header, chunkBytes_))))
        return -1;
    return pos + headerBytes_;
}

bool RawChunks::readRows(int64_t n, const PixelRect& band, IntensityPlane& out) {
    if (!usable_)
        return false;
    const PixelRect part = clippedTo(band, width_, height_);
    const int top = part.top, bottom = part.bottom;
    // The band's rows lie together in the file, whichever way up it is stored.
    const int firstStored = bottomUp_ ? storedRow(bottom - 1) : top;
    const std::size_t count = static_cast<std::size_t>(bottom - top);
    rows_.resize(count * stride_);
    const int64_t at = dataOffset(n);
    if (at < 0 ||
        !readAt(at + static_cast<int64_t>(static_cast<std::size_t>(firstStored) * stride_),
                rows_.size(), rows_.data()))
        return false;
    out.reset(width_, height_);
    const std::size_t x0 = static_cast<std::size_t>(part.left);
    const std::size_t w = static_cast<std::size_t>(part.right - part.left);
    const std::size_t bytesPerPixel = format_ == AV_PIX_FMT_BGR24 ? 3 : 1;
    for (int y = top; y < bottom; ++y) {
        const uint8_t* __restrict s =
            rows_.data() + static_cast<std::size_t>(storedRow(y) - firstStored) * stride_ +
            x0 * bytesPerPixel;
        uint16_t* __restrict v = out.row(y) + x0;
        if (format_ == AV_PIX_FMT_BGR24) {
            for (std::size_t x = 0; x < w; ++x, s += 3)
                v[x] = detail::kIntensityOfSumRef[s[0] + s[1] + s[2]];
        } else if (format_ == AV_PIX_FMT_GRAY8) {
            for (std::size_t x = 0; x < w; ++x)
                v[x] = intensityOfGrey8(s[x]);
        } else {
            for (std::size_t x = 0; x < w; ++x)
                v[x] = lut_[s[x]];
        }
    }
    out.hold(part);
    return true;
}

struct AviFrameSource::Impl {
    std::string path;
    AVFormatContext* fmt = nullptr;
    AVCodecContext* ctx = nullptr;
    AVStream* st = nullptr;
    AVPacket* pkt = nullptr;
    int streamIndex = -1;
    int64_t frames = 0;
    int64_t startPts = 0;
    bool intraOnly = true;
    SourceStats stats;
    FrameConverter converter;
    RawChunks raw;

    // Decoding state. `last` is the newest frame handed over (number lastNo);
    // `ahead` a frame already decoded past the one asked for (aheadNo).
    AVFrame* last = nullptr;
    AVFrame* ahead = nullptr;
    bool hasLast = false;
    bool hasAhead = false;
    int64_t lastNo = -1;
    int64_t aheadNo = -1;
    bool atStart = true; // freshly opened: the next frame is the first
    bool draining = false;
    // The decoder answered EAGAIN: `pkt` still holds that packet (frame
    // pendingNo) and goes in again once the decoder has handed frames out.
    bool pending = false;
    int64_t pendingNo = -1;
    bool eof = false;
    int64_t seekTarget = 0; // frame number of the key frame of the last seek
    int64_t nextDts = 0;    // numbering of packets without a time stamp
    // Frame numbers of packets sent and not yet out of the decoder. Frames
    // come out in display order, so the k-th frame out is the k-th smallest.
    std::set<int64_t> inFlight;
    // Frames whose data the decoder refused.
    std::set<int64_t> failed;
    // Frames the index gives a chunk with data (empty: no index to tell).
    std::vector<bool> recorded;

    ~Impl() {
        av_frame_free(&last);
        av_frame_free(&ahead);
        av_packet_free(&pkt);
        avcodec_free_context(&ctx);
        avformat_close_input(&fmt);
    }

    [[noreturn]] void fail(const std::string& what) const { throw Error(what + ": " + path); }

    void open();
    void openStreams();
    void openCodec();
    void countFrames();
    void findDroppedFrames();

    int64_t keyFrameAtOrBefore(int64_t n) const;
    void seek(int64_t n);
    bool receiveNext();
    bool sendNextPacket();
    void submit(int64_t no);
    int64_t numberOf(const AVFrame* f, bool& known);
    bool advanceTo(int64_t n);
    // Positions the decoder so that `last` holds frame n's picture.
    bool locate(int64_t n);
    bool decode(int64_t n, Frame& out);
    bool decodeBand(int64_t n, const PixelRect& band, IntensityPlane& out);
    void openRawChunks();
};

void AviFrameSource::Impl::open() {
    quietLibraries();
    checkAviFile(path); // missing, empty, not an AVI, truncated: clear messages
    const AVInputFormat* avi = av_find_input_format("avi");
    const int rc = avformat_open_input(&fmt, path.c_str(), avi, nullptr);
    if (rc < 0) {
        fmt = nullptr;
        fail("The AVI file is damaged and cannot be read (" + avText(rc) + ")");
    }
    openStreams();
    pkt = av_packet_alloc();
    last = av_frame_alloc();
    ahead = av_frame_alloc();
    if (!pkt || !last || !ahead)
        throw Error("Out of memory");
    if (ctx)
        openRawChunks();
}

void AviFrameSource::Impl::openStreams() {
    bool hasAudio = false;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* s = fmt->streams[i];
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(s->disposition & AV_DISPOSITION_ATTACHED_PIC) && streamIndex < 0)
            streamIndex = static_cast<int>(i);
        if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            hasAudio = true;
    }
    if (fmt->nb_streams == 0)
        fail("The AVI file is damaged (its header describes no stream)");
    if (streamIndex < 0) {
        if (!hasAudio)
            fail("The file holds no video or audio stream");
        return; // a file without a picture opens, but has no frames
    }
    st = fmt->streams[streamIndex];
    const AVCodecParameters* par = st->codecpar;
    if (par->width <= 0 || par->height <= 0 || par->width > kMaxSide || par->height > kMaxSide)
        fail("Unsupported frame size " + std::to_string(par->width) + " x " +
             std::to_string(par->height) + " (at most " + std::to_string(kMaxSide) + " x " +
             std::to_string(kMaxSide) + ")");
    if (st->time_base.num <= 0 || st->time_base.den <= 0)
        fail("The video has no valid frame rate");
    startPts = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    countFrames();
    openCodec();
    findDroppedFrames();
}

void AviFrameSource::Impl::openRawChunks() {
    if (!raw.index(path, st, ctx->pix_fmt, startPts, frames))
        return;
    // The decoder's picture of the first recorded frame shows how the rows
    // are stored; it stays decoded for the first read.
    if (locate(raw.firstFrame()) && lastNo == raw.firstFrame())
        raw.adopt(last);
}

// The index lists the chunks that hold data; a dropped frame's zero-length
// chunk is counted in the numbering but gets no entry.
void AviFrameSource::Impl::findDroppedFrames() {
    const int entries = avformat_index_get_entries_count(st);
    if (entries <= 0 || frames <= 0)
        return;
    recorded.assign(static_cast<std::size_t>(frames), false);
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(st, i);
        const int64_t n = e ? e->timestamp - startPts : -1;
        if (e && e->size > 0 && n >= 0 && n < frames)
            recorded[static_cast<std::size_t>(n)] = true;
    }
}

void AviFrameSource::Impl::countFrames() {
    // libavformat's count is right also for OpenDML files over 1 GB, whose
    // main header covers only the first part; fall back to the duration.
    int64_t n = st->nb_frames;
    if (n <= 0 && st->duration != AV_NOPTS_VALUE && st->duration > 0)
        n = st->duration;
    if (n <= 0 && fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0)
        n = av_rescale_q(fmt->duration, AV_TIME_BASE_Q, st->time_base);
    if (n < 0)
        n = 0;
    if (n > kMaxFrames)
        fail("The video has too many frames (" + std::to_string(n) + "; at most " +
             std::to_string(kMaxFrames) + ")");
    if (corvane::frameTimeMs(n, st->time_base.num, st->time_base.den) > INT32_MAX)
        fail("The video is too long to be played (more than 24 days)");
    frames = n;
}

void AviFrameSource::Impl::openCodec() {
    const AVCodecParameters* par = st->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (par->codec_id == AV_CODEC_ID_NONE || !codec)
        fail("Unsupported video codec " + (par->codec_id == AV_CODEC_ID_NONE
                                               ? std::string("'") + fourccText(par->codec_tag) + "'"
                                               : std::string(avcodec_get_name(par->codec_id))));
    ctx = avcodec_alloc_context3(codec);
    if (!ctx)
        throw Error("Out of memory");
    int rc = avcodec_parameters_to_context(ctx, par);
    if (rc < 0)
        fail("Cannot read the parameters of the " + std::string(codec->name) + " video");
    ctx->pkt_timebase = st->time_base;
    ctx->max_pixels = static_cast<int64_t>(kMaxSide) * kMaxSide;
    const AVCodecDescriptor* desc = avcodec_descriptor_get(par->codec_id);
    intraOnly = desc && (desc->props & AV_CODEC_PROP_INTRA_ONLY);
    // Inter-frame codecs decode noticeably faster on all cores; intra-only
    // frames are cheap and single-threaded decoding keeps errors per frame.
    ctx->thread_count = intraOnly ? 1 : 0;
    rc = avcodec_open2(ctx, codec, nullptr);
    if (rc < 0)
        fail("Cannot open the " + std::string(codec->name) + " video decoder (" + avText(rc) + ")");
}

int64_t AviFrameSource::Impl::keyFrameAtOrBefore(int64_t n) const {
    const int idx = av_index_search_timestamp(st, n + startPts, AVSEEK_FLAG_BACKWARD);
    if (idx < 0)
        return 0;
    const AVIndexEntry* e = avformat_index_get_entry(st, idx);
    return e ? e->timestamp - startPts : 0;
}

void AviFrameSource::Impl::seek(int64_t n) {
    ++stats.seeks;
    const int64_t key = n > 0 ? keyFrameAtOrBefore(n) : 0;
    int rc = av_seek_frame(fmt, streamIndex, key + startPts, AVSEEK_FLAG_BACKWARD);
    bool fromStart = false;
    if (rc < 0) { // no usable index: from the beginning
        rc = av_seek_frame(fmt, streamIndex, startPts, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
        fromStart = true;
    }
    avcodec_flush_buffers(ctx);
    if (pending)
        av_packet_unref(pkt);
    pending = false;
    hasLast = hasAhead = false;
    lastNo = aheadNo = -1;
    atStart = false;
    draining = false;
    inFlight.clear();
    seekTarget = fromStart ? 0 : key;
    nextDts = seekTarget;
    // A file that cannot be repositioned at all would go on decoding from
    // wherever it stood, under the wrong numbers: it gives no frame instead.
    eof = rc < 0;
}

// Reads the next packet of the video stream and gives it to the decoder.
// False at the end of the file (the decoder is then told to drain).
bool AviFrameSource::Impl::sendNextPacket() {
    if (pending) {
        submit(pendingNo);
        return true;
    }
    for (;;) {
        const int rc = av_read_frame(fmt, pkt);
        if (rc < 0) {
            avcodec_send_packet(ctx, nullptr);
            draining = true;
            return false;
        }
        if (pkt->stream_index != streamIndex) {
            av_packet_unref(pkt);
            continue;
        }
        int64_t no = pkt->dts != AV_NOPTS_VALUE   ? pkt->dts - startPts
                     : pkt->pts != AV_NOPTS_VALUE ? pkt->pts - startPts
                                                  : nextDts;
        nextDts = no + 1;
        if (pkt->size == 0) { // a dropped frame: nothing to decode
            av_packet_unref(pkt);
            continue;
        }
        inFlight.insert(no);
        submit(no);
        return true;
    }
}

// Gives the packet in `pkt` (frame `no`) to the decoder. EAGAIN means the
// decoder holds frames to hand out first; the packet is kept, not lost, and
// goes in again on the next call.
void AviFrameSource::Impl::submit(int64_t no) {
    const int sent = avcodec_send_packet(ctx, pkt);
    pending = sent == AVERROR(EAGAIN);
    pendingNo = no;
    if (pending)
        return;
    av_packet_unref(pkt);
    if (sent < 0) {
        inFlight.erase(no);
        failed.insert(no);
    }
}

int64_t AviFrameSource::Impl::numberOf(const AVFrame* f, bool& known) {
    known = true;
    if (intraOnly) {
        // In AVI a frame's time stamp is its chunk index, dropped chunks
        // included, so the numbering stays right across them.
        const int64_t ts =
            f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
        if (ts != AV_NOPTS_VALUE) {
            inFlight.erase(ts - startPts);
            return ts - startPts;
        }
    }
    // Inter-frame codecs: AVI stores no display times, and with B-frames the
    // decoder hands frames out in display order, not in chunk order. Frames
    // come out in display order, so the k-th frame out after a key frame is
    // the k-th smallest chunk number in flight (H.264 from an IDR frame).
    if (inFlight.empty()) {
        known = false;
        return -1;
    }
    int64_t no = *inFlight.begin();
    // After a seek, an open GOP (MPEG-4 Part 2, MPEG-2) starts with B-frames
    // that belong before the key frame; the decoder drops them for want of
    // their reference. The chunk that released a frame, less the decoder's
    // reordering delay, is then its number, and the dropped ones are passed.
    if (f->pkt_dts != AV_NOPTS_VALUE && ctx->has_b_frames > 0) {
        const int64_t released = f->pkt_dts - startPts - ctx->has_b_frames;
        if (released > no)
            no = released;
    }
    inFlight.erase(inFlight.begin(), inFlight.upper_bound(no));
    return no;
}

// Decodes the next frame into `ahead`. False at the end of the stream.
bool AviFrameSource::Impl::receiveNext() {
    for (int idle = 0; idle < 1000000; ++idle) {
        const int rc = avcodec_receive_frame(ctx, ahead);
        if (rc == 0) {
            ++stats.framesDecoded;
            bool known = false;
            const int64_t no = numberOf(ahead, known);
            if (!known || ahead->width <= 0 || ahead->height <= 0 || ahead->width > kMaxSide ||
                ahead->height > kMaxSide) {
                av_frame_unref(ahead);
                continue;
            }
            aheadNo = no;
            hasAhead = true;
            return true;
        }
        if (rc == AVERROR_EOF) {
            eof = true;
            return false;
        }
        if (rc != AVERROR(EAGAIN)) {
            // A damaged frame reported late (threaded decoding): it is the
            // oldest frame still in flight.
            if (!inFlight.empty()) {
                failed.insert(*inFlight.begin());
                inFlight.erase(inFlight.begin());
            }
            if (draining)
                continue;
        }
        if (draining) {
            eof = true;
            return false;
        }
        sendNextPacket();
    }
    eof = true;
    return false;
}

// Decodes forward until `last` holds frame n or the last frame before n.
bool AviFrameSource::Impl::advanceTo(int64_t n) {
    for (;;) {
        if (hasLast && lastNo == n)
            return true;
        if (hasAhead) {
            if (aheadNo > n)
                return hasLast;
            hasAhead = false;
            if (hasLast && aheadNo <= lastNo) { // a repeated number: keep the first
                av_frame_unref(ahead);
                continue;
            }
            av_frame_unref(last);
            av_frame_move_ref(last, ahead);
            lastNo = aheadNo;
            hasLast = true;
            continue;
        }
        if (eof || !receiveNext())
            return hasLast;
    }
}

bool AviFrameSource::Impl::locate(int64_t n) {
    if (!ctx || n < 0 || n >= frames)
        return false;
    bool needSeek = false;
    if (hasLast && n < lastNo) {
        needSeek = true;
    } else if (!hasLast && !atStart) {
        needSeek = true;
    } else if (!eof) {
        // Jump when a key frame lies beyond the frames we would decode anyway.
        const int64_t next = hasAhead ? aheadNo : (hasLast ? lastNo + 1 : 0);
        needSeek = n > next && keyFrameAtOrBefore(n) > next;
    }
    if (needSeek)
        seek(n);
    advanceTo(n);
    // A key frame that is a dropped frame gives no picture: go further back.
    for (int retry = 0;
         !hasLast && hasAhead && aheadNo > n && seekTarget > 0 && retry < kMaxSeekRetries;
         ++retry) {
        const int64_t before = keyFrameAtOrBefore(seekTarget - 1);
        seek(before);
        advanceTo(n);
    }
    if (!hasLast || lastNo > n)
        return false;
    // A frame without a picture of its own is a dropped frame (also at the
    // end of the file, where the header counts frames that hold no data): it
    // shows the frame before it. A frame whose data the decoder refused shows
    // nothing.
    return failed.count(n) == 0;
}

bool AviFrameSource::Impl::decode(int64_t n, Frame& out) {
    if (!locate(n) || !converter.convert(last, out))
        return false;
    ++stats.framesConverted;
    return true;
}

bool AviFrameSource::Impl::decodeBand(int64_t n, const PixelRect& band, IntensityPlane& out) {
    if (n < 0 || n >= frames)
        return false;
    if (raw.readRows(n, band, out)) {
        ++stats.framesDecoded;
        return true;
    }
    return locate(n) && converter.convertBand(last, band, out);
}

AviFrameSource::AviFrameSource(const std::string& path) : impl_(std::make_unique<Impl>()) {
    impl_->path = path;
    impl_->open();
}

AviFrameSource::~AviFrameSource() = default;

bool AviFrameSource::hasVideo() const {
    return impl_->ctx != nullptr;
}
int32_t AviFrameSource::frameCount() const {
    return hasVideo() ? static_cast<int32_t>(impl_->frames) : 0;
}
int64_t AviFrameSource::timeBaseNum() const {
    return impl_->st ? impl_->st->time_base.num : 1;
}
int64_t AviFrameSource::timeBaseDen() const {
    return impl_->st ? impl_->st->time_base.den : 1;
}
double AviFrameSource::frameRate() const {
    if (!impl_->st)
        return 0;
    return static_cast<double>(impl_->st->time_base.den) / impl_->st->time_base.num;
}
int64_t AviFrameSource::frameTimeUs(int32_t n) const {
    return corvane::frameTimeUs(n, timeBaseNum(), timeBaseDen());
}
int32_t AviFrameSource::frameTimeMs(int32_t n) const {
    // The opening refuses videos whose length in ms does not fit 32 bits.
    return static_cast<int32_t>(corvane::frameTimeMs(n, timeBaseNum(), timeBaseDen()));
}
RecordingStart AviFrameSource::recordingStart() const {
    return modificationTimeStart(impl_->path);
}
FrameFate AviFrameSource::frameFate(int32_t n) const {
    const std::vector<bool>& r = impl_->recorded;
    if (n < 0 || static_cast<std::size_t>(n) >= r.size())
        return FrameFate::Recorded;
    return r[static_cast<std::size_t>(n)] ? FrameFate::Recorded : FrameFate::Dropped;
}
int AviFrameSource::width() const {
    return impl_->st ? impl_->st->codecpar->width : 0;
}
int AviFrameSource::height() const {
    return impl_->st ? impl_->st->codecpar->height : 0;
}
int AviFrameSource::samplesPerPixel() const {
    return colourLayout() == ColourLayout::Mono ? 1 : 3;
}
ColourLayout AviFrameSource::colourLayout() const {
    if (!impl_->st)
        return ColourLayout::Mono;
    const int f = impl_->st->codecpar->format;
    return f == AV_PIX_FMT_GRAY8 ? ColourLayout::Mono : ColourLayout::Decoded;
}
std::string AviFrameSource::codecName() const {
    return impl_->st ? avcodec_get_name(impl_->st->codecpar->codec_id) : "";
}
std::string AviFrameSource::formatName() const {
    return hasVideo() ? "AVI, " + codecName() : "AVI";
}
bool AviFrameSource::read(int32_t n, Frame& out) {
    return impl_->decode(n, out);
}
bool AviFrameSource::readBand(int32_t n, const PixelRect& band, Frame& out) {
    return impl_->decodeBand(n, band, out.intensity);
}
bool AviFrameSource::decodeOnly(int32_t n, Frame& /*scratch*/) {
    return impl_->locate(n);
}
SourceStats AviFrameSource::stats() const {
    return impl_->stats;
}

} // namespace corvane
