#include "pipeline/pluginData.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "pipeline/prefsloader.h"
#include "support/commonprocs.h"

namespace {
CGImageRef SmallImage() {
    GWorldPtr gw = AllocateRectGWorld(Rect{0, 0, 2, 3});
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGContextRef ctx = CGBitmapContextCreate(GetPixBaseAddr(GetGWorldPixMap(gw)), 3, 2, 8,
                                             size_t(GetPixRowBytes(GetGWorldPixMap(gw))), space,
                                             kCGImageAlphaPremultipliedFirst);
    CGImageRef image = CGBitmapContextCreateImage(ctx);
    CGContextRelease(ctx);
    CGColorSpaceRelease(space);
    DisposeGWorld(gw);
    return image;
}
}  // namespace

TEST(PluginData, DefaultsAfterInitWithoutSavedSettings) {
    char dir[] = "/tmp/vx-empty-prefs-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string old = getenv("XDG_CONFIG_HOME");
    setenv("XDG_CONFIG_HOME", dir, 1);
    PluginDataRec rec;
    std::memset(&rec, 0, sizeof rec);
    rec.frameEndColor = RGBColor{1, 2, 3};  // not a default: kept as it was
    CreatePrefsFileIfMissing();  // an empty file, as at the plug-in's first load
    InitPluginData(&rec);
    EXPECT_EQ(rec.startRel.left, 0.0);
    EXPECT_EQ(rec.startRel.right, 1.0);
    EXPECT_EQ(rec.endRel.bottom, 1.0);
    EXPECT_EQ(rec.colors[0].red, 0);
    EXPECT_EQ(rec.colors[1].green, 65535);
    EXPECT_EQ(rec.colors[5].blue, 0);
    EXPECT_EQ(rec.sliders[0], 100);
    EXPECT_EQ(rec.sliders[2], 100);
    EXPECT_EQ(rec.sliders[3], 0);
    EXPECT_EQ(rec.frameStartColor.red, 65535);
    EXPECT_EQ(rec.frameStartColor.green, 0);
    EXPECT_EQ(rec.frameEndColor.blue, 3);
    EXPECT_EQ(rec.mediaType, 1);
    EXPECT_EQ(rec.method, 1);
    EXPECT_FALSE(rec.keepProps);
    EXPECT_EQ(rec.theOriginalImage, nullptr);
    EXPECT_EQ(rec.theRendered, nullptr);
    // The defaults were written back and read the same.
    PluginDataRec back{};
    EXPECT_TRUE(ReadConfig(&back));
    EXPECT_EQ(std::memcmp(&back.startRel, &rec.startRel, offsetof(PluginDataRec, theOriginalImage)), 0);
    setenv("XDG_CONFIG_HOME", old.c_str(), 1);
    std::filesystem::remove_all(dir);

    uint32_t size = 0;
    pGetConfigSize(size);
    EXPECT_EQ(size, sizeof(PluginDataRec));
    EXPECT_EQ(GetMediaFormat(nullptr), 1);
    rec.mediaType = 3;
    EXPECT_EQ(GetMediaFormat(&rec), 3);
}

TEST(PluginData, CopiesOwnTheirRenderedImageAndNeverTheOriginal) {
    PluginDataRec global{};
    ResetConfig(&global, true);
    global.theOriginalImage = SmallImage();
    global.theRendered = SmallImage();
    global.sliders[1] = -42;

    ResetConfig(&global, false);  // a partial reset keeps both images
    ASSERT_NE(global.theOriginalImage, nullptr);
    ASSERT_NE(global.theRendered, nullptr);
    global.sliders[1] = -42;

    PluginDataRec copy{};
    pCopyConfig(&global, &copy);
    EXPECT_EQ(copy.sliders[1], -42);
    EXPECT_EQ(copy.theOriginalImage, nullptr);
    ASSERT_NE(copy.theRendered, nullptr);
    EXPECT_NE(copy.theRendered, global.theRendered);
    pUncopyConfig(&copy);
    EXPECT_EQ(CGImageGetWidth(global.theRendered), 3u);  // still alive
    pCopyConfig(nullptr, &copy);  // nothing
    pCopyConfig(&global, nullptr);

    CGImageRelease(global.theRendered);
    CGImageRelease(global.theOriginalImage);
}

TEST(PluginData, CurrentRectangleIsTheEditedRecordsStartRect) {
    PluginDataRec rec{};
    ResetConfig(&rec, true);
    gConfigWorkspace.theConfig = &rec;
    PutCurrentRel(RelRect{0.1, 0.2, 0.3, 0.4});
    const RelRect r = GetCurrentRel();
    EXPECT_EQ(r.left, 0.1);
    EXPECT_EQ(r.right, 0.2);
    EXPECT_EQ(r.top, 0.3);
    EXPECT_EQ(r.bottom, 0.4);
    EXPECT_EQ(rec.endRel.right, 1.0);
    gConfigWorkspace.theConfig = nullptr;
}

TEST(PluginData, NilRecordsEndTheProcess) {
    EXPECT_EXIT(InitMyPlugIn(nullptr), testing::ExitedWithCode(1), "Unable to allocate new data structure");
    EXPECT_EXIT(pUncopyConfig(nullptr), testing::ExitedWithCode(1), "Nil data in pUncopyConfig");
}
