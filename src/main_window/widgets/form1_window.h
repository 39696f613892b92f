#pragma once
// The window itself: its controls at their design positions, the bracket of
// four lines, and the events the handlers need (a mouse click into an output
// box, an output box losing the focus, the buttons' clicks, files dropped
// onto any part of the window).

#include "main_window/controls.h"
#include "main_window/widgets/line_edit_text_box.h"
#include "main_window/widgets/push_button_control.h"

#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <array>
#include <memory>

namespace tcdemux {

class Form1Window : public QWidget {
    Q_OBJECT
public:
    explicit Form1Window(QWidget* parent = nullptr);
    ~Form1Window() override;

    QLineEdit* Text_mkv;
    QPushButton* CommandOpenMKVfile;
    QLineEdit* Text_Video;
    QLineEdit* Text_VFRTimeCode;
    QPushButton* CommandDemux;
    QLineEdit* Text_path;
    QPushButton* CommandExit;

    // The controls for Form1's handlers; valid as long as the window lives.
    Form1Controls Controls();

    // The bracket joining the output boxes to "&Demux", in pixels.
    struct Line {
        QPoint from;
        QPoint to;
    };
    static const std::array<Line, 4>& Lines();

signals:
    void textBoxClicked(QLineEdit* box);
    void textBoxLostFocus(QLineEdit* box);
    // Local files dropped onto the window, while "VFR mkv" is enabled (the
    // same files it could choose); delivered after the drop has ended.
    void filesDropped(const QStringList& paths);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QLineEdit* AddTextBox(const QRect& geometry);
    QPushButton* AddButton(const QString& caption, const QRect& geometry);

    std::unique_ptr<LineEditTextBox> textMkv_, textVideo_, textTimecodes_, textPath_;
    std::unique_ptr<PushButtonControl> openButton_, demuxButton_, exitButton_;
};

} // namespace tcdemux
