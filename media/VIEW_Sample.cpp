#include "media/VIEW_Sample.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

#include <vorbis/vorbisfile.h>

#include "media/VIEW_Budget.h"
#include "package/CTRL_File.h"

int32_t VIEW_Sample::maxFrames = INT32_MAX;

// ---------------------------------------------------------------- memory stream

size_t VIEW_iMemRead(void* buffer, size_t size, size_t count, void* stream) {
  auto* s = static_cast<VIEW_MemStream*>(stream);
  if (!s || size == 0 || s->position >= s->size) return 0;
  size_t left = s->size - s->position;
  // Whole elements only, and never more than what is left.
  size_t elements = count < left / size ? count : left / size;
  size_t n = elements * size;
  if (n > 0) std::memcpy(buffer, s->bytes + s->position, n);
  s->position += n;
  return elements;
}

int VIEW_iMemSeek(void* stream, int64_t offset, int whence) {
  auto* s = static_cast<VIEW_MemStream*>(stream);
  if (!s) return -1;
  // Computed in 64 bits and clamped, so that no offset can wrap.
  int64_t size = int64_t(s->size);
  int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? int64_t(s->position) : size;
  int64_t p;
  if (offset > 0 && base > INT64_MAX - offset) p = size;
  else if (offset < 0 && base < INT64_MIN - offset) p = 0;
  else p = base + offset;
  if (p < 0) p = 0;
  if (p > size) p = size;
  s->position = size_t(p);
  return 0;
}

int VIEW_iMemClose(void*) { return 0; }

long VIEW_iMemTell(void* stream) {
  auto* s = static_cast<VIEW_MemStream*>(stream);
  return s ? long(s->position) : -1;
}

// ---------------------------------------------------------------- channels

namespace {

constexpr size_t HUGE_BLOCK = size_t(2) << 20;

// Makes room for n more floats by the array rule: at least 128, doubling.
// A consumed front is taken back first when what remains is no more than
// it (so that each frame moves at most once for every frame consumed).
bool reserve(VIEW_SampleChannel& ch, int32_t n) {
  int64_t need = int64_t(ch.count) + n;
  if (need > VIEW_Sample::maxFrames || need > INT32_MAX) return false;
  if (need <= ch.capacity) return true;
  if (ch.owned && ch.front > 0 && ch.front >= ch.count && need <= int64_t(ch.front) + ch.capacity) {
    float* block = ch.samples - ch.front;
    if (ch.count > 0) std::memmove(block, ch.samples, sizeof(float) * size_t(ch.count));
    ch.samples = block;
    ch.capacity += ch.front;
    ch.front = 0;
    return true;
  }
  int64_t cap = ch.capacity < 128 ? 128 : ch.capacity;
  while (cap < need) cap *= 2;
  if (cap > INT32_MAX) cap = INT32_MAX;
  size_t bytes = sizeof(float) * size_t(cap);
  if (!VIEW_iBudgetReserve(bytes)) return false;
  float* old = ch.samples ? ch.samples - ch.front : nullptr;
  float* p = nullptr;
  if (bytes >= HUGE_BLOCK) {
    // Large channels live on huge pages where the system offers them: a
    // minute of sound is tens of megabytes, and faulting it in 4 KB pages
    // would cost more than decoding it.
    size_t rounded = (bytes + HUGE_BLOCK - 1) / HUGE_BLOCK * HUGE_BLOCK;
    p = static_cast<float*>(std::aligned_alloc(HUGE_BLOCK, rounded));
    if (p) {
#ifdef MADV_HUGEPAGE
      madvise(p, rounded, MADV_HUGEPAGE);
#endif
      if (ch.samples && ch.count > 0) std::memcpy(p, ch.samples, sizeof(float) * size_t(ch.count));
      if (ch.owned) std::free(old);
    }
  } else if (ch.owned && ch.front == 0) {
    p = static_cast<float*>(std::realloc(old, bytes));
  } else {
    p = static_cast<float*>(std::malloc(bytes));
    if (p) {
      if (ch.samples && ch.count > 0) std::memcpy(p, ch.samples, sizeof(float) * size_t(ch.count));
      if (ch.owned) std::free(old);
    }
  }
  if (!p) {
    VIEW_iBudgetRelease(bytes);
    return false;
  }
  VIEW_iBudgetRelease(ch.charged);
  ch.charged = bytes;
  ch.samples = p;
  ch.capacity = int32_t(cap);
  ch.front = 0;
  ch.owned = 1;
  return true;
}

void freeChannels(CTRL_Array<VIEW_SampleChannel>& channels) {
  for (VIEW_SampleChannel& ch : channels) VIEW_iFreeChannel(ch);
  channels.resize(0);
}

}  // namespace

void VIEW_iFreeChannel(VIEW_SampleChannel& ch) {
  if (ch.owned && ch.samples) std::free(ch.samples - ch.front);
  VIEW_iBudgetRelease(ch.charged);
  ch.samples = nullptr;
  ch.count = ch.capacity = ch.front = 0;
  ch.charged = 0;
}

void VIEW_iConsumeChannel(VIEW_SampleChannel& ch, int64_t n) {
  if (n <= 0) return;
  if (n >= ch.count) {
    VIEW_iFreeChannel(ch);
    return;
  }
  ch.samples += n;
  ch.count -= int32_t(n);
  ch.capacity -= int32_t(n);
  ch.front += int32_t(n);
}

void VIEW_Sample::setChannelCount(int32_t count) {
  freeChannels(channels);
  if (count <= 0 || !channels.resize(count)) return;
  for (VIEW_SampleChannel& ch : channels) ch = VIEW_SampleChannel{nullptr, 0, 0, 1, 0, 0};
}

bool VIEW_Sample::append(int32_t channel, const float* src, int32_t n) {
  if (channel < 0 || channel >= channels.count || n < 0 || (n > 0 && !src)) return false;
  VIEW_SampleChannel& ch = channels.data[channel];
  if (!reserve(ch, n)) return false;
  if (n > 0) std::memcpy(ch.samples + ch.count, src, sizeof(float) * size_t(n));
  ch.count += n;
  return true;
}

bool VIEW_Sample::appendSilence(int32_t channel, int32_t n) {
  if (channel < 0 || channel >= channels.count || n < 0) return false;
  VIEW_SampleChannel& ch = channels.data[channel];
  if (!reserve(ch, n)) return false;
  if (n > 0) std::memset(ch.samples + ch.count, 0, sizeof(float) * size_t(n));
  ch.count += n;
  return true;
}

// ---------------------------------------------------------------- decoding

VIEW_Sample::VIEW_Sample(const char* fileName, uint8_t* bytes, uint32_t size, uint8_t freeBytes) {
  if (fileName) {
    size_t len = std::strlen(fileName);
    name = static_cast<char*>(std::malloc(len + 1));
    if (name) std::memcpy(name, fileName, len + 1);
  }
  VIEW_MemStream stream{bytes, bytes ? size_t(size) : 0, 0};
  ov_callbacks callbacks{};
  callbacks.read_func = &VIEW_iMemRead;
  callbacks.seek_func = &VIEW_iMemSeek;
  callbacks.close_func = &VIEW_iMemClose;
  callbacks.tell_func = &VIEW_iMemTell;

  OggVorbis_File vf;
  if (ov_open_callbacks(&stream, &vf, nullptr, 0, callbacks) == 0) {
    vorbis_info* info = ov_info(&vf, -1);
    if (info && info->channels > 0 && info->rate > 0) {
      sampleRate = uint32_t(info->rate);
      setChannelCount(info->channels);
      // Room for the whole length the stream announces, so that decoding
      // does not copy on growth. The announcement is only trusted as far as
      // the file's size makes it plausible; past that the arrays grow as
      // usual.
      int64_t announced = ov_pcm_total(&vf, -1);
      int64_t plausible = int64_t(size) * 64;
      int64_t want = announced < plausible ? announced : plausible;
      if (want > 0)
        for (int32_t c = 0; c < channels.count; ++c) reserve(channels.data[c], int32_t(std::min<int64_t>(want, maxFrames)));
      const uint64_t refusedBefore = VIEW_iBudgetRefusals();
      int errors = 0;
      bool full = false;
      while (!full && channels.count > 0) {
        float** pcm = nullptr;
        int link = 0;
        long n = ov_read_float(&vf, &pcm, 4096, &link);
        if (n == 0) break;  // end of the stream
        if (n < 0) {
          // Damaged data adds nothing; a stream that only keeps failing is
          // given up, keeping what was decoded.
          if (++errors >= MAX_CONSECUTIVE_ERRORS) break;
          continue;
        }
        errors = 0;
        // Each link of a chained file has its own channel count: take the
        // channels it has, and pad the others with silence so that every
        // channel keeps the same length.
        vorbis_info* li = ov_info(&vf, link);
        int32_t have = li && li->channels > 0 ? li->channels : 0;
        if (!pcm) have = 0;
        for (int32_t c = 0; c < channels.count && !full; ++c) {
          bool ok = c < have ? append(c, pcm[c], int32_t(n)) : appendSilence(c, int32_t(n));
          if (!ok) full = true;
        }
        if (full && VIEW_iBudgetRefusals() != refusedBefore) {
          // Past the media budget: the sample fails as undecodable data
          // does, and what it took goes back.
          CTRL_iDebugLog("Sound %s: decoded sound over the media budget; left empty", name ? name : "");
          freeChannels(channels);
          sampleRate = 0;
          break;
        }
        if (full) {
          // Keep the channels equal: cut all to the shortest.
          int32_t shortest = channels.data[0].count;
          for (const VIEW_SampleChannel& ch : channels)
            if (ch.count < shortest) shortest = ch.count;
          for (VIEW_SampleChannel& ch : channels) ch.count = shortest;
        }
      }
    }
    ov_clear(&vf);
  }
  if (freeBytes) std::free(bytes);
}

VIEW_Sample::~VIEW_Sample() {
  if (ownsChannels) freeChannels(channels);
  std::free(name);
  name = nullptr;
  LMP_iReleaseProxy(&proxy);
}
