#include "TG_Writer.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include <ogg/ogg.h>
#include <theora/theoraenc.h>
#include <vorbis/vorbisenc.h>

void TG_FrameColour(int i, uint8_t* y, uint8_t* cb, uint8_t* cr)
{
    i %= 720;
    if (i < 0) i += 720;
    // Steps far apart enough to survive the encoder's rounding.
    *y = (uint8_t)(40 + 6 * (i % 30));
    *cb = (uint8_t)(72 + 16 * ((i / 30) % 8));
    *cr = (uint8_t)(96 + 32 * (i / 240));
}

void TG_BarColour(int bar, uint8_t* y, uint8_t* cb, uint8_t* cr)
{
    // Red, green, blue, white.
    static const uint8_t k[4][3] = {{81, 90, 240}, {145, 54, 34}, {41, 240, 110}, {235, 128, 128}};
    if (bar < 0 || bar > 3) {
        *y = 16, *cb = 128, *cr = 128;  // black
        return;
    }
    *y = k[bar][0], *cb = k[bar][1], *cr = k[bar][2];
}

namespace {

struct Page {
    std::vector<uint8_t> bytes;
    double time;  // end time of its last packet; headers -1
};

void keepPage(std::vector<Page>* pages, const ogg_page& og, double time)
{
    Page p;
    p.bytes.assign(og.header, og.header + og.header_len);
    p.bytes.insert(p.bytes.end(), og.body, og.body + og.body_len);
    p.time = time;
    pages->push_back(std::move(p));
}

// Stripes, gradients and grain that move with the frame: detail in every
// block, as in filmed pictures.
void fillMoving(int frame, th_ycbcr_buffer buf)
{
    uint32_t seed = 0x9e3779b9u * (uint32_t)(frame + 1);
    for (int p = 0; p < 3; p++) {
        th_img_plane& pl = buf[p];
        for (int r = 0; r < pl.height; r++) {
            uint8_t* row = pl.data + (ptrdiff_t)r * pl.stride;
            for (int c = 0; c < pl.width; c++) {
                seed = seed * 1664525u + 1013904223u;
                int grain = (int)(seed >> 29) - 4;
                int v;
                if (p == 0)
                    v = 128 + (int)(60 * std::sin((c + 2 * frame) * 0.11) * std::cos((r - frame) * 0.07)) + grain;
                else
                    v = 128 + (int)(40 * std::sin((c * (p == 1 ? 1 : -1) + r + 3 * frame) * 0.05)) + grain / 2;
                row[c] = (uint8_t)(v < 16 ? 16 : v > 240 ? 240 : v);
            }
        }
    }
}

void fillFrame(const TG_Options& o, int frame, th_ycbcr_buffer buf)
{
    if (o.moving) {
        fillMoving(frame, buf);
        return;
    }
    uint8_t fy, fcb, fcr;
    TG_FrameColour(frame, &fy, &fcb, &fcr);
    if (o.flatY >= 0) fy = (uint8_t)o.flatY, fcb = (uint8_t)o.flatCb, fcr = (uint8_t)o.flatCr;
    const int xdec = !(o.pixelFormat & 1), ydec = !(o.pixelFormat & 2);
    for (int p = 0; p < 3; p++) {
        th_img_plane& pl = buf[p];
        for (int r = 0; r < pl.height; r++) {
            uint8_t* row = pl.data + (ptrdiff_t)r * pl.stride;
            for (int c = 0; c < pl.width; c++) {
                uint8_t v[3] = {fy, fcb, fcr};
                if (o.bars) {
                    // Position in picture coordinates.
                    int px = p == 0 ? c : (c << xdec);
                    int py = p == 0 ? r : (r << ydec);
                    px -= o.picX;
                    py -= o.picY;
                    int bar = -1;
                    if (py >= 0 && py < o.height / 2 && px >= 0 && px < o.width) {
                        int w = o.width / 4 > 0 ? o.width / 4 : 1;
                        bar = px / w > 3 ? 3 : px / w;
                    }
                    TG_BarColour(bar, &v[0], &v[1], &v[2]);
                }
                row[c] = v[p];
            }
        }
    }
}

}  // namespace

std::vector<uint8_t> TG_Encode(const TG_Options& o)
{
    std::vector<uint8_t> out;
    if (o.width <= 0 || o.height <= 0 || o.frames < 0 || o.fpsNumerator <= 0 || o.fpsDenominator <= 0)
        return out;

    th_info ti;
    th_info_init(&ti);
    ti.frame_width = (uint32_t)((o.picX + o.width + 15) & ~15);
    ti.frame_height = (uint32_t)((o.picY + o.height + 15) & ~15);
    ti.pic_width = (uint32_t)o.width;
    ti.pic_height = (uint32_t)o.height;
    ti.pic_x = (uint32_t)o.picX;
    ti.pic_y = (uint32_t)o.picY;
    ti.fps_numerator = (uint32_t)o.fpsNumerator;
    ti.fps_denominator = (uint32_t)o.fpsDenominator;
    ti.aspect_numerator = ti.aspect_denominator = 1;
    ti.colorspace = TH_CS_UNSPECIFIED;
    ti.pixel_fmt = (th_pixel_fmt)o.pixelFormat;
    ti.target_bitrate = 0;
    ti.quality = 63;
    ti.keyframe_granule_shift = 6;
    th_enc_ctx* enc = th_encode_alloc(&ti);
    if (!enc) {
        th_info_clear(&ti);
        return out;
    }
    ogg_uint32_t interval = (ogg_uint32_t)(o.keyframeInterval > 0 ? o.keyframeInterval : 1);
    th_encode_ctl(enc, TH_ENCCTL_SET_KEYFRAME_FREQUENCY_FORCE, &interval, sizeof interval);

    ogg_stream_state vs, as;
    ogg_stream_init(&vs, 0x7e0a);
    ogg_stream_init(&as, 0x50d1);
    std::vector<Page> header0, header1, video, audio;
    ogg_page og;
    ogg_packet op;

    th_comment tc;
    th_comment_init(&tc);
    bool first = true;
    while (th_encode_flushheader(enc, &tc, &op) > 0) {
        ogg_stream_packetin(&vs, &op);
        if (first) {
            // The first header packet alone on the opening page.
            while (ogg_stream_flush(&vs, &og)) keepPage(&header0, og, -1);
            first = false;
        }
    }
    while (ogg_stream_flush(&vs, &og)) keepPage(&header1, og, -1);

    vorbis_info vi;
    vorbis_comment vc;
    vorbis_dsp_state vd;
    vorbis_block vb;
    bool sound = o.sound;
    if (sound) {
        vorbis_info_init(&vi);
        if (vorbis_encode_init_vbr(&vi, o.soundChannels, o.soundRate, 0.3f) != 0) {
            vorbis_info_clear(&vi);
            sound = false;
        }
    }
    if (sound) {
        vorbis_comment_init(&vc);
        vorbis_analysis_init(&vd, &vi);
        vorbis_block_init(&vd, &vb);
        ogg_packet h0, h1, h2;
        vorbis_analysis_headerout(&vd, &vc, &h0, &h1, &h2);
        ogg_stream_packetin(&as, &h0);
        while (ogg_stream_flush(&as, &og)) keepPage(&header0, og, -1);
        ogg_stream_packetin(&as, &h1);
        ogg_stream_packetin(&as, &h2);
        while (ogg_stream_flush(&as, &og)) keepPage(&header1, og, -1);
    }

    // Pictures.
    const int xdec = !(o.pixelFormat & 1), ydec = !(o.pixelFormat & 2);
    std::vector<uint8_t> planes[3];
    th_ycbcr_buffer buf;
    for (int p = 0; p < 3; p++) {
        int w = (int)ti.frame_width >> (p ? xdec : 0);
        int h = (int)ti.frame_height >> (p ? ydec : 0);
        planes[p].assign((size_t)w * h, 0);
        buf[p].width = w;
        buf[p].height = h;
        buf[p].stride = w;
        buf[p].data = planes[p].data();
    }
    const double fps = (double)o.fpsNumerator / o.fpsDenominator;
    int frameOfColour = -1;
    for (int f = 0; f < o.frames; f++) {
        int colour = o.bars || o.flatY >= 0 ? 0 : f;
        if (o.moving) frameOfColour = -1;
        if (colour != frameOfColour) {
            fillFrame(o, f, buf);
            frameOfColour = colour;
        }
        if (th_encode_ycbcr_in(enc, buf) != 0)
            break;
        while (th_encode_packetout(enc, f == o.frames - 1, &op) > 0) {
            ogg_stream_packetin(&vs, &op);
            if (o.pagePerFrame) {
                while (ogg_stream_flush(&vs, &og)) keepPage(&video, og, (f + 1) / fps);
            }
        }
        while (ogg_stream_pageout(&vs, &og)) keepPage(&video, og, (f + 1) / fps);
    }
    while (ogg_stream_flush(&vs, &og)) keepPage(&video, og, o.frames / fps);

    if (sound && o.soundTinyPackets > 0) {
        const int64_t half = vorbis_info_blocksize(&vi, 1) / 2;
        unsigned char byte = 0x0E;  // audio, long block, long windows; its data end at once
        for (int i = 0; i < o.soundTinyPackets; i++) {
            ogg_packet tiny{};
            tiny.packet = &byte;
            tiny.bytes = 1;
            tiny.packetno = 3 + i;
            tiny.granulepos = half * i;
            tiny.e_o_s = i == o.soundTinyPackets - 1;
            ogg_stream_packetin(&as, &tiny);
            // Spread over the pictures' time, as a muxer interleaves them.
            while (ogg_stream_pageout(&as, &og))
                keepPage(&audio, og, o.frames / fps * (i + 1) / o.soundTinyPackets);
        }
        while (ogg_stream_flush(&as, &og))
            keepPage(&audio, og, o.frames / fps);
        vorbis_block_clear(&vb);
        vorbis_dsp_clear(&vd);
        vorbis_comment_clear(&vc);
        vorbis_info_clear(&vi);
    } else if (sound) {
        // A tone as long as the pictures.
        long total = (long)std::ceil(o.frames / fps * o.soundRate);
        long done = 0;
        while (done < total) {
            long n = total - done < 1024 ? total - done : 1024;
            float** b = vorbis_analysis_buffer(&vd, (int)n);
            for (long i = 0; i < n; i++) {
                float s = 0.25f * (float)std::sin(2.0 * M_PI * 440.0 * (double)(done + i) / o.soundRate);
                for (int c = 0; c < o.soundChannels; c++) b[c][i] = s;
            }
            vorbis_analysis_wrote(&vd, (int)n);
            done += n;
            while (vorbis_analysis_blockout(&vd, &vb) == 1) {
                vorbis_analysis(&vb, nullptr);
                vorbis_bitrate_addblock(&vb);
                while (vorbis_bitrate_flushpacket(&vd, &op)) ogg_stream_packetin(&as, &op);
            }
            while (ogg_stream_pageout(&as, &og))
                keepPage(&audio, og, (double)ogg_page_granulepos(&og) / o.soundRate);
        }
        vorbis_analysis_wrote(&vd, 0);
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            while (vorbis_bitrate_flushpacket(&vd, &op)) ogg_stream_packetin(&as, &op);
        }
        while (ogg_stream_flush(&as, &og))
            keepPage(&audio, og, (double)ogg_page_granulepos(&og) / o.soundRate);
        vorbis_block_clear(&vb);
        vorbis_dsp_clear(&vd);
        vorbis_comment_clear(&vc);
        vorbis_info_clear(&vi);
    }

    for (const Page& p : header0) out.insert(out.end(), p.bytes.begin(), p.bytes.end());
    for (const Page& p : header1) out.insert(out.end(), p.bytes.begin(), p.bytes.end());
    // Data pages interleaved by time, so that a reader finds the sound it
    // needs near the pictures it shows.
    size_t i = 0, j = 0;
    while (i < video.size() || j < audio.size()) {
        bool takeVideo = j >= audio.size() || (i < video.size() && video[i].time <= audio[j].time);
        const Page& p = takeVideo ? video[i++] : audio[j++];
        out.insert(out.end(), p.bytes.begin(), p.bytes.end());
    }

    th_comment_clear(&tc);
    th_encode_free(enc);
    th_info_clear(&ti);
    ogg_stream_clear(&vs);
    ogg_stream_clear(&as);
    return out;
}
