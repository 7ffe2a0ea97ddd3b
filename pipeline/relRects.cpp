#include "pipeline/relRects.h"

#include <cmath>

void InitRelRect(RelRect& theRel) {
    theRel.left = 0.0;
    theRel.right = 1.0;
    theRel.top = 0.0;
    theRel.bottom = 1.0;
}

Rect Rel2Rect(const RelRect& theRel, const Rect& theFrame) {
    const int16_t WID = int16_t(theFrame.right - theFrame.left);
    const int16_t HIG = int16_t(theFrame.bottom - theFrame.top);
    // Truncation, not rounding; fractions far outside 0..1 wrap like the 16-bit
    // sums they are stored in, so convert through a wide integer first.
    auto edge = [](int16_t size, double fraction, int16_t origin) {
        const double product = std::trunc(double(size) * fraction);
        const int64_t whole = std::isfinite(product) && std::fabs(product) < 9.0e18 ? int64_t(product) : 0;
        return int16_t(uint16_t(uint64_t(whole) + uint64_t(int64_t(origin))));
    };
    Rect r;
    r.left = edge(WID, theRel.left, theFrame.left);
    r.right = edge(WID, theRel.right, theFrame.left);
    r.top = edge(HIG, theRel.top, theFrame.top);
    r.bottom = edge(HIG, theRel.bottom, theFrame.top);
    return r;
}

RelRect Rect2Rel(const Rect& theRect, const Rect& theFrame) {
    const int32_t l = int32_t(theRect.left) - theFrame.left, r = int32_t(theRect.right) - theFrame.left;
    const int32_t t = int32_t(theRect.top) - theFrame.top, b = int32_t(theRect.bottom) - theFrame.top;
    const int32_t WID = int32_t(theFrame.right) - theFrame.left;
    const int32_t HIG = int32_t(theFrame.bottom) - theFrame.top;
    return RelRect{double(l) / WID, double(r) / WID, double(t) / HIG, double(b) / HIG};
}
