#include "PixelRegion.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// The covered area of overlapping rectangles against a count of the pixels themselves; a
// region is replaced by its bounds exactly where the rule says.
TEST(ChangedRegion, CoveredAreaCountsEachPixelOnceAndSettlesByTheRule)
{
    std::mt19937 generator(7);
    std::uniform_int_distribution<int> coordinate(0, 40);
    for (int round = 0; round < 200; ++round) {
        ChangedRegion region;
        std::vector<unsigned char> pixels(41 * 41, 0);
        const int count = 1 + round % 12;
        for (int k = 0; k < count; ++k) {
            const int a = coordinate(generator), b = coordinate(generator);
            const int c = coordinate(generator), d = coordinate(generator);
            const PixelRect rect {std::min(a, b), std::min(c, d), std::max(a, b), std::max(c, d)};
            region.add(rect);
            for (int y = rect.Top; y < rect.Bottom; ++y)
                for (int x = rect.Left; x < rect.Right; ++x)
                    pixels[std::size_t(y * 41 + x)] = 1;
        }
        std::int64_t covered = 0;
        for (unsigned char pixel : pixels)
            covered += pixel;
        ASSERT_EQ(region.coveredArea(), covered) << "round " << round;

        const std::size_t pieces = region.rects().size();
        const bool kept = pieces <= 1
            || (pieces <= ChangedRegion::MostPieces && covered * 5 < region.bounds().area() * 4);
        const PixelRect bounds = region.bounds();
        region.settle();
        EXPECT_EQ(region.rects().size(), kept ? pieces : std::size_t(1)) << "round " << round;
        EXPECT_EQ(region.bounds(), bounds);
    }
}

// A trace of many strips becomes a few runs that still hold every strip.
TEST(ChangedRegion, RunsOfManyStripsHoldThemAll)
{
    std::vector<PixelRect> strips;
    for (int k = 0; k < 127; ++k)
        strips.push_back({k * 3, (k * 37) % 50, k * 3 + 4, (k * 37) % 50 + 6});
    ChangedRegion region;
    region.addRuns(strips);
    ASSERT_EQ(region.rects().size(), ChangedRegion::FewRuns);
    for (const PixelRect &strip : strips) {
        bool held = false;
        for (const PixelRect &run : region.rects())
            held = held || run.intersected(strip) == strip;
        EXPECT_TRUE(held) << strip.Left;
    }
}

} // namespace
