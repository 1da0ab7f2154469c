#include "tools/picture/palette.h"

#include <gtest/gtest.h>

#include <string>

using namespace Vorn::Picture;

TEST(Palette, BrightnessRisesFromBlackToWhite) {
    auto luminance = [](const Rgb& c) { return 299 * c.r + 587 * c.g + 114 * c.b; };
    for (const Palette* palette : {&Palette::Iron(), &Palette::Hot(), &Palette::Grey()}) {
        SCOPED_TRACE(std::string(palette->Name()));
        EXPECT_EQ((*palette)[0], (Rgb{0, 0, 0}));
        EXPECT_EQ((*palette)[255], (Rgb{255, 255, 255}));
        for (int i = 1; i < Palette::kSize; ++i)
            ASSERT_GT(luminance((*palette)[i]), luminance((*palette)[i - 1])) << "at index " << i;
    }
}

TEST(Palette, ColoursBetweenStopsAreInterpolated) {
    EXPECT_EQ(Palette::Grey()[100], (Rgb{100, 100, 100}));
    EXPECT_EQ(Palette::Hot()[51], (Rgb{128, 0, 0}));       // halfway from black to red
    EXPECT_EQ(Palette::Iron()[51], (Rgb{85, 0, 130}));     // halfway from deep blue to purple
    EXPECT_EQ(Palette::Rainbow()[128], (Rgb{2, 255, 0}));  // just past green
}

TEST(Palette, FindsEachBuiltInByNameAndNamesThemForAnUnknownOne) {
    for (std::string_view name : Palette::Names()) {
        const Palette* palette = nullptr;
        ASSERT_TRUE(Palette::Find(name, palette)) << name;
        EXPECT_EQ(palette->Name(), name);
    }
    const Palette* palette = nullptr;
    ASSERT_TRUE(Palette::Find("rainbow", palette));
    EXPECT_EQ(palette, &Palette::Rainbow());
    for (std::string name : {"jet", "", "Iron"}) {
        EXPECT_EQ(Palette::Find(name, palette).Message(),
                  "unknown palette '" + name + "' (known: iron grey hot rainbow)");
        EXPECT_EQ(palette, &Palette::Rainbow()) << "left alone";
    }
}
