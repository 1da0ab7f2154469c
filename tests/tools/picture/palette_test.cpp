#include "tools/picture/palette.h"

#include <gtest/gtest.h>

#include "print_picture.h"

#include <string>

using namespace Vorn::Picture;

namespace {

int Luminance(const Rgb& c) {
    return 299 * c.r + 587 * c.g + 114 * c.b;  // BT.601 weights, scaled by 1000
}

void ExpectBrightnessRises(const Palette& palette) {
    SCOPED_TRACE(std::string(palette.Name()));
    EXPECT_EQ(palette[0], (Rgb{0, 0, 0}));
    EXPECT_EQ(palette[255], (Rgb{255, 255, 255}));
    for (int i = 1; i < Palette::kSize; ++i)
        ASSERT_GT(Luminance(palette[i]), Luminance(palette[i - 1])) << "at index " << i;
}

}  // namespace

TEST(Palette, BrightnessRisesFromBlackToWhite) {
    ExpectBrightnessRises(Palette::Iron());
    ExpectBrightnessRises(Palette::Hot());
    ExpectBrightnessRises(Palette::Grey());
}

TEST(Palette, GreyIsNeutral) {
    for (int i = 0; i < Palette::kSize; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        EXPECT_EQ(Palette::Grey()[v], (Rgb{v, v, v}));
    }
}

TEST(Palette, IronPassesThroughBluePurpleRedOrangeYellow) {
    const Palette& iron = Palette::Iron();
    const Rgb blue = iron[25];
    EXPECT_GT(blue.b, blue.r);
    EXPECT_GT(blue.b, blue.g);
    const Rgb purple = iron[77];
    EXPECT_GT(purple.r, purple.g + 80);
    EXPECT_GT(purple.b, purple.g + 80);
    const Rgb red = iron[128];
    EXPECT_GT(red.r, 2 * red.g);
    EXPECT_GT(red.r, 2 * red.b);
    const Rgb orange = iron[179];
    EXPECT_GT(orange.r, orange.g);
    EXPECT_GT(orange.g, orange.b + 60);
    const Rgb yellow = iron[217];
    EXPECT_GT(yellow.g, 180);
    EXPECT_LT(yellow.b, 100);
}

TEST(Palette, FindsEveryBuiltInByName) {
    ASSERT_GE(Palette::Names().size(), 3u);
    for (std::string_view name : Palette::Names()) {
        const Palette* palette = nullptr;
        const PictureStatus status = Palette::Find(name, palette);
        ASSERT_TRUE(status) << status.Message();
        ASSERT_NE(palette, nullptr);
        EXPECT_EQ(palette->Name(), name);
    }
    const Palette* iron = nullptr;
    ASSERT_TRUE(Palette::Find("iron", iron));
    EXPECT_EQ(iron, &Palette::Iron());
}

TEST(Palette, UnknownNameIsAnErrorNamingTheKnownOnes) {
    for (const char* name : {"jet", "", "Iron", "iron "}) {
        const Palette* palette = &Palette::Grey();
        const PictureStatus status = Palette::Find(name, palette);
        ASSERT_FALSE(status) << name;
        EXPECT_EQ(palette, &Palette::Grey()) << "left alone on failure";
        EXPECT_NE(status.Message().find("'" + std::string(name) + "'"), std::string::npos);
        for (std::string_view known : Palette::Names())
            EXPECT_NE(status.Message().find(known), std::string::npos) << status.Message();
    }
}
