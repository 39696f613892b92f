#pragma once
// Puts the window, its handlers and the platform together and wires the
// window's events to the handlers. Every handler runs under a guard: an
// error that escapes a handler is shown and ends the program, so no C++
// exception ever crosses Qt's event loop.

#include "main_window/form1.h"
#include "main_window/widgets/form1_window.h"
#include "platform/qt/qt_platform.h"

#include <functional>
#include <string>
#include <vector>

namespace tcdemux {

class AppWindow {
public:
    explicit AppWindow(QtPlatform& platform);

    // Runs Load (which may show the start-up message), shows the window and
    // opens the files named on the command line. Returns false when Load
    // failed and the program is to end.
    bool Start(const std::vector<std::u16string>& files = {});

    // Whether a handler failed, which ends the program.
    bool Failed() const { return failed_; }

    Form1Window& Window() { return window_; }
    Form1& Form() { return form_; }

private:
    void Wire();
    void Guarded(const std::function<void()>& handler);

    QtPlatform& platform_;
    Form1Window window_;
    Form1 form_;
    bool failed_ = false;
};

// Application-wide settings: names (which also place the user's settings:
// organisation and application "tcdemux"), version, desktop entry, icon, and
// the font substitution that gives the "&Demux" button's Chinese-named face
// an installed one.
void ConfigureApplication();

} // namespace tcdemux
