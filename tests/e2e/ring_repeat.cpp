// Reads a recording of 16-bit stereo sound (SDL's disk driver output) and
// reports how much of it is sound, and the longest stretch of sound in which
// every byte equals the byte one ring earlier: a player whose mixer stopped
// feeding the ring plays that ring over and over.
//   ring_repeat FILE RING_BYTES [FROM TO]
// prints "sound S repeat R" (seconds, at 44,100 frames per second), for the
// bytes from FROM to TO when given (the whole file otherwise).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char **argv) {
    if (argc != 3 && argc != 5) {
        fprintf(stderr, "usage: ring_repeat FILE RING_BYTES [FROM TO]\n");
        return 2;
    }
    FILE *f = fopen(argv[1], "rb");
    if (!f) {
        fprintf(stderr, "cannot open %s\n", argv[1]);
        return 2;
    }
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(f);
    const size_t ring = strtoul(argv[2], nullptr, 10);
    const double bytesPerSecond = 44100.0 * 4;
    if (ring == 0 || ring % 4 != 0) return 2;

    // Frame by frame (4 bytes): loud when a sample stands above the noise
    // floor; repeated when the frame equals the one a ring earlier.
    size_t frames = bytes.size() / 4, loud = 0, run = 0, longest = 0, first = 0;
    if (argc == 5) {
        first = strtoul(argv[3], nullptr, 10) / 4;
        size_t last = strtoul(argv[4], nullptr, 10) / 4;
        if (last < frames) frames = last;
    }
    for (size_t i = first; i < frames; i++) {
        const uint8_t *p = &bytes[4 * i];
        int16_t left = static_cast<int16_t>(p[0] | (p[1] << 8)), right = static_cast<int16_t>(p[2] | (p[3] << 8));
        bool isLoud = abs(left) > 64 || abs(right) > 64;
        loud += isLoud ? 1 : 0;
        bool repeated = 4 * i >= ring && p[0] == p[-ring] && p[1] == p[1 - ring] && p[2] == p[2 - ring] &&
                        p[3] == p[3 - ring];
        // Quiet frames neither break nor make a run: the ring's own quiet
        // stretches repeat too.
        if (!repeated)
            run = 0;
        else if (isLoud && ++run > longest)
            longest = run;
    }
    printf("sound %.3f repeat %.3f\n", loud * 4 / bytesPerSecond, longest * 4 / bytesPerSecond);
    return 0;
}
