#pragma once
// The window's controls as the handlers see them: a text box's Text and a
// button's Enabled. The widget layer implements them with Qt widgets; tests
// use plain in-memory ones.

#include <string>

namespace tcdemux {

class TextBox {
public:
    virtual ~TextBox() = default;
    virtual std::u16string Text() const = 0;
    // Replaces the text and puts the caret and the visible part at its start.
    virtual void SetText(const std::u16string& text) = 0;
};

class Button {
public:
    virtual ~Button() = default;
    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
};

// The controls of the one window, by their names.
struct Form1Controls {
    TextBox& Text_mkv;
    Button& CommandOpenMKVfile;
    TextBox& Text_Video;
    TextBox& Text_VFRTimeCode;
    Button& CommandDemux;
    TextBox& Text_path;
    Button& CommandExit;
};

} // namespace tcdemux
