#pragma once
// The test fixture of the window's handlers: Form1 on the fake platform and
// the in-memory controls.

#include "fakes.h"

#include <clocale>
#include <gtest/gtest.h>

namespace tcdemux::testing {

// The ways a source reaches the window: confirmed in the dialog, or named
// from outside it (the command line and a drop both hand their files over
// through OpenSourceFiles).
enum class Way { Dialog, Outside };

inline const char* WayName(Way way) { return way == Way::Dialog ? "Dialog" : "Outside"; }

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

    // Takes `path` as a source the given way; from outside it is a readable file.
    void ChooseBy(Way way, const std::u16string& path) {
        if (way == Way::Dialog) return Choose(path);
        platform.sourceFiles[path] = SourceFileState::Readable;
        form.OpenSourceFiles({path});
    }

    FakePlatform platform;
    FakeWindow window;
    Form1 form{platform, window.Controls()};
};

} // namespace tcdemux::testing
