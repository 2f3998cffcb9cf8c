#include <gtest/gtest.h>

#include "media/VIEW_Image.h"
#include "render/VIEW_Splash.h"

TEST(Splash, LinkedPictureDecodes)
{
    VIEW_ImageSource src;
    src.name = "splash";
    src.data = VIEW_iSplashPngData();
    src.size = VIEW_iSplashPngSize();
    VIEW_Image img;
    ASSERT_TRUE(VIEW_iDecodePng(&img, src));
    EXPECT_EQ(img.width, 512u);
    EXPECT_EQ(img.height, 256u);
    EXPECT_EQ(img.channels, 4u);
    // Transparent corners, opaque ink somewhere.
    EXPECT_EQ(img.pixels[3], 0);
    bool ink = false;
    for (size_t i = 3; i < (size_t)512 * 256 * 4; i += 4)
        ink = ink || img.pixels[i] == 255;
    EXPECT_TRUE(ink);
}
