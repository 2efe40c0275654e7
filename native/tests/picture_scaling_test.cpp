#include "wizard/picture_scaling.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

uint32_t Grey(int level) {
    uint32_t v = static_cast<uint32_t>(level) & 0xFF;
    return (v << 16) | (v << 8) | v;
}

int Red(uint32_t pixel) {
    return (pixel >> 16) & 0xFF;
}

TEST(PictureScaling, SameSizeKeepsEveryPixelAndMakesItOpaque) {
    std::vector<uint32_t> source;
    for (int i = 0; i < 7 * 5; ++i)
        source.push_back(static_cast<uint32_t>(i * 0x050302));
    std::vector<uint32_t> out;
    ASSERT_TRUE(ScalePicture(source, 7, 5, 7, 5, &out));
    ASSERT_EQ(out.size(), source.size());
    for (size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(out[i], source[i] | 0xFF000000u) << "pixel " << i;
}

// The sizes the wizard's pictures take between 72 and 480 DPI, and odd ones.
TEST(PictureScaling, FlatColourStaysFlatAtEverySize) {
    const uint32_t colour = 0x00123456;
    std::vector<uint32_t> source(165 * 294, colour);
    const struct {
        int Width, Height;
    } kSizes[] = {{124, 221}, {165, 294},  {206, 368}, {248, 441},
                  {330, 588}, {825, 1470}, {1, 1},     {3, 500}};
    for (const auto& size : kSizes) {
        std::vector<uint32_t> out;
        ASSERT_TRUE(ScalePicture(source, 165, 294, size.Width, size.Height, &out));
        ASSERT_EQ(out.size(), size_t(size.Width) * size.Height);
        for (uint32_t pixel : out)
            ASSERT_EQ(pixel, colour | 0xFF000000u) << size.Width << " x " << size.Height;
    }
}

// Shrinking averages: a one-pixel checkerboard halved is even grey, where
// picking pixels would give black or white.
TEST(PictureScaling, ShrinkingAveragesInsteadOfPicking) {
    std::vector<uint32_t> source(64 * 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            source[y * 64 + x] = Grey((x + y) % 2 ? 255 : 0);
    for (int side : {32, 21, 43}) {
        std::vector<uint32_t> out;
        ASSERT_TRUE(ScalePicture(source, 64, 64, side, side, &out));
        for (uint32_t pixel : out) {
            ASSERT_GE(Red(pixel), 100) << side;
            ASSERT_LE(Red(pixel), 155) << side;
        }
    }
}

// Growing interpolates: a ramp stays a smooth ramp within its end values, with
// no steps of repeated pixels.
TEST(PictureScaling, GrowingARampGivesASmoothRamp) {
    std::vector<uint32_t> source(40 * 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 40; ++x)
            source[y * 40 + x] = Grey(x * 6);
    std::vector<uint32_t> out;
    ASSERT_TRUE(ScalePicture(source, 40, 2, 80, 4, &out));
    for (int y = 0; y < 4; ++y) {
        for (int x = 1; x < 80; ++x) {
            int step = Red(out[y * 80 + x]) - Red(out[y * 80 + x - 1]);
            ASSERT_GE(step, 0) << x;
            ASSERT_LE(step, 4) << x;
            if (x > 2 && x < 77)
                ASSERT_GT(step, 0) << "a repeated pixel at " << x;
        }
    }
}

TEST(PictureScaling, RefusesSizesItCannotServe) {
    std::vector<uint32_t> source(4 * 4, 0x00FFFFFF);
    const struct {
        int SourceWidth, SourceHeight, Width, Height;
    } kBad[] = {
        {4, 4, 0, 4}, {4, 4, 4, -1}, {0, 4, 4, 4}, {4, -4, 4, 4}, {4, 4, kMaxPictureSide + 1, 4},
        {4, 5, 4, 4}, // more rows than the source holds
    };
    for (const auto& bad : kBad) {
        std::vector<uint32_t> out = {1, 2, 3};
        EXPECT_FALSE(
            ScalePicture(source, bad.SourceWidth, bad.SourceHeight, bad.Width, bad.Height, &out));
        EXPECT_EQ(out, (std::vector<uint32_t>{1, 2, 3}));
    }
}

// The extremes run within bounds (the sanitizers watch).
TEST(PictureScaling, ExtremeRatiosStayInBounds) {
    std::vector<uint32_t> one = {0x00808080};
    std::vector<uint32_t> out;
    ASSERT_TRUE(ScalePicture(one, 1, 1, kMaxPictureSide, 3, &out));
    EXPECT_EQ(out.size(), size_t(kMaxPictureSide) * 3);
    EXPECT_EQ(out.back(), 0xFF808080u);
    std::vector<uint32_t> line(kMaxPictureSide, 0x00404040);
    ASSERT_TRUE(ScalePicture(line, kMaxPictureSide, 1, 1, 1, &out));
    EXPECT_EQ(out, (std::vector<uint32_t>{0xFF404040u}));
}

} // namespace
