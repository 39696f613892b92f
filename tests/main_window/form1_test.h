#pragma once
// The test fixture of the window's handlers: Form1 on the fake platform and
// the in-memory controls.

#include "fakes.h"

#include <clocale>
#include <gtest/gtest.h>

namespace tcdemux::testing {

// A window with its handlers on the fake platform, in a UTF-8 process locale
// (the prompts then come back from the code-page round trip unchanged).
class Form1Test : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr); }
    void TearDown() override { std::setlocale(LC_CTYPE, "C"); }

    // Load, then forget what it did to the platform so a test sees only its own calls.
    void Load() {
        form.Form_Load();
        platform.messages.clear();
        platform.fileQueries.clear();
    }

    // Confirms `path` in the next dialog and runs the source button's handler.
    void Choose(const std::u16string& path) {
        platform.outcomes.push_back(path);
        form.CommandOpenMKVfile_Click();
    }

    FakePlatform platform;
    FakeWindow window;
    Form1 form{platform, window.Controls()};
};

} // namespace tcdemux::testing
