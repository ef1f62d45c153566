// The link label's decisions, which both windows share.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "ui/link_logic.h"

namespace {

TEST(LinkLogicTest, RegisteredCommandsAreCutAtTheirPlaceholder) {
    EXPECT_EQ(BuildOpenCommand("C:\\b.exe \"%1\"", "http://x/"), "C:\\b.exe  http://x/");
    EXPECT_EQ(BuildOpenCommand("b.exe -url %1", "http://x/"), "b.exe -url  http://x/");
    EXPECT_EQ(BuildOpenCommand("b.exe", "http://x/"), "b.exe http://x/");
    EXPECT_EQ(CutAtPlaceholder("b %1 -x \"%1\""), "b %1 -x ");  // quoted wins
    EXPECT_EQ(CutAtPlaceholder("firefox %u"), "firefox ");
    EXPECT_EQ(CutAtPlaceholder("browser --new \"%U\""), "browser --new ");
}

TEST(LinkLogicTest, FailuresAreExplainedByCode) {
    EXPECT_EQ(OpenFailureMessage(26),
              "Unable to open hyperlink:\n\nA sharing violation occurred. ");
    EXPECT_EQ(OpenFailureReason(4), "Unknown Error (4) occurred.");
    EXPECT_EQ(OpenFailureReason(-1), "Unknown Error (-1) occurred.");
    EXPECT_EQ(OpenFailureReason(33), "Unknown Error (33) occurred.");
    EXPECT_FALSE(IsOpenSuccess(32));
    EXPECT_TRUE(IsOpenSuccess(33));
}

TEST(LinkLogicTest, FittingKeepsTheEdgeOfItsAlignment) {
    const PixelRect window{10, 20, 100, 15};
    const PixelSize client{100, 15}, text{60, 10};
    using H = HorizontalAlign;
    using V = VerticalAlign;
    EXPECT_EQ(FitRectToText(window, client, text, H::kLeft, V::kTop), (PixelRect{10, 20, 60, 10}));
    EXPECT_EQ(FitRectToText(window, client, text, H::kCentre, V::kTop),
              (PixelRect{30, 20, 60, 10}));
    EXPECT_EQ(FitRectToText(window, client, text, H::kRight, V::kTop), (PixelRect{50, 20, 60, 10}));
    // Height difference 5, vertically centred: top down by 2, bottom up by 2.
    EXPECT_EQ(FitRectToText(window, client, text, H::kLeft, V::kCentre),
              (PixelRect{10, 22, 60, 11}));
    // A border of 2 pixels on each side is carried over.
    EXPECT_EQ(FitRectToText({0, 0, 100, 20}, {96, 16}, text, H::kLeft, V::kTop),
              (PixelRect{0, 0, 64, 14}));
    EXPECT_EQ(LeaveRepaintRect({5, 6, 40, 12}), (PixelRect{5, 6, 40, 22}));
}

double Luminance(std::uint32_t rgb) {
    const auto channel = [](std::uint32_t value) {
        const double v = value / 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel((rgb >> 16) & 0xFF) + 0.7152 * channel((rgb >> 8) & 0xFF) +
           0.0722 * channel(rgb & 0xFF);
}

double Contrast(std::uint32_t a, std::uint32_t b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Every state of a link stays readable (at least 4.5:1) on the light and dark backgrounds that
// desktops use; on a light one the colours are the classic ones.
TEST(LinkLogicTest, LinkColoursStayReadableOnLightAndDarkBackgrounds) {
    for (std::uint32_t background : {0xF0F0F0u, 0xFFFFFFu, 0x202020u, 0x000000u, 0x3C3C3Cu}) {
        for (bool hovering : {false, true}) {
            for (bool visited : {false, true}) {
                const std::uint32_t colour = LinkColour(hovering, visited, background);
                EXPECT_GE(Contrast(colour, background), hovering ? 3.0 : 4.5)
                    << std::hex << background << " " << hovering << visited;
            }
        }
    }
    EXPECT_EQ(LinkColour(false, false, 0xF0F0F0), 0x0000EEu);
    EXPECT_EQ(LinkColour(false, true, 0xF0F0F0), 0x551A8Bu);
    EXPECT_EQ(LinkColour(true, true, 0xF0F0F0), 0xFF0000u);  // hovering wins
    // The middle: lightness 128 is light, 127 is dark.
    EXPECT_FALSE(IsDarkBackground(0x808080));
    EXPECT_TRUE(IsDarkBackground(0x7F7F7F));
}

}  // namespace
