#include "media/VIEW_Stream.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <ogg/ogg.h>
#include <theora/theoradec.h>
#include <vorbis/codec.h>

#include "media/VIEW_Budget.h"
#include "media/VIEW_Texture.h"
#include "media/VIEW_YuvRows.h"
#include "package/CTRL_File.h"

namespace {

const uint32_t kPiece = 4096;        // file reads, bytes
const int kTailSteps = 10;           // tail reads of 4096, 8192, ... 40960 bytes
const int kBisectionSteps = 32;
const uint32_t kMaxSoundRate = 192000;
const int kMaxSoundChannels = 8;
// The sound is decoded this far ahead of what the mixer has consumed, and no
// further: the rest waits, still compressed, in the logical stream.
const double kSoundAhead = 1.0;  // seconds

// The frame texture owns its pixel block (a plain texture never frees raw
// pixels), so that it can outlive the stream on the controller's list.
class VIEW_FrameTexture : public VIEW_Texture {
public:
    ~VIEW_FrameTexture() override
    {
        std::free(data);
        data = nullptr;
        VIEW_iBudgetRelease(charged);
    }
    uint64_t charged = 0;  // bytes of the pixel block counted against the media budget
};

const char* fileName(const CTRL_File* f) { return f && f->name ? f->name : ""; }

long fileTell(CTRL_File* f)
{
    if (!f) return 0;
    if (f->isDisk) return std::ftell(f->diskFile);
    return f->position;
}

}  // namespace

void VIEW_iYCbCrToRgb(int y, int cb, int cr, uint8_t rgb[3])
{
    auto clamp = [](int64_t v) -> uint8_t {
        v >>= 22;
        return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
    };
    const int64_t Y = y, Cb = cb, Cr = cr;
    rgb[0] = clamp(4883779LL * Y + 6694222LL * Cr - 932903662LL);
    rgb[1] = clamp(4883779LL * Y - 1643170LL * Cb - 3409833LL * Cr + 570741154LL);
    rgb[2] = clamp(4883779LL * Y + 8460885LL * Cb - 1159036566LL);
}

struct VIEW_StreamDecoder {
    ogg_sync_state sync;
    ogg_page page;
    int64_t syncStart = 0;   // file offset of the first byte the sync layer holds unread
    int64_t pageOffset = 0;  // file offset of the page in `page`
    ogg_stream_state theora, vorbis;
    bool hasTheora = false, hasVorbis = false;
    th_info ti;
    th_comment tc;
    th_setup_info* setup = nullptr;
    th_dec_ctx* ctx = nullptr;
    vorbis_info vi;
    vorbis_comment vc;
    vorbis_dsp_state vd;
    vorbis_block vb;
    bool dspReady = false, blockReady = false;
    int theoraHeaders = 0, vorbisHeaders = 0;
    ogg_packet packet;  // the picture packet taken last

    VIEW_StreamDecoder()
    {
        std::memset(&page, 0, sizeof page);
        std::memset(&theora, 0, sizeof theora);
        std::memset(&vorbis, 0, sizeof vorbis);
        std::memset(&vd, 0, sizeof vd);
        std::memset(&vb, 0, sizeof vb);
        std::memset(&packet, 0, sizeof packet);
        ogg_sync_init(&sync);
        th_info_init(&ti);
        th_comment_init(&tc);
        vorbis_info_init(&vi);
        vorbis_comment_init(&vc);
    }
    ~VIEW_StreamDecoder()
    {
        clearCodecs(false);
        ogg_sync_clear(&sync);
    }
    // Back to the state of a fresh record (the sync layer stays); without
    // ready, the infos and comments are only freed.
    void clearCodecs(bool ready = true)
    {
        if (ctx) th_decode_free(ctx);
        ctx = nullptr;
        // The synthesis state reads the info while it is freed.
        if (blockReady) vorbis_block_clear(&vb);
        if (dspReady) vorbis_dsp_clear(&vd);
        blockReady = dspReady = false;
        clearHeaders(ready);
    }
    // Drops what the header pages set up: logical streams, infos, comments.
    void clearHeaders(bool ready = true)
    {
        if (setup) th_setup_free(setup);
        setup = nullptr;
        th_comment_clear(&tc);
        th_info_clear(&ti);
        vorbis_comment_clear(&vc);
        vorbis_info_clear(&vi);
        if (ready) {
            th_info_init(&ti);
            th_comment_init(&tc);
            vorbis_info_init(&vi);
            vorbis_comment_init(&vc);
        }
        if (hasTheora) ogg_stream_clear(&theora);
        if (hasVorbis) ogg_stream_clear(&vorbis);
        hasTheora = hasVorbis = false;
        theoraHeaders = vorbisHeaders = 0;
    }
};

VIEW_Stream::VIEW_Stream()
{
    texture = new VIEW_FrameTexture();
    texture->rawPixels = 1;
}

VIEW_Stream::VIEW_Stream(const char* path, CTRL_Generic* controller)
    : VIEW_Stream(CTRL_iFileOpen(controller, path, "rb"))
{
}

VIEW_Stream::VIEW_Stream(CTRL_File* opened) : VIEW_Stream()
{
    decoder = new VIEW_StreamDecoder();
    file = opened;
    if (!file) return;
    CTRL_iFileSeek(file, 0, SEEK_END);
    long end = fileTell(file);
    fileSize = end < 0 ? 0 : (uint64_t)end > 0xFFFFFFFFull ? 0xFFFFFFFFu : (uint32_t)end;
    CTRL_iFileSeek(file, 0, SEEK_SET);
    frameCount = 0;
    openStreams();
    seek(-1.0);
}

VIEW_Stream::~VIEW_Stream()
{
    if (file) CTRL_iFileClose(file);
    file = nullptr;
    delete decoder;
    decoder = nullptr;
    delete texture;
    texture = nullptr;
    LMP_iReleaseProxy(&proxy);
}

VIEW_Texture* VIEW_Stream::takeTexture()
{
    VIEW_Texture* t = texture;
    texture = nullptr;
    return t;
}

double VIEW_Stream::duration() const
{
    if (frameCount <= 0 || fpsNumerator == 0) return 0.0;
    return (double)(frameCount - 1) * fpsDenominator / fpsNumerator;
}

// ----- Pages -----------------------------------------------------------------

// The next complete page into decoder->page, reading the file in pieces;
// false at the end of the file.
bool VIEW_Stream::nextPage()
{
    VIEW_StreamDecoder* d = decoder;
    if (!d || !file) return false;
    for (;;) {
        long r = ogg_sync_pageseek(&d->sync, &d->page);
        if (r > 0) {
            d->pageOffset = d->syncStart;
            d->syncStart += r;
            return true;
        }
        if (r < 0) {
            d->syncStart -= r;  // bytes skipped while looking for a page
            continue;
        }
        char* buffer = ogg_sync_buffer(&d->sync, kPiece);
        if (!buffer) return false;
        size_t n = CTRL_iFileRead(buffer, 1, kPiece, file);
        if (n == 0) return false;
        ogg_sync_wrote(&d->sync, (long)n);
    }
}

static void resetTo(VIEW_StreamDecoder* d, CTRL_File* file, int64_t offset)
{
    ogg_sync_reset(&d->sync);
    CTRL_iFileSeek(file, (long)offset, SEEK_SET);
    d->syncStart = offset;
}

void VIEW_Stream::resetLogicalStreams()
{
    if (!decoder) return;
    if (decoder->hasTheora) ogg_stream_reset(&decoder->theora);
    if (decoder->hasVorbis) ogg_stream_reset(&decoder->vorbis);
}

bool VIEW_Stream::readPage(bool videoOnly)
{
    VIEW_StreamDecoder* d = decoder;
    if (!d || !file) return false;
    const bool wantSound = !videoOnly && d->hasVorbis && sample.channels.count > 0;
    bool theoraIn = false, vorbisIn = false;
    while (nextPage()) {
        int serial = ogg_page_serialno(&d->page);
        if (d->hasVorbis && serial == d->vorbis.serialno) {
            if (wantSound && ogg_stream_pagein(&d->vorbis, &d->page) == 0) vorbisIn = true;
            previousSoundPageTime = soundPageTime;
            int64_t g = ogg_page_granulepos(&d->page);
            soundPageTime = g >= 0 && d->vi.rate > 0 ? (double)g / (double)d->vi.rate : -1.0;
        } else if (d->hasTheora && serial == d->theora.serialno) {
            if (ogg_stream_pagein(&d->theora, &d->page) == 0) theoraIn = true;
        }
        if (theoraIn && (!wantSound || vorbisIn)) return true;
    }
    return theoraIn || vorbisIn;
}

// ----- Headers ---------------------------------------------------------------

bool VIEW_Stream::readHeaders()
{
    VIEW_StreamDecoder* d = decoder;
    d->clearHeaders();
    resetTo(d, file, 0);
    ogg_packet op;
    bool more = nextPage();
    // Pages that begin a logical stream: its first packet says what it is.
    while (more && ogg_page_bos(&d->page)) {
        ogg_stream_state trial;
        ogg_stream_init(&trial, ogg_page_serialno(&d->page));
        ogg_stream_pagein(&trial, &d->page);
        bool kept = false;
        if (ogg_stream_packetout(&trial, &op) == 1) {
            if (!d->hasTheora && th_decode_headerin(&d->ti, &d->tc, &d->setup, &op) > 0) {
                std::memcpy(&d->theora, &trial, sizeof trial);
                d->hasTheora = true;
                d->theoraHeaders = 1;
                kept = true;
            } else if (!d->hasVorbis && vorbis_synthesis_headerin(&d->vi, &d->vc, &op) == 0) {
                std::memcpy(&d->vorbis, &trial, sizeof trial);
                d->hasVorbis = true;
                d->vorbisHeaders = 1;
                kept = true;
            }
            // A refused first packet may leave partial info behind.
            if (!d->hasTheora) {
                th_comment_clear(&d->tc);
                th_info_clear(&d->ti);
                th_info_init(&d->ti);
                th_comment_init(&d->tc);
            }
            if (!d->hasVorbis) {
                vorbis_comment_clear(&d->vc);
                vorbis_info_clear(&d->vi);
                vorbis_info_init(&d->vi);
                vorbis_comment_init(&d->vc);
            }
        }
        if (!kept) ogg_stream_clear(&trial);
        more = nextPage();
    }
    // The first page that begins nothing goes to the streams found.
    if (more) {
        if (d->hasTheora) ogg_stream_pagein(&d->theora, &d->page);
        if (d->hasVorbis) ogg_stream_pagein(&d->vorbis, &d->page);
    }
    for (;;) {
        while (d->hasTheora && d->theoraHeaders < 3) {
            int r = ogg_stream_packetout(&d->theora, &op);
            if (r == 0) break;
            if (r < 0 || th_decode_headerin(&d->ti, &d->tc, &d->setup, &op) <= 0) return false;
            d->theoraHeaders++;
        }
        while (d->hasVorbis && d->vorbisHeaders < 3) {
            int r = ogg_stream_packetout(&d->vorbis, &op);
            if (r == 0) break;
            if (r < 0 || vorbis_synthesis_headerin(&d->vi, &d->vc, &op) != 0) return false;
            d->vorbisHeaders++;
        }
        if ((!d->hasTheora || d->theoraHeaders == 3) && (!d->hasVorbis || d->vorbisHeaders == 3)) return true;
        if (!more || !nextPage()) return false;
        if (d->hasTheora) ogg_stream_pagein(&d->theora, &d->page);
        if (d->hasVorbis) ogg_stream_pagein(&d->vorbis, &d->page);
    }
}

void VIEW_Stream::openStreams()
{
    VIEW_StreamDecoder* d = decoder;
    if (!readHeaders()) {
        CTRL_iDebugLog("Video: no usable headers");
        d->clearCodecs();
        return;
    }
    if (!d->hasTheora) {
        // No pictures: a picture of 0 x 0 and nothing to decode.
        CTRL_iDebugLog("Video: no picture stream");
        d->clearCodecs();
        return;
    }
    const th_info& ti = d->ti;
    if (ti.fps_numerator == 0 || ti.fps_denominator == 0) {
        CTRL_iDebugLog("Video: zero frame rate");
        d->clearCodecs();
        return;
    }
    if (ti.frame_width > VIEW_STREAM_MAX_SIDE || ti.frame_height > VIEW_STREAM_MAX_SIDE ||
        ti.pic_width > VIEW_STREAM_MAX_SIDE || ti.pic_height > VIEW_STREAM_MAX_SIDE) {
        CTRL_iDebugLog("Video: picture of %u x %u refused (sides above %d)", ti.pic_width, ti.pic_height,
                       (int)VIEW_STREAM_MAX_SIDE);
        d->clearCodecs();
        return;
    }
    d->ctx = th_decode_alloc(&d->ti, d->setup);
    if (!d->ctx) {
        d->clearCodecs();
        return;
    }
    const uint64_t bytes = (uint64_t)ti.pic_width * ti.pic_height * 3;
    texture->width = ti.pic_width;
    texture->height = ti.pic_height;
    texture->rawPixels = 1;
    if (bytes > 0) {
        // The picture counts against the media budget; past it the stream
        // is one that cannot be decoded: no picture, no sound.
        if (!VIEW_iBudgetReserve(bytes)) {
            CTRL_iDebugLog("Video %s: picture of %u x %u over the media budget", fileName(file), ti.pic_width,
                           ti.pic_height);
            texture->width = texture->height = 0;
            d->clearCodecs();
            return;
        }
        texture->data = static_cast<uint8_t*>(std::calloc(1, (size_t)bytes));
        if (!texture->data) {
            VIEW_iBudgetRelease(bytes);
            texture->width = texture->height = 0;
            d->clearCodecs();
            return;
        }
        static_cast<VIEW_FrameTexture*>(texture)->charged = bytes;
        texture->dataSize = (uint32_t)bytes;
        texture->ownsData = 1;
    }
    fpsNumerator = ti.fps_numerator;
    fpsDenominator = ti.fps_denominator;

    countFrames();

    // Back to the start: the headers once more, leaving the streams at the
    // first data packets. The decoder keeps what it was built with.
    th_dec_ctx* ctx = d->ctx;
    d->ctx = nullptr;
    const bool ok = readHeaders() && d->hasTheora;
    d->ctx = ctx;
    if (!ok) {
        d->clearCodecs();
        fpsNumerator = 0;
        fpsDenominator = 1;
        frameCount = 0;
        return;
    }
    if (d->hasVorbis && d->vorbisHeaders == 3) {
        if (d->vi.channels < 1 || d->vi.channels > kMaxSoundChannels || d->vi.rate <= 0 ||
            (unsigned long)d->vi.rate > kMaxSoundRate) {
            CTRL_iDebugLog("Video: sound of %d channels at %ld Hz ignored", d->vi.channels, d->vi.rate);
        } else if (vorbis_synthesis_init(&d->vd, &d->vi) != 0) {
            std::memset(&d->vd, 0, sizeof d->vd);
        } else {
            d->dspReady = true;
            vorbis_block_init(&d->vd, &d->vb);
            d->blockReady = true;
            sample.sampleRate = (uint32_t)d->vi.rate;
            sample.streamFed = 1;
            sample.setChannelCount(d->vi.channels);
        }
    }
}

// The frame count from the last picture page in the file's tail.
void VIEW_Stream::countFrames()
{
    VIEW_StreamDecoder* d = decoder;
    for (int step = 1; step <= kTailSteps; step++) {
        uint64_t tail = (uint64_t)kPiece * step;
        bool whole = tail >= fileSize;
        if (whole) tail = fileSize;
        resetTo(d, file, (int64_t)(fileSize - tail));
        int64_t last = -1;
        while (nextPage()) {
            if (ogg_page_serialno(&d->page) != d->theora.serialno) continue;
            int64_t g = ogg_page_granulepos(&d->page);
            if (g < 0) continue;
            int64_t f = th_granule_frame(d->ctx, g);
            if (f >= 0 && f > last) last = f;
        }
        if (last >= 0) {
            frameCount = last >= 0x7FFFFFFF ? 0x7FFFFFFF : (int32_t)(last + 1);
            return;
        }
        if (whole) return;
    }
}

// ----- Pictures --------------------------------------------------------------

bool VIEW_Stream::takeVideoPacket()
{
    VIEW_StreamDecoder* d = decoder;
    if (!d || !d->ctx) return false;
    for (;;) {
        int r = ogg_stream_packetout(&d->theora, &d->packet);
        if (r == 1) return true;
        if (r == 0) return false;
        // r < 0: a gap in the data; the next packet follows.
    }
}

bool VIEW_Stream::decodeVideoPacket(int64_t* frameIndex)
{
    *frameIndex = -1;
    VIEW_StreamDecoder* d = decoder;
    if (!d || !d->ctx) return false;
    ogg_int64_t granule = -1;
    int r = th_decode_packetin(d->ctx, &d->packet, &granule);
    // A duplicate frame (an empty packet) repeats the picture: still a frame.
    if (r != 0 && r != TH_DUPFRAME) return false;
    if (granule >= 0) *frameIndex = th_granule_frame(d->ctx, granule);
    return true;
}

void VIEW_Stream::convertFrame()
{
    VIEW_StreamDecoder* d = decoder;
    if (!texture) return;
    texture->dirty = 1;
    if (!d || !d->ctx || !texture->data) return;
    th_ycbcr_buffer buf;
    if (th_decode_ycbcr_out(d->ctx, buf) != 0) return;
    const th_info& ti = d->ti;
    const int xdec = !(ti.pixel_fmt & 1), ydec = !(ti.pixel_fmt & 2);
    const int64_t W = texture->width, H = texture->height;
    const int64_t px = ti.pic_x, py = ti.pic_y;
    // Only what every plane covers is converted; nothing is read or written
    // outside the planes or the pixel block.
    int64_t w = W, h = H;
    if (px + w > buf[0].width) w = buf[0].width - px;
    if (py + h > buf[0].height) h = buf[0].height - py;
    for (int p = 1; p < 3; p++) {
        if (((px + w - 1) >> xdec) >= buf[p].width) w = ((int64_t)buf[p].width << xdec) - px;
        if (((py + h - 1) >> ydec) >= buf[p].height) h = ((int64_t)buf[p].height << ydec) - py;
    }
    if (w <= 0 || h <= 0) return;

    for (int64_t r = 0; r < h; r++) {
        const int64_t fy = py + r;
        const uint8_t* yRow = buf[0].data + fy * buf[0].stride + px;
        const uint8_t* cbRow = buf[1].data + (fy >> ydec) * buf[1].stride;
        const uint8_t* crRow = buf[2].data + (fy >> ydec) * buf[2].stride;
        uint8_t* out = texture->data + (H - 1 - r) * W * 3;
        if (xdec && ydec && !(fy & 1) && r + 1 < h) {  // two rows on one chroma row
            VIEW_iYuvRowPairHalf(yRow, yRow + buf[0].stride, cbRow, crRow, px, w, out, out - W * 3);
            r++;
        } else if (xdec) {
            VIEW_iYuvRowHalf(yRow, cbRow, crRow, px, w, out);
        } else {
            VIEW_iYuvRowFull(yRow, cbRow + px, crRow + px, w, out);
        }
    }
}

// ----- Sound -----------------------------------------------------------------

void VIEW_Stream::appendSound(float** pcm, int n)
{
    const int channels = sample.channels.count < decoder->vi.channels ? sample.channels.count : decoder->vi.channels;
    const uint64_t refusedBefore = VIEW_iBudgetRefusals();
    bool ok = true;
    for (int c = 0; c < channels; c++) ok = sample.append(c, pcm[c], n) && ok;
    if (ok) return;
    // Sound the budget refuses is dropped, as damaged packets are; every
    // channel keeps the same length.
    int32_t shortest = INT32_MAX;
    for (const VIEW_SampleChannel& ch : sample.channels) shortest = ch.count < shortest ? ch.count : shortest;
    for (VIEW_SampleChannel& ch : sample.channels) ch.count = shortest;
    if (!soundRefused && VIEW_iBudgetRefusals() != refusedBefore) {
        soundRefused = true;
        CTRL_iDebugLog("Video %s: sound over the media budget; dropped", fileName(file));
    }
}

void VIEW_Stream::clearSound()
{
    for (VIEW_SampleChannel& ch : sample.channels) VIEW_iFreeChannel(ch);
}

void VIEW_Stream::decodeAudio()
{
    VIEW_StreamDecoder* d = decoder;
    if (!d || !d->dspReady || !d->blockReady || sample.channels.count == 0) return;
    const int64_t ahead = (int64_t)(kSoundAhead * sample.sampleRate);
    ogg_packet op;
    for (;;) {
        if (sample.frameCount() >= ahead) return;
        float** pcm = nullptr;
        int n = vorbis_synthesis_pcmout(&d->vd, &pcm);
        if (n > 0) {
            appendSound(pcm, n);
            vorbis_synthesis_read(&d->vd, n);
            continue;
        }
        int r = ogg_stream_packetout(&d->vorbis, &op);
        if (r == 0) return;
        if (r < 0) continue;
        if (vorbis_synthesis(&d->vb, &op) == 0) vorbis_synthesis_blockin(&d->vd, &d->vb);
    }
}

// ----- Seeking ---------------------------------------------------------------

void VIEW_Stream::seek(double t)
{
    VIEW_StreamDecoder* d = decoder;
    if (!d || !d->ctx || fpsNumerator == 0 || fpsDenominator == 0) return;
    // In doubles until clamped: NaN and huge times never reach an integer.
    double f = std::floor(t * fpsNumerator / fpsDenominator + 0.5);
    int64_t target;
    if (!(f > 0.0)) target = 0;  // negative or NaN
    else if (f > (double)frameCount - 1.0) target = (int64_t)frameCount - 1;
    else target = (int64_t)f;
    if (target > (int64_t)frameCount - 1) target = (int64_t)frameCount - 1;
    if (target == currentFrame) return;

    previousSoundPageTime = soundPageTime = -1.0;
    int64_t k = seekToFrame(target, true);
    if (k < 0) return;
    seekToFrame(k, false);

    const double frameTime = (double)fpsDenominator / fpsNumerator;
    for (;;) {
        if (!takeVideoPacket()) {
            if (!readPage(true)) {
                currentFrame = (int32_t)target;
                time = frameEndTime = (double)target * frameTime;
                break;
            }
            continue;
        }
        int64_t index = -1;
        if (!decodeVideoPacket(&index) || index < 0) continue;
        currentFrame = index + 1 > 0x7FFFFFFF ? 0x7FFFFFFF : (int32_t)(index + 1);
        time = frameEndTime = (double)currentFrame * frameTime;
        if (currentFrame >= target) {
            convertFrame();
            break;
        }
    }

    // Sound: start afresh at the picture's time.
    clearSound();
    if (!d->dspReady || sample.channels.count == 0) return;
    readPage(false);
    if (previousSoundPageTime < 0.0 || !(time > previousSoundPageTime)) return;
    double skip = (time - previousSoundPageTime) * sample.sampleRate;
    // A page time far from the picture's is no reason to decode for long.
    int64_t left = skip > 60.0 * sample.sampleRate ? (int64_t)(60.0 * sample.sampleRate) : (int64_t)skip;
    ogg_packet op;
    while (left > 0) {
        float** pcm = nullptr;
        int n = vorbis_synthesis_pcmout(&d->vd, &pcm);
        if (n > 0) {
            int use = (int64_t)n < left ? n : (int)left;
            vorbis_synthesis_read(&d->vd, use);
            left -= use;
            continue;
        }
        int r = ogg_stream_packetout(&d->vorbis, &op);
        if (r == 0) break;
        if (r < 0) continue;
        if (vorbis_synthesis(&d->vb, &op) == 0) vorbis_synthesis_blockin(&d->vd, &d->vb);
    }
}

int64_t VIEW_Stream::seekToFrame(int64_t frame, bool keyframePass)
{
    VIEW_StreamDecoder* d = decoder;
    if (!d || !d->ctx) return -1;
    resetLogicalStreams();
    if (d->dspReady) vorbis_synthesis_restart(&d->vd);
    const int shift = d->ti.keyframe_granule_shift;

    // Bisection for the last picture page that ends before `frame`: the
    // decode starts after it. A page ending a few frames before is taken at
    // once.
    int64_t bestOffset = -1, bestGranule = -1, bestFrame = -1;
    if (frame >= 2) {
        int64_t lo = 0, hi = fileSize;
        for (int step = 0; step < kBisectionSteps && hi - lo > 1; step++) {
            const int64_t mid = lo + (hi - lo) / 2;
            resetTo(d, file, mid);
            int64_t g = -1;
            while (nextPage()) {
                if (ogg_page_serialno(&d->page) != d->theora.serialno) continue;
                g = ogg_page_granulepos(&d->page);
                if (g >= 0) break;
            }
            if (g < 0) {
                hi = mid;
                continue;
            }
            const int64_t f = th_granule_frame(d->ctx, g) + 1;
            if (f >= 1 && f < frame) {
                if (f > bestFrame) {
                    bestFrame = f;
                    bestOffset = d->pageOffset;
                    bestGranule = g;
                }
                if (f > frame - 8) break;
                lo = mid;
            } else {
                hi = mid;
            }
        }
    }

    if (keyframePass) {
        if (bestGranule < 0) return 1;  // from the first frame
        const int64_t keyGranule = (int64_t)((uint64_t)(bestGranule >> shift) << shift);
        const int64_t k = th_granule_frame(d->ctx, keyGranule) + 1;
        return k < 1 ? 1 : k;
    }

    // The decoder numbers the next packet it decodes from the granule
    // position it is given: that of the first packet to come.
    int64_t first = 0;  // frame index
    if (bestGranule < 0) {
        // From the first data page: the headers pass by again and are
        // refused as pictures.
        resetTo(d, file, 0);
    } else {
        resetTo(d, file, bestOffset);
        if (nextPage()) {
            ogg_stream_pagein(&d->theora, &d->page);
            // The packets this page completes come first (one continued from
            // the page before is lost).
            int64_t m = ogg_page_packets(&d->page) - (ogg_page_continued(&d->page) ? 1 : 0);
            if (m < 0) m = 0;
            first = th_granule_frame(d->ctx, bestGranule) - m + 1;
        }
    }
    // Granule positions of version 3.2.1 streams count frames from 1.
    const int64_t bias = 1 - th_granule_frame(d->ctx, (int64_t)1 << shift);
    int64_t number = first + bias;
    ogg_int64_t granule = number > 0 && number < (INT64_MAX >> shift) ? (number << shift) : 0;
    th_decode_ctl(d->ctx, TH_DECCTL_SET_GRANPOS, &granule, sizeof granule);
    return -1;
}
