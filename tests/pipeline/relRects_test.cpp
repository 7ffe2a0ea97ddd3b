#include "pipeline/relRects.h"

#include <gtest/gtest.h>

#include <limits>

namespace {
bool Same(const Rect& a, const Rect& b) {
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}
}  // namespace

TEST(RelRects, WholeFrameMapsOntoAnyFrame) {
    RelRect whole;
    InitRelRect(whole);
    EXPECT_TRUE(Same(Rel2Rect(whole, Rect{0, 0, 480, 720}), Rect{0, 0, 480, 720}));
    EXPECT_TRUE(Same(Rel2Rect(whole, Rect{10, 20, 490, 740}), Rect{10, 20, 490, 740}));
}

TEST(RelRects, ProductsAreTruncatedTowardZeroNotRounded) {
    const Rect frame{0, 0, 5, 5};
    EXPECT_EQ(Rel2Rect(RelRect{0.5, 0.5, 0.5, 0.5}, frame).left, 2);
    EXPECT_EQ(Rel2Rect(RelRect{-0.5, 0, 0, 0}, frame).left, -2);  // -2.5 goes to -2
    // Outside 0..1 is converted unchanged, not clamped.
    const Rect r = Rel2Rect(RelRect{-0.25, 1.5, -1.0, 2.0}, Rect{0, 0, 100, 200});
    EXPECT_TRUE(Same(r, Rect{-100, -50, 200, 300}));
}

TEST(RelRects, RoundTripCanLoseAPixel) {
    const Rect frame{0, 0, 22, 22};
    const RelRect rel = Rect2Rel(Rect{15, 15, 20, 20}, frame);
    EXPECT_EQ(rel.left, 15.0 / 22.0);
    EXPECT_EQ(Rel2Rect(rel, frame).left, 14);
    EXPECT_EQ(Rel2Rect(rel, frame).top, 14);
}

TEST(RelRects, Rect2RelIsRelativeToAnOffsetFrame) {
    const RelRect rel = Rect2Rel(Rect{130, 200, 370, 560}, Rect{10, 20, 490, 740});
    EXPECT_EQ(rel.left, 180.0 / 720.0);
    EXPECT_EQ(rel.right, 540.0 / 720.0);
    EXPECT_EQ(rel.top, 120.0 / 480.0);
    EXPECT_EQ(rel.bottom, 360.0 / 480.0);
}

TEST(RelRects, NonFiniteFractionsDoNotCrash) {
    const Rect r = Rel2Rect(RelRect{1e300, -1e300, std::numeric_limits<double>::quiet_NaN(), 0}, Rect{0, 0, 10, 10});
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.bottom, 0);
}
