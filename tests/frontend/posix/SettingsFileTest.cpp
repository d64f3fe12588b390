// Service mode from the per-user settings file in a temporary configuration folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "frontend/StartupOptions.h"
#include "tests/frontend/posix/TestFolder.h"

namespace qor {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

class SettingsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(root_ / "config");
        fs::create_directories(root_ / "home");
    }

    // Writes <configHome>/Vandrel/Qor.conf.
    void writeSettings(const fs::path& configHome, const std::string& text) {
        fs::create_directories(configHome / "Vandrel");
        std::ofstream(configHome / "Vandrel" / "Qor.conf") << text;
    }

    test::TestFolder folder_{"settings"};
    const fs::path& root_ = folder_.path();
};

TEST_F(SettingsFile, UnlocksOnlyWithTheIntegerValue) {
    const ScopedEnv config("XDG_CONFIG_HOME", (root_ / "config").string());
    struct Case {
        const char* text;
        bool service;
    };
    const Case cases[] = {
        {"intern=4187\n", true},
        {"# the service unlock\n\n  Intern = 4187  \r\n", true},
        {"other=1\nINTERN=4187", true},
        {"intern=4188\n", false},
        {"intern=\"4187\"\n", false},  // text, not an integer
        {"intern=4187x\n", false},
        {"intern=-4187\n", false},
        {"intern=4294971483\n", false},  // 4187 + 2^32 does not fit
        {"; intern=4187\n", false},
        {"intern=\nintern=4187\n", false},  // the first line of a name counts
        {"internal=4187\n", false},
        {"", false},
    };
    for (const Case& c : cases) {
        writeSettings(root_ / "config", c.text);
        EXPECT_EQ(isServiceMode(), c.service) << c.text;
    }
    fs::remove_all(root_ / "config" / "Vandrel");
    EXPECT_FALSE(isServiceMode());
}

// A relative XDG_CONFIG_HOME is not used; ~/.config is.
TEST_F(SettingsFile, FallsBackToTheHomeFolder) {
    const ScopedEnv home("HOME", (root_ / "home").string());
    writeSettings(root_ / "home" / ".config", "intern=4187\n");
    {
        const ScopedEnv relative("XDG_CONFIG_HOME", "config");
        EXPECT_TRUE(isServiceMode());
    }
    const ScopedEnv config("XDG_CONFIG_HOME", (root_ / "config").string());
    EXPECT_FALSE(isServiceMode());
}

}  // namespace
}  // namespace qor
