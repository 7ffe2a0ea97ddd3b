// Every test program starts with a private, empty preferences folder so that
// no test reads or writes the user's settings.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {
class PrivatePreferences : public testing::Environment {
public:
    void SetUp() override {
        // The rotation keeps worker threads; forking death tests re-run
        // the program instead of copying a threaded process.
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        char pattern[] = "/tmp/vx-prefs-XXXXXX";
        const char* dir = mkdtemp(pattern);
        ASSERT_NE(dir, nullptr);
        dir_ = dir;
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

private:
    std::string dir_;
};
const testing::Environment* const kPrefs = testing::AddGlobalTestEnvironment(new PrivatePreferences);
}  // namespace
