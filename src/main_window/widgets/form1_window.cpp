#include "main_window/widgets/form1_window.h"

#include "main_window/form1.h"
#include "main_window/widgets/accelerated_button.h"
#include "main_window/widgets/file_drop_target.h"

#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>

namespace tcdemux {

namespace {

// The window is designed in twips; 15 twips make one pixel at 96 dots per
// inch, which is what Qt's device-independent pixels are.
constexpr int kTwipsPerPixel = 15;
constexpr int Px(int twips) { return twips / kTwipsPerPixel; }
constexpr QRect Twips(int left, int top, int width, int height) {
    return {Px(left), Px(top), Px(width), Px(height)};
}
constexpr QPoint TwipPoint(int x, int y) { return {Px(x), Px(y)}; }

const QString kDemuxFontFamily = QStringLiteral("新細明體");

} // namespace

Form1Window::Form1Window(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QString::fromUtf16(kWindowCaption));
    setFixedSize(Px(3855), Px(1950));

    // Created in tab order: the box for the source name first, "&Exit" last.
    Text_mkv = AddTextBox(Twips(120, 120, 2295, 375));
    CommandOpenMKVfile = AddButton(QStringLiteral("VFR mkv"), Twips(2760, 120, 975, 375));
    Text_Video = AddTextBox(Twips(120, 600, 2295, 375));
    Text_VFRTimeCode = AddTextBox(Twips(120, 1080, 2295, 375));
    CommandDemux = AddButton(QStringLiteral("&Demux"), Twips(2760, 600, 975, 375));
    Text_path = AddTextBox(Twips(0, 1560, 3855, 390));
    CommandExit = AddButton(QStringLiteral("&Exit"), Twips(2760, 1080, 975, 375));

    Text_mkv->setObjectName(QStringLiteral("Text_mkv"));
    CommandOpenMKVfile->setObjectName(QStringLiteral("CommandOpenMKVfile"));
    Text_Video->setObjectName(QStringLiteral("Text_Video"));
    Text_VFRTimeCode->setObjectName(QStringLiteral("Text_VFRTimeCode"));
    CommandDemux->setObjectName(QStringLiteral("CommandDemux"));
    Text_path->setObjectName(QStringLiteral("Text_path"));
    CommandExit->setObjectName(QStringLiteral("CommandExit"));

    // The design-time texts; Load replaces them with the stored prompts.
    Text_mkv->setText(QStringLiteral("欲分解的MKV文件，請按->"));
    Text_Video->setText(QStringLiteral("Output AVI file name"));
    Text_VFRTimeCode->setText(QStringLiteral("Output timecodes file name"));
    Text_path->setText(QStringLiteral("路徑"));

    // The source's folder and name are filled by the window, not typed; they
    // are set apart from the output boxes by their colours.
    for (QLineEdit* box : {Text_path, Text_mkv}) box->setReadOnly(true);
    QPalette pathPalette = Text_path->palette();
    pathPalette.setColor(QPalette::Text, pathPalette.color(QPalette::Disabled, QPalette::Text));
    Text_path->setPalette(pathPalette);
    QPalette namePalette = Text_mkv->palette();
    namePalette.setColor(QPalette::Text, namePalette.color(QPalette::Inactive, QPalette::Highlight));
    Text_mkv->setPalette(namePalette);

    QFont demuxFont(kDemuxFontFamily);
    demuxFont.setPointSize(9);
    demuxFont.setWeight(QFont::Bold);
    CommandDemux->setFont(demuxFont);
    CommandDemux->setEnabled(false);

    for (QLineEdit* box : {Text_Video, Text_VFRTimeCode}) box->installEventFilter(this);

    // Files are taken wherever they are dropped: on the window and on each
    // box (the boxes would otherwise take a file's URL as text). The buttons
    // take no drops, so there the window does.
    auto* drops = new FileDropTarget([this] { return CommandOpenMKVfile->isEnabled(); }, this);
    drops->Watch(this);
    for (QLineEdit* box : {Text_mkv, Text_Video, Text_VFRTimeCode, Text_path}) drops->Watch(box);
    connect(drops, &FileDropTarget::filesDropped, this, &Form1Window::filesDropped, Qt::QueuedConnection);
    Text_mkv->setFocus();
}

Form1Window::~Form1Window() = default;

QLineEdit* Form1Window::AddTextBox(const QRect& geometry) {
    auto* box = new QLineEdit(this);
    box->setGeometry(geometry);
    return box;
}

QPushButton* Form1Window::AddButton(const QString& caption, const QRect& geometry) {
    auto* button = new AcceleratedButton(caption, this);
    button->setGeometry(geometry);
    button->setFocusPolicy(Qt::StrongFocus);
    button->setAutoDefault(false);
    return button;
}

Form1Controls Form1Window::Controls() {
    if (!textMkv_) {
        textMkv_ = std::make_unique<LineEditTextBox>(*Text_mkv);
        textVideo_ = std::make_unique<LineEditTextBox>(*Text_Video);
        textTimecodes_ = std::make_unique<LineEditTextBox>(*Text_VFRTimeCode);
        textPath_ = std::make_unique<LineEditTextBox>(*Text_path);
        openButton_ = std::make_unique<PushButtonControl>(*CommandOpenMKVfile);
        demuxButton_ = std::make_unique<PushButtonControl>(*CommandDemux);
        exitButton_ = std::make_unique<PushButtonControl>(*CommandExit);
    }
    return {*textMkv_, *openButton_, *textVideo_, *textTimecodes_, *demuxButton_, *textPath_, *exitButton_};
}

const std::array<Form1Window::Line, 4>& Form1Window::Lines() {
    static const std::array<Line, 4> lines{{
        {TwipPoint(2640, 720), TwipPoint(2640, 1320)},
        {TwipPoint(2640, 1320), TwipPoint(2400, 1320)},
        {TwipPoint(2400, 720), TwipPoint(2640, 720)},
        {TwipPoint(2640, 720), TwipPoint(2880, 720)},
    }};
    return lines;
}

bool Form1Window::eventFilter(QObject* watched, QEvent* event) {
    auto* box = qobject_cast<QLineEdit*>(watched);
    if (!box) return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && box->rect().contains(mouse->position().toPoint()))
            emit textBoxClicked(box);
    } else if (event->type() == QEvent::FocusOut) {
        // Another application taking over, or a context menu opening, does
        // not move the focus away from the box within this window.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) emit textBoxLostFocus(box);
    }
    return QWidget::eventFilter(watched, event);
}

void Form1Window::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1));
    for (const Line& line : Lines()) painter.drawLine(line.from, line.to);
}

} // namespace tcdemux
