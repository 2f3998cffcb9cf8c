// theoragen: our Ogg Theora writer.
//   theoragen seeds DIR      small videos for the reader's fuzz target
//   theoragen demo FILE      the demo's video (moving stripes, with sound)
//   theoragen video FILE W H FRAMES [FORMAT [sound]]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "TG_Writer.h"

static bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    if (bytes.empty()) {
        std::fprintf(stderr, "theoragen: encoding %s failed\n", path.c_str());
        return false;
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "theoragen: cannot write %s\n", path.c_str());
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

static int seeds(const std::string& dir)
{
    struct Seed {
        const char* name;
        int w, h, frames, format, picX, picY;
        bool sound, bars, pagePerFrame;
    } list[] = {
        {"flat_8x8_420", 8, 8, 3, 0, 0, 0, false, false, false},
        {"odd_7x5_420", 7, 5, 3, 0, 0, 0, false, false, true},
        {"offset_9x9_422", 9, 9, 2, 2, 3, 5, false, false, false},
        {"bars_17x13_444", 17, 13, 2, 3, 0, 0, false, true, false},
        {"sound_16x16_420", 16, 16, 4, 0, 0, 0, true, false, true},
        {"bright_blue_16x8_420", 16, 8, 2, 0, 0, 0, false, false, false},
    };
    bool ok = true;
    for (const Seed& s : list) {
        TG_Options o;
        o.width = s.w;
        o.height = s.h;
        o.frames = s.frames;
        o.pixelFormat = s.format;
        o.picX = s.picX;
        o.picY = s.picY;
        o.sound = s.sound;
        o.soundRate = 8000;
        o.bars = s.bars;
        o.pagePerFrame = s.pagePerFrame;
        o.keyframeInterval = 2;
        if (std::strncmp(s.name, "bright_blue", 11) == 0)  // luma and blue chroma near their top
            o.flatY = 250, o.flatCb = 250, o.flatCr = 110;
        ok = writeFile(dir + "/" + s.name + ".ogv", TG_Encode(o)) && ok;
    }
    return ok ? 0 : 1;
}

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "seeds") == 0)
        return seeds(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "demo") == 0) {
        TG_Options o;
        // Five seconds of moving stripes over a tone, looped by the player.
        o.width = 192;
        o.height = 144;
        o.frames = 125;
        o.moving = true;
        o.sound = true;
        o.soundRate = 22050;
        o.soundChannels = 2;
        o.keyframeInterval = 25;
        return writeFile(argv[2], TG_Encode(o)) ? 0 : 1;
    }
    if ((argc == 6 || argc == 7 || argc == 8) && std::strcmp(argv[1], "video") == 0) {
        TG_Options o;
        o.width = std::atoi(argv[3]);
        o.height = std::atoi(argv[4]);
        o.frames = std::atoi(argv[5]);
        if (argc >= 7) o.pixelFormat = std::atoi(argv[6]);
        o.sound = argc == 8 && std::strcmp(argv[7], "sound") == 0;
        return writeFile(argv[2], TG_Encode(o)) ? 0 : 1;
    }
    std::fprintf(stderr,
                 "usage: theoragen seeds DIR | demo FILE | video FILE W H FRAMES [FORMAT [sound]]\n");
    return 2;
}
