#include "OGG_Writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <vorbis/vorbisenc.h>

std::vector<std::vector<float>> OGG_iToneSamples(const OGG_Tone& tone) {
  const double pi = 3.14159265358979323846;
  int64_t frames = int64_t(tone.seconds * tone.rate + 0.5);
  if (frames < 0) frames = 0;
  int32_t channels = tone.channels < 1 ? 1 : tone.channels;
  std::vector<std::vector<float>> pcm(static_cast<size_t>(channels));
  for (auto& ch : pcm) ch.assign(static_cast<size_t>(frames), 0.0f);
  int64_t fadeFrames = int64_t(tone.fade * tone.rate);
  for (int32_t c = 0; c < channels; ++c) {
    double f = tone.frequency[c == 0 ? 0 : 1];
    for (int64_t i = 0; i < frames; ++i) {
      double env = 1.0;
      if (fadeFrames > 0) {
        if (i < fadeFrames) env = double(i) / double(fadeFrames);
        if (frames - 1 - i < fadeFrames) env = std::min(env, double(frames - 1 - i) / double(fadeFrames));
      }
      pcm[size_t(c)][size_t(i)] = float(tone.amplitude * env * std::sin(2 * pi * f * double(i) / tone.rate));
    }
  }
  return pcm;
}

namespace {

void appendPage(std::vector<uint8_t>& out, const ogg_page& page) {
  out.insert(out.end(), page.header, page.header + page.header_len);
  out.insert(out.end(), page.body, page.body + page.body_len);
}

// The three header packets, each page of them flushed to out.
void writeHeaders(vorbis_dsp_state& vd, vorbis_comment& vc, ogg_stream_state& os, std::vector<uint8_t>& out) {
  ogg_packet header, comments, codebooks;
  vorbis_analysis_headerout(&vd, &vc, &header, &comments, &codebooks);
  ogg_stream_packetin(&os, &header);
  ogg_stream_packetin(&os, &comments);
  ogg_stream_packetin(&os, &codebooks);
  ogg_page page;
  while (ogg_stream_flush(&os, &page) != 0) appendPage(out, page);
}

}  // namespace

std::vector<uint8_t> OGG_iEncode(const std::vector<std::vector<float>>& pcm, int32_t rate, float quality,
                                 int32_t serial) {
  std::vector<uint8_t> out;
  int channels = int(pcm.size());
  if (channels < 1 || rate <= 0) return out;
  size_t frames = pcm[0].size();

  vorbis_info vi;
  vorbis_info_init(&vi);
  if (vorbis_encode_init_vbr(&vi, channels, rate, quality) != 0) {
    vorbis_info_clear(&vi);
    return out;
  }
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_comment_add_tag(&vc, "ENCODER", "ogggen");
  vorbis_dsp_state vd;
  vorbis_block vb;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, serial);

  writeHeaders(vd, vc, os, out);
  ogg_page page;

  const size_t block = 1024;
  size_t done = 0;
  bool eos = false;
  ogg_int64_t lastPage = 0;
  while (!eos) {
    size_t n = frames - done < block ? frames - done : block;
    if (n == 0) {
      vorbis_analysis_wrote(&vd, 0);
    } else {
      float** buffer = vorbis_analysis_buffer(&vd, int(n));
      for (int c = 0; c < channels; ++c)
        for (size_t i = 0; i < n; ++i) buffer[c][i] = pcm[size_t(c)][done + i];
      vorbis_analysis_wrote(&vd, int(n));
      done += n;
    }
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      ogg_packet op;
      while (vorbis_bitrate_flushpacket(&vd, &op)) {
        ogg_stream_packetin(&os, &op);
        // Short pages (about 4096 frames each), as streaming encoders
        // write them, so that even a short file spans several pages.
        bool cut = op.granulepos - lastPage >= 4096;
        if (cut) lastPage = op.granulepos;
        while ((cut ? ogg_stream_flush(&os, &page) : ogg_stream_pageout(&os, &page)) != 0) {
          appendPage(out, page);
          if (ogg_page_eos(&page)) eos = true;
        }
      }
    }
    if (n == 0 && !eos) {
      // Everything was handed over: flush what remains.
      while (ogg_stream_flush(&os, &page) != 0) appendPage(out, page);
      eos = true;
    }
  }

  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return out;
}

uint8_t OGG_iTinyPacket() {
  // Bit 0: audio packet (0); bit 1: mode 1, the long block of libvorbisenc's
  // two modes; bits 2 and 3: long previous and next windows.
  return 0x0E;
}

std::vector<uint8_t> OGG_iEncodeTinyPackets(int32_t channels, int32_t rate, int32_t packets, int32_t serial) {
  std::vector<uint8_t> out;
  vorbis_info vi;
  vorbis_info_init(&vi);
  if (channels < 1 || rate <= 0 || vorbis_encode_init_vbr(&vi, channels, rate, 0.5f) != 0) {
    vorbis_info_clear(&vi);
    return out;
  }
  const int64_t half = vorbis_info_blocksize(&vi, 1) / 2;
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_dsp_state vd;
  vorbis_analysis_init(&vd, &vi);
  ogg_stream_state os;
  ogg_stream_init(&os, serial);
  writeHeaders(vd, vc, os, out);
  ogg_page page;

  unsigned char byte = OGG_iTinyPacket();
  for (int32_t i = 0; i < packets; ++i) {
    ogg_packet op{};
    op.packet = &byte;
    op.bytes = 1;
    op.packetno = 3 + i;
    // The first block only primes the overlap.
    op.granulepos = half * i;
    op.e_o_s = i == packets - 1;
    ogg_stream_packetin(&os, &op);
    while (ogg_stream_pageout(&os, &page) != 0) appendPage(out, page);
  }
  while (ogg_stream_flush(&os, &page) != 0) appendPage(out, page);

  ogg_stream_clear(&os);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return out;
}

std::vector<uint8_t> OGG_iEncodeTone(const OGG_Tone& tone) {
  return OGG_iEncode(OGG_iToneSamples(tone), tone.rate, tone.quality, tone.serial);
}

bool OGG_iWriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}
