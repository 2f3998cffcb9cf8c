#include "platform/PLAT_Services.h"

#include "package/CTRL_Embedded.h"

#include <SDL.h>
#include <hidapi.h>

#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

extern char **environ;

// ---------------------------------------------------------------- sound
//
// The ring is read by SDL's audio thread, one device buffer per callback;
// the player writes behind it. A callback takes its whole buffer at once,
// while a looping hardware buffer's play cursor moves continuously, so the
// play cursor is reported as the start of the buffer taken last plus the
// time since that call (at the output rate, at most that buffer): it moves
// on between two calls and never passes what the device has taken. The
// write cursor lies one device buffer ahead of it. A stopped device reports
// both cursors at the same place. Cursor reads and the span between lock
// and unlock hold the device lock, so the callback never sees a half-written
// span.

// The layer hands this out as its opaque PLAT_SoundBuffer. It has a name of
// its own: the fake backend, linked into the same library, defines
// PLAT_SoundBuffer, and two layouts under one name would share one inline
// constructor.
struct PLAT_SdlSound {
    SDL_AudioDeviceID device = 0;
    std::vector<uint8_t> ring;
    uint32_t rate = 44100;
    uint32_t frameBytes = 4;
    uint32_t play = 0;         // next byte the callback reads
    uint32_t lastStart = 0;    // where the callback's last take began
    uint32_t lastBytes = 0;    // how much it took then
    uint64_t lastCall = 0;     // performance counter at that call
    uint32_t deviceBytes = 0;  // one device buffer
    bool playing = false;
};

static PLAT_SdlSound *sdl(PLAT_SoundBuffer *buffer) { return reinterpret_cast<PLAT_SdlSound *>(buffer); }

static void PLAT_iSoundCallback(void *user, Uint8 *stream, int length) {
    auto *b = static_cast<PLAT_SdlSound *>(user);
    uint32_t size = static_cast<uint32_t>(b->ring.size());
    if (!b->playing || size == 0 || length <= 0) {
        if (length > 0) memset(stream, 0, static_cast<size_t>(length));
        return;
    }
    b->lastStart = b->play;
    b->lastBytes = static_cast<uint32_t>(length);
    b->lastCall = SDL_GetPerformanceCounter();
    uint32_t left = static_cast<uint32_t>(length);
    while (left > 0) {
        uint32_t n = std::min(left, size - b->play);
        memcpy(stream, b->ring.data() + b->play, n);
        stream += n;
        left -= n;
        b->play = (b->play + n) % size;
    }
}

PLAT_SoundBuffer *PLAT_iSoundCreate(const PLAT_SoundFormat &format, uint32_t bytes) {
    if (bytes == 0 || format.bits != 16 || format.channels == 0 || format.rate == 0) return nullptr;
    // SDL would otherwise take SIGINT and SIGTERM for itself and the player
    // could not be stopped.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (!SDL_WasInit(SDL_INIT_AUDIO) && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return nullptr;
    auto b = std::make_unique<PLAT_SdlSound>();
    b->ring.assign(bytes, 0);
    b->rate = format.rate;
    b->frameBytes = 2u * format.channels;
    SDL_AudioSpec want{}, have{};
    want.freq = static_cast<int>(format.rate);
    want.format = AUDIO_S16LSB;
    want.channels = static_cast<Uint8>(format.channels);
    want.samples = 512;  // at most 512 frames a callback
    want.callback = PLAT_iSoundCallback;
    want.userdata = b.get();
    b->device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (b->device == 0) return nullptr;
    uint32_t frames = have.samples ? std::min<uint32_t>(have.samples, 512) : 512;
    b->deviceBytes = std::min<uint32_t>(frames * b->frameBytes, bytes / 2);
    b->lastCall = SDL_GetPerformanceCounter();
    // The device starts paused; soundPlay starts it.
    return reinterpret_cast<PLAT_SoundBuffer *>(b.release());
}

void PLAT_iSoundDelete(PLAT_SoundBuffer *buffer) {
    PLAT_SdlSound *b = sdl(buffer);
    if (!b) return;
    SDL_CloseAudioDevice(b->device);
    delete b;
}

bool PLAT_iSoundPlay(PLAT_SoundBuffer *buffer) {
    PLAT_SdlSound *b = sdl(buffer);
    if (!b) return false;
    SDL_LockAudioDevice(b->device);
    b->playing = true;
    SDL_UnlockAudioDevice(b->device);
    SDL_PauseAudioDevice(b->device, 0);
    return true;
}

bool PLAT_iSoundStop(PLAT_SoundBuffer *buffer) {
    PLAT_SdlSound *b = sdl(buffer);
    if (!b) return false;
    SDL_PauseAudioDevice(b->device, 1);
    SDL_LockAudioDevice(b->device);
    b->playing = false;
    SDL_UnlockAudioDevice(b->device);
    return true;
}

uint32_t PLAT_iSoundPlayCursor(uint32_t lastStart, uint32_t lastBytes, uint64_t elapsed, uint64_t frequency,
                               uint32_t rate, uint32_t frameBytes, uint32_t size) {
    if (size == 0) return 0;
    uint64_t moved = 0;
    if (frequency > 0 && frameBytes > 0) {
        // Whole frames since the last call, stopped at the end of its take.
        uint64_t cap = lastBytes / frameBytes;
        uint64_t e = std::min(elapsed, frequency);  // a second is more than any take
        auto frames = static_cast<uint64_t>(static_cast<unsigned __int128>(e) * rate / frequency);
        moved = std::min(frames, cap) * frameBytes;
    }
    return static_cast<uint32_t>((lastStart + moved) % size);
}

bool PLAT_iSoundPosition(PLAT_SoundBuffer *buffer, uint32_t *play, uint32_t *write) {
    PLAT_SdlSound *b = sdl(buffer);
    if (!b) return false;
    uint32_t size = static_cast<uint32_t>(b->ring.size());
    SDL_LockAudioDevice(b->device);
    uint64_t now = SDL_GetPerformanceCounter();
    uint32_t p = PLAT_iSoundPlayCursor(b->lastStart, b->lastBytes, now - b->lastCall, SDL_GetPerformanceFrequency(),
                                       b->rate, b->frameBytes, size);
    bool playing = b->playing;
    SDL_UnlockAudioDevice(b->device);
    *play = p;
    *write = playing ? (p + b->deviceBytes) % size : p;
    return true;
}

bool PLAT_iSoundLock(PLAT_SoundBuffer *buffer, uint32_t offset, uint32_t bytes, void **p1, uint32_t *n1, void **p2,
                     uint32_t *n2) {
    PLAT_SdlSound *b = sdl(buffer);
    if (!b) return false;
    uint32_t size = static_cast<uint32_t>(b->ring.size());
    if (offset >= size || bytes > size) return false;
    SDL_LockAudioDevice(b->device);
    uint32_t first = std::min(bytes, size - offset);
    *p1 = b->ring.data() + offset;
    *n1 = first;
    *p2 = bytes > first ? b->ring.data() : nullptr;
    *n2 = bytes - first;
    return true;
}

bool PLAT_iSoundUnlock(PLAT_SoundBuffer *buffer) {
    PLAT_SdlSound *b = sdl(buffer);
    if (!b) return false;
    SDL_UnlockAudioDevice(b->device);
    return true;
}

// ---------------------------------------------------------------- HID

namespace {

struct HidEntry {
    std::string path;
    hid_device *device = nullptr;  // opened for reading raw input
};
std::vector<HidEntry> g_hid;
bool g_hidReady = false;

bool hidReady() {
    if (!g_hidReady) g_hidReady = hid_init() == 0;
    return g_hidReady;
}

}  // namespace

int32_t PLAT_iHidList(PLAT_HidInfo *out, int32_t max) {
    if (!hidReady()) return -1;
    hid_device_info *list = hid_enumerate(0, 0);
    int32_t n = 0;
    for (hid_device_info *d = list; d; d = d->next, n++) {
        if (n >= max) continue;
        PLAT_HidInfo &info = out[n];
        info = PLAT_HidInfo{};
        info.vendor = d->vendor_id;
        info.product = d->product_id;
        info.usagePage = d->usage_page;
        info.usage = d->usage;
        snprintf(info.path, sizeof info.path, "%s", d->path ? d->path : "");
    }
    hid_free_enumeration(list);
    return n;
}

uint32_t PLAT_iHidRegister(const PLAT_HidInfo &info) {
    if (!hidReady()) return 0;
    for (size_t i = 0; i < g_hid.size(); i++)
        if (g_hid[i].path == info.path) return static_cast<uint32_t>(i + 1);
    hid_device *d = hid_open_path(info.path);
    if (!d) return 0;
    hid_set_nonblocking(d, 1);
    g_hid.push_back(HidEntry{info.path, d});
    return static_cast<uint32_t>(g_hid.size());
}

bool PLAT_iHidName(uint32_t handle, char *name, uint32_t size) {
    if (handle == 0 || handle > g_hid.size() || size == 0) return false;
    snprintf(name, size, "%s", g_hid[handle - 1].path.c_str());
    return true;
}

int32_t PLAT_iHidWrite(const char *name, const uint8_t *bytes, uint32_t length) {
    if (!hidReady() || !name) return -1;
    hid_device *d = hid_open_path(name);
    if (!d) return -1;
    int r = hid_write(d, bytes, length);
    hid_close(d);
    return r < 0 ? -1 : r;
}

void PLAT_iHidPoll(std::vector<std::vector<uint8_t>> *records) {
    uint8_t report[1024];
    for (size_t i = 0; i < g_hid.size(); i++) {
        if (!g_hid[i].device) continue;
        for (int reads = 0; reads < 16; reads++) {
            int n = hid_read(g_hid[i].device, report, sizeof report);
            if (n <= 0) break;
            PLAT_RawInputHeader h{};
            h.type = PLAT_RIM_TYPEHID;
            h.size = static_cast<uint32_t>(sizeof h + static_cast<size_t>(n));
            h.device = static_cast<uint32_t>(i + 1);
            h.reportSize = static_cast<uint32_t>(n);
            h.reportCount = 1;
            std::vector<uint8_t> rec(sizeof h + static_cast<size_t>(n));
            memcpy(rec.data(), &h, sizeof h);
            memcpy(rec.data() + sizeof h, report, static_cast<size_t>(n));
            records->push_back(std::move(rec));
        }
    }
}

void PLAT_iHidShutdown() {
    for (auto &e : g_hid)
        if (e.device) hid_close(e.device);
    g_hid.clear();
    if (g_hidReady) hid_exit();
    g_hidReady = false;
}

// ---------------------------------------------------------------- misc

bool PLAT_iSpawnOpener(const char *text) {
    if (!text) return false;
    std::string arg(text);
    char program[] = "xdg-open";
    char *argv[] = {program, arg.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool PLAT_iLocaleLanguage(char *out, uint32_t size) {
    if (size == 0) return false;
    const char *names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    const char *value = nullptr;
    for (const char *n : names) {
        const char *v = getenv(n);
        if (v && *v) {
            value = v;
            break;
        }
    }
    std::string code;
    if (value)
        for (const char *p = value; *p && *p != '_' && *p != '.' && *p != '@' && *p != '-'; p++)
            code += static_cast<char>(tolower(static_cast<unsigned char>(*p)));
    if (code.empty() || code == "c" || code == "posix") code = "en";
    snprintf(out, size, "%s", code.c_str());
    return true;
}

int64_t PLAT_iCounter() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

int64_t PLAT_iFrequency() { return 1000000000LL; }

bool PLAT_iReadAppended(const char *path, std::vector<uint8_t> *out) {
    out->clear();
    FILE *f = fopen(path, "rb");
    if (!f) return false;
    bool ok = false;
    uint8_t trailer[CTRL_EMBED_TRAILER];
    uint64_t offset = 0, length = 0;
    off_t fileSize = 0;
    if (fseeko(f, 0, SEEK_END) == 0 && (fileSize = ftello(f)) >= static_cast<off_t>(CTRL_EMBED_TRAILER) &&
        fseeko(f, fileSize - static_cast<off_t>(CTRL_EMBED_TRAILER), SEEK_SET) == 0 &&
        fread(trailer, 1, sizeof trailer, f) == sizeof trailer &&
        CTRL_iParseEmbedTrailer(trailer, static_cast<uint64_t>(fileSize), &offset, &length) &&
        length <= 0xFFFFFFFFull) {
        out->resize(static_cast<size_t>(length));
        ok = fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0 && fread(out->data(), 1, out->size(), f) == out->size();
        if (!ok) out->clear();
    }
    fclose(f);
    return ok;
}
