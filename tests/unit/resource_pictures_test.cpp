// The pictures the resource script embeds: the resource compiler takes any
// bitmap, so sizes and depth are checked here, and the skin is checked to be
// plain white behind every static the window shows (they paint with a white
// brush and transparent text).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "resources/control_table.h"

namespace {

const std::string kResources = std::string(VANE_SOURCE_DIR) + "/resources/";

std::vector<uint8_t> ReadFile(const std::string& name)
{
    std::ifstream in(kResources + name, std::ios::binary | std::ios::ate);
    std::vector<uint8_t> data(in ? static_cast<size_t>(in.tellg()) : 0);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return data;
}

uint32_t U16(const std::vector<uint8_t>& d, size_t at) { return d[at] | (d[at + 1] << 8); }
uint32_t U32(const std::vector<uint8_t>& d, size_t at) { return U16(d, at) | (U16(d, at + 2) << 16); }

struct Bitmap {
    int width = 0, height = 0;   // height > 0: bottom-up rows
    int bitsPerPixel = 0;
    uint32_t compression = 0;
    size_t pixelOffset = 0;
    std::vector<uint8_t> data;

    // Blue, green, red of a pixel counted from the top.
    uint32_t Rgb(int x, int y) const
    {
        const size_t at = pixelOffset + (static_cast<size_t>(height - 1 - y) * width + x) * 4;
        return data[at + 2] | (data[at + 1] << 8) | (data[at] << 16);
    }
};

Bitmap LoadBitmap(const std::string& name)
{
    Bitmap b;
    b.data = ReadFile(name);
    if (b.data.size() < 54 || b.data[0] != 'B' || b.data[1] != 'M') {
        ADD_FAILURE() << name << " is not a bitmap file";
        return b;
    }
    EXPECT_EQ(U32(b.data, 2), b.data.size()) << name << ": file size field";
    EXPECT_EQ(U32(b.data, 14), 40u) << name << ": BITMAPINFOHEADER";
    b.pixelOffset = U32(b.data, 10);
    b.width = static_cast<int32_t>(U32(b.data, 18));
    b.height = static_cast<int32_t>(U32(b.data, 22));
    EXPECT_EQ(U16(b.data, 26), 1u) << name << ": planes";
    b.bitsPerPixel = static_cast<int>(U16(b.data, 28));
    b.compression = U32(b.data, 30);
    return b;
}

struct Expected {
    const char* file;
    int width, height;
};

TEST(ResourcePictures, BitmapsHaveTheirSizesIn32BitsPerPixel)
{
    for (const Expected& e : {Expected{"skin.bmp", 656, 441}, Expected{"exit.bmp", 89, 22},
                              Expected{"execute.bmp", 106, 81}}) {
        SCOPED_TRACE(e.file);
        const Bitmap b = LoadBitmap(e.file);
        EXPECT_EQ(b.width, e.width);
        EXPECT_EQ(b.height, e.height); // positive: bottom-up
        EXPECT_EQ(b.bitsPerPixel, 32);
        EXPECT_EQ(b.compression, 0u); // BI_RGB
        EXPECT_GE(b.data.size(), b.pixelOffset + static_cast<size_t>(e.width) * e.height * 4);
    }
}

TEST(ResourcePictures, SkinIsPlainWhiteBehindEveryShownStatic)
{
    const Bitmap skin = LoadBitmap("skin.bmp");
    ASSERT_EQ(skin.width, 656);
    ASSERT_EQ(skin.height, 441);
    const DialogTemplateInfo& t = MainDialogTemplate();
    const double ux = 656.0 / t.width, uy = 441.0 / t.height;
    // The statics a user sees (1016 never draws; 1042 is hidden at start-up).
    for (int id : {1086, 1001, 1020, 1019, 1048, 1039, 1049, 1045, 1078, 1002}) {
        const ControlRow* row = FindControlRow(id);
        ASSERT_NE(row, nullptr) << id;
        const int left = static_cast<int>(std::floor(row->x * ux)) - 2;
        const int top = static_cast<int>(std::floor(row->y * uy)) - 2;
        const int right = static_cast<int>(std::ceil((row->x + row->width) * ux)) + 2;
        const int bottom = static_cast<int>(std::ceil((row->y + row->height) * uy)) + 2;
        int grey = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                if (skin.Rgb(x, y) != 0xFFFFFF) ++grey;
        EXPECT_EQ(grey, 0) << "pixels that are not white behind control " << id;
    }
    // ... and it is a picture, not a white sheet.
    EXPECT_NE(skin.Rgb(10, 10), 0xFFFFFFu);
    EXPECT_NE(skin.Rgb(5, 430), 0xFFFFFFu);
}

TEST(ResourcePictures, IconHoldsSixteenAndThirtyTwoPixelImagesIn32Bits)
{
    const std::vector<uint8_t> ico = ReadFile("rodediz.ico");
    ASSERT_GE(ico.size(), 6u + 2 * 16);
    EXPECT_EQ(U16(ico, 0), 0u);
    EXPECT_EQ(U16(ico, 2), 1u); // icon, not cursor
    ASSERT_EQ(U16(ico, 4), 2u);
    for (int i = 0; i < 2; ++i) {
        const size_t entry = 6 + 16 * i;
        const int size = i == 0 ? 16 : 32;
        EXPECT_EQ(ico[entry], size);
        EXPECT_EQ(ico[entry + 1], size);
        EXPECT_EQ(U16(ico, entry + 6), 32u);
        const size_t bytes = U32(ico, entry + 8), offset = U32(ico, entry + 12);
        ASSERT_LE(offset + bytes, ico.size());
        // The image: a BITMAPINFOHEADER counting colour rows and mask rows.
        EXPECT_EQ(U32(ico, offset), 40u);
        EXPECT_EQ(U32(ico, offset + 4), static_cast<uint32_t>(size));
        EXPECT_EQ(U32(ico, offset + 8), static_cast<uint32_t>(size * 2));
        EXPECT_EQ(U16(ico, offset + 14), 32u);
        const size_t maskRow = ((size + 31) / 32) * 4;
        EXPECT_EQ(bytes, 40 + static_cast<size_t>(size) * size * 4 + maskRow * size);
    }
}

} // namespace
