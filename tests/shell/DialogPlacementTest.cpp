#include "DialogPlacement.h"

#include <gtest/gtest.h>

struct PlacementCase
{
    const char *Name;
    QSize Dialog;
    std::optional<QRect> Owner;
    QRect WorkArea;
    QPoint Expected;
};

void PrintTo(const PlacementCase &c, std::ostream *out)
{
    *out << c.Name;
}

class DialogPlacementTest : public testing::TestWithParam<PlacementCase>
{
};

TEST_P(DialogPlacementTest, CentresThenClampsIntoTheWorkArea)
{
    const PlacementCase &c = GetParam();
    EXPECT_EQ(centredDialogPosition(c.Dialog, c.Owner, c.WorkArea), c.Expected) << c.Name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DialogPlacementTest,
    testing::Values(
        PlacementCase {"over the owner",
                       {300, 100},
                       QRect(100, 100, 800, 600),
                       {0, 0, 1920, 1040},
                       {350, 350}},
        // Centres and half sizes are integer divisions: (0 + 801) / 2 - 301 / 2.
        PlacementCase {
            "odd sizes", {301, 101}, QRect(0, 0, 801, 601), {0, 0, 1920, 1040}, {250, 250}},
        PlacementCase {
            "no owner: work area centre", {400, 200}, std::nullopt, {0, 0, 1920, 1040}, {760, 420}},
        PlacementCase {"no owner, work area off the origin",
                       {400, 200},
                       std::nullopt,
                       {1920, 32, 1280, 768},
                       {2360, 316}},
        PlacementCase {"owner past the right edge",
                       {300, 100},
                       QRect(1700, 100, 800, 600),
                       {0, 0, 1920, 1040},
                       {1620, 350}},
        PlacementCase {"owner past the bottom edge",
                       {300, 100},
                       QRect(100, 900, 800, 600),
                       {0, 0, 1920, 1040},
                       {350, 940}},
        PlacementCase {"owner above and left of the screen",
                       {300, 100},
                       QRect(-700, -500, 800, 600),
                       {0, 0, 1920, 1040},
                       {0, 0}},
        // Division truncates towards zero: (-4 + -3) / 2 is -3, not -4.
        PlacementCase {"negative centre truncates",
                       {2, 2},
                       QRect(-4, 0, 1, 2),
                       {-100, -100, 1000, 1000},
                       {-4, 0}},
        // Right edge first, then left: a dialog wider than the area lines up with its left.
        PlacementCase {"wider than the work area",
                       {1200, 100},
                       QRect(0, 0, 1024, 768),
                       {0, 0, 1024, 768},
                       {0, 334}},
        PlacementCase {"wider and taller, work area off the origin",
                       {1200, 900},
                       std::nullopt,
                       {50, 30, 1024, 768},
                       {50, 30}}),
    [](const testing::TestParamInfo<PlacementCase> &param) {
        std::string name = param.param.Name;
        for (char &ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });
