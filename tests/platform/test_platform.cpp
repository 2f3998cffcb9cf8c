#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/PLAT.h"
#include "platform/PLAT_Keys.h"
#include "platform/PLAT_Services.h"

namespace {

std::string tempDir() {
    char pattern[] = "/tmp/halvorin-plat-XXXXXX";
    const char *d = mkdtemp(pattern);
    return d ? d : "/tmp";
}

void writeFile(const std::string &path, const std::string &bytes) {
    std::ofstream f(path, std::ios::binary);
    f << bytes;
}

std::string trailer(uint64_t length) {
    std::string t(16, '\0');
    for (int i = 0; i < 8; i++) t[i] = static_cast<char>(length >> (8 * i));
    t.replace(8, 8, "HVRC0130");
    return t;
}

}  // namespace

TEST(PlatformKeys, KeySymbolsBecomeVirtualKeys) {
    struct Case {
        uint32_t keysym, vk;
    } cases[] = {
        {'a', 'A'},       {'Z', 'Z'},       {'7', '7'},       {0xFF1B, 0x1B} /* Escape */,
        {0xFF0D, 0x0D},   {0xFF8D, 0x0D} /* keypad Enter */,   {0xFFBE, 0x70} /* F1 */,
        {0xFFC9, 0x7B} /* F12 */,           {0xFFB0, 0x60} /* keypad 0 */,
        {0xFF51, 0x25},   {0xFF54, 0x28},   {0xFFE1, 0x10},   {0xFFE4, 0x11},
        {0xFFE9, 0x12},   {0x0020, 0x20},   {0x0021, '1'} /* shifted 1 */,
        {0x003B, 0xBA},   {0x003A, 0xBA},   {0x002F, 0xBF},   {0xFFFF, 0x2E} /* Delete */,
        {0xFE20, 0x09} /* shifted Tab */,   {0x00E9, 0} /* no virtual key */,
        {0x1234, 0},
    };
    for (const Case &c : cases) EXPECT_EQ(PLAT_iKeysymToVirtualKey(c.keysym), c.vk) << std::hex << c.keysym;
}

TEST(PlatformLocale, LanguageComesFromTheLocaleEnvironment) {
    struct Case {
        const char *all, *messages, *lang, *code;
    } cases[] = {
        {"fr_FR.UTF-8", "de_DE", "it_IT", "fr"},
        {"", "de_DE.UTF-8", "it_IT", "de"},
        {nullptr, nullptr, "pt_BR", "pt"},
        {nullptr, nullptr, "C", "en"},
        {nullptr, nullptr, "POSIX", "en"},
        {nullptr, nullptr, nullptr, "en"},
        {nullptr, nullptr, "sr@latin", "sr"},
    };
    for (const Case &c : cases) {
        auto set = [](const char *name, const char *v) { v ? setenv(name, v, 1) : unsetenv(name); };
        set("LC_ALL", c.all);
        set("LC_MESSAGES", c.messages);
        set("LANG", c.lang);
        char out[64];
        ASSERT_TRUE(PLAT_iLocaleLanguage(out, sizeof out));
        EXPECT_STREQ(out, c.code) << (c.lang ? c.lang : "(none)");
    }
    char tiny[2];
    setenv("LC_ALL", "fr_FR", 1);
    ASSERT_TRUE(PLAT_iLocaleLanguage(tiny, sizeof tiny));
    EXPECT_STREQ(tiny, "f");  // cut to the buffer, still terminated
}

TEST(PlatformResources, AppendedPackageIsFoundBehindTheProgram) {
    std::string dir = tempDir();
    std::vector<uint8_t> out;

    writeFile(dir + "/good", std::string("PROGRAM BYTES") + "PKG!" + trailer(4));
    ASSERT_TRUE(PLAT_iReadAppended((dir + "/good").c_str(), &out));
    EXPECT_EQ(std::string(out.begin(), out.end()), "PKG!");

    // No trailer, a length past the start of the file, a cut trailer.
    writeFile(dir + "/none", "PROGRAM BYTES ONLY, NOTHING APPENDED HERE");
    writeFile(dir + "/long", std::string("AB") + trailer(1000));
    writeFile(dir + "/cut", trailer(0).substr(3));
    for (const char *name : {"/none", "/long", "/cut", "/missing"}) {
        EXPECT_FALSE(PLAT_iReadAppended((dir + name).c_str(), &out)) << name;
        EXPECT_TRUE(out.empty()) << name;
    }
}

TEST(PlatformSound, RingIsReadBehindThePlayCursorWhilePlaying) {
    PLAT_SoundFormat format;
    PLAT_SoundBuffer *b = PLAT_iSoundCreate(format, 16384);
    if (!b) GTEST_SKIP() << "no SDL audio driver";
    uint32_t play = 0, write = 0;
    ASSERT_TRUE(PLAT_iSoundPosition(b, &play, &write));
    EXPECT_EQ(play, 0u);
    EXPECT_EQ(write, play);  // stopped: nothing is being read

    // Locking across the end hands out two parts.
    void *p1, *p2;
    uint32_t n1, n2;
    ASSERT_TRUE(PLAT_iSoundLock(b, 16000, 1000, &p1, &n1, &p2, &n2));
    EXPECT_EQ(n1, 384u);
    EXPECT_EQ(n2, 616u);
    PLAT_iSoundUnlock(b);
    EXPECT_FALSE(PLAT_iSoundLock(b, 16384, 4, &p1, &n1, &p2, &n2));
    EXPECT_FALSE(PLAT_iSoundLock(b, 0, 16388, &p1, &n1, &p2, &n2));

    // Stopped, the cursor stands; playing, the device moves it.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    PLAT_iSoundPosition(b, &play, &write);
    EXPECT_EQ(play, 0u);
    PLAT_iSoundPlay(b);
    uint32_t moved = 0;
    for (int i = 0; i < 100 && moved == 0; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        PLAT_iSoundPosition(b, &moved, &write);
    }
    EXPECT_GT(moved, 0u);
    // Playing, the device reads one buffer of at most 512 frames ahead.
    EXPECT_EQ((write + 16384 - moved) % 16384, 2048u);
    PLAT_iSoundStop(b);
    PLAT_iSoundDelete(b);
}

TEST(PlatformOpener, UrlReachesTheOpenerAsOneArgumentWithoutAShell) {
    std::string dir = tempDir();
    std::string log = dir + "/args";
    writeFile(dir + "/xdg-open", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + log + "'\n");
    chmod((dir + "/xdg-open").c_str(), 0755);
    std::string path = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (dir + ":" + path).c_str(), 1);

    const std::string url = "http://example.org/a b?x=1;touch " + dir + "/pwned&y=$(id)";
    EXPECT_TRUE(PLAT_iSpawnOpener(url.c_str()));
    std::ifstream in(log);
    std::stringstream got;
    got << in.rdbuf();
    EXPECT_EQ(got.str(), url + "\n");
    EXPECT_NE(access((dir + "/pwned").c_str(), F_OK), 0);

    setenv("PATH", dir.c_str(), 1);
    unlink((dir + "/xdg-open").c_str());
    EXPECT_FALSE(PLAT_iSpawnOpener("http://example.org/"));  // no opener: a clean failure
    setenv("PATH", path.c_str(), 1);
}
