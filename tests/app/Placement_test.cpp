// Names the placing of files works from: a path's folder and leaf, and the
// frame names of a sequence formed in full or refused.
#include <gtest/gtest.h>

#include "app/AppError.h"
#include "app/output/Placement.h"

namespace {

TEST(Placement, SplitPathKeepsTheRootAsAFolder) {
    const struct {
        const char* path;
        const char* folder;
        const char* leaf;
    } rows[] = {{"x.mp4", ".", "x.mp4"}, {"/x.mp4", "/", "x.mp4"}, {"a/b/x.mp4", "a/b", "x.mp4"}, {"a/", "a", ""}};
    for (const auto& r : rows) {
        const PathParts p = SplitPath(r.path);
        EXPECT_EQ(p.folder, r.folder) << r.path;
        EXPECT_EQ(p.leaf, r.leaf) << r.path;
    }
}

// FFmpeg cuts a number wider than 19 digits and a name longer than its
// buffer without a word; those are refused rather than written elsewhere.
TEST(Placement, FrameNamesAreFormedInFullOrRefused) {
    const struct {
        std::string pattern;
        int64_t n;
        std::string name;  // empty: refused
    } rows[] = {
        {"f_%04d.png", 7, "f_0007.png"},
        {"a%b/f_%%_%d.png", 12, "a%b/f_%_12.png"},  // a folder's % is no pattern
        {"f_%030d.png", 1, ""},
        {"f_" + std::string(246, 'x') + "_%04d.png", 1, ""},  // over NAME_MAX
        {"f_%d_%d.png", 1, ""},
    };
    for (const auto& r : rows) {
        if (r.name.empty()) {
            EXPECT_THROW(FrameName(r.pattern, r.n), AppError) << r.pattern;
        } else {
            EXPECT_EQ(FrameName(r.pattern, r.n), r.name);
        }
    }
}

}  // namespace
