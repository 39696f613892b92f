// The window as built: where each control sits, its caption and type, the
// fixed size, the tab order and the first focus, the bracket of lines painted
// between the output boxes and the buttons, and the "&Demux" button's font.

#include "widget_test_support.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <set>
#include <utility>

using namespace tcdemux;
using namespace tcdemux::test;

namespace {

const QString kDemuxFamily = QStringLiteral("新細明體");

// The controls in tab order.
const QStringList kTabOrder = {
    QStringLiteral("Text_mkv"),         QStringLiteral("CommandOpenMKVfile"), QStringLiteral("Text_Video"),
    QStringLiteral("Text_VFRTimeCode"), QStringLiteral("CommandDemux"),       QStringLiteral("Text_path"),
    QStringLiteral("CommandExit"),
};

// The bracket: four 1-pixel lines, as (from, to) in window pixels.
const std::pair<QPoint, QPoint> kLines[] = {
    {{176, 48}, {176, 88}},
    {{176, 88}, {160, 88}},
    {{160, 48}, {176, 48}},
    {{176, 48}, {192, 48}},
};

// The strip between the boxes (which end at x 160) and the buttons (which
// start at x 184), from below the top row (ending at y 32) to above the path
// box (starting at y 104): nothing covers it, so every line pixel in it shows.
const QRect kGap(161, 33, 23, 71);

std::set<std::pair<int, int>> LinePixels() {
    std::set<std::pair<int, int>> pixels;
    for (const auto& [from, to] : kLines) {
        const int steps = std::max(std::abs(to.x() - from.x()), std::abs(to.y() - from.y()));
        const QPoint step((to.x() - from.x()) / steps, (to.y() - from.y()) / steps);
        for (int i = 0; i <= steps; ++i) pixels.insert({from.x() + step.x() * i, from.y() + step.y() * i});
    }
    return pixels;
}

QString Hex(QRgb colour) { return QStringLiteral("#%1").arg(colour & 0xffffff, 6, 16, QLatin1Char('0')); }

} // namespace

class WindowLayoutTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void controls_data();
    void controls();
    void fixedClientSize();
    void caption();
    void initialState();
    void tabOrder_data();
    void tabOrder();
    void linesDrawn_data();
    void linesDrawn();
    void gapHoldsOnlyTheLines_data();
    void gapHoldsOnlyTheLines();
    void demuxFont();

private:
    QWidget* Control(const QString& name) const;

    QTemporaryDir programFolder_;
    std::unique_ptr<RunningWindow<FolderPlatform>> window_;
};

void WindowLayoutTest::initTestCase() {
    ConfigureApplication();
    QVERIFY(programFolder_.isValid());
    QVERIFY(CreateFile(programFolder_.filePath(QStringLiteral("mp.exe")), kExecutable));
}

void WindowLayoutTest::init() {
    window_ = std::make_unique<RunningWindow<FolderPlatform>>(programFolder_.path());
    QVERIFY(window_->app.Start());
    QVERIFY(ActivateWindow(window_->app.Window()));
}

void WindowLayoutTest::cleanup() {
    const QStringList unexpected = window_->modals.Unexpected();
    window_.reset();
    QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(QStringLiteral("; "))));
}

QWidget* WindowLayoutTest::Control(const QString& name) const {
    return window_->app.Window().findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
}

void WindowLayoutTest::controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isButton");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("geometry");

    QTest::newRow("Text_mkv") << "Text_mkv" << false << QString() << QRect(8, 8, 153, 25);
    QTest::newRow("CommandOpenMKVfile") << "CommandOpenMKVfile" << true << "VFR mkv" << QRect(184, 8, 65, 25);
    QTest::newRow("Text_Video") << "Text_Video" << false << QString() << QRect(8, 40, 153, 25);
    QTest::newRow("Text_VFRTimeCode") << "Text_VFRTimeCode" << false << QString() << QRect(8, 72, 153, 25);
    QTest::newRow("CommandDemux") << "CommandDemux" << true << "&Demux" << QRect(184, 40, 65, 25);
    QTest::newRow("Text_path") << "Text_path" << false << QString() << QRect(0, 104, 257, 26);
    QTest::newRow("CommandExit") << "CommandExit" << true << "&Exit" << QRect(184, 72, 65, 25);
}

void WindowLayoutTest::controls() {
    QFETCH(QString, name);
    QFETCH(bool, isButton);
    QFETCH(QString, caption);
    QFETCH(QRect, geometry);

    QWidget* control = Control(name);
    QVERIFY2(control != nullptr, qPrintable(QStringLiteral("no control named ") + name));
    QCOMPARE(control->geometry(), geometry);
    QVERIFY(control->isVisible());
    if (isButton) {
        auto* button = qobject_cast<QPushButton*>(control);
        QVERIFY(button != nullptr);
        QCOMPARE(button->text(), caption);
    } else {
        QVERIFY(qobject_cast<QLineEdit*>(control) != nullptr);
    }
}

void WindowLayoutTest::fixedClientSize() {
    QWidget& window = window_->app.Window();
    QCOMPARE(window.size(), QSize(257, 130));
    QCOMPARE(window.minimumSize(), QSize(257, 130));
    QCOMPARE(window.maximumSize(), QSize(257, 130));
    // Neither a request to grow nor one to shrink changes it.
    window.resize(400, 300);
    QCOMPARE(window.size(), QSize(257, 130));
    window.resize(100, 50);
    QCOMPARE(window.size(), QSize(257, 130));
}

void WindowLayoutTest::caption() {
    QCOMPARE(window_->app.Window().windowTitle(), QStringLiteral("Matroska timecodes demuxer"));
}

void WindowLayoutTest::initialState() {
    QCOMPARE(QApplication::focusWidget(), Control(QStringLiteral("Text_mkv")));
    QVERIFY(Control(QStringLiteral("CommandOpenMKVfile"))->isEnabled());
    QVERIFY(!Control(QStringLiteral("CommandDemux"))->isEnabled());
    QVERIFY(Control(QStringLiteral("CommandExit"))->isEnabled());
}

void WindowLayoutTest::tabOrder_data() {
    QTest::addColumn<bool>("demuxEnabled");
    QTest::addColumn<bool>("backwards");

    QTest::newRow("Tab, Demux disabled") << false << false;
    QTest::newRow("Shift+Tab, Demux disabled") << false << true;
    QTest::newRow("Tab, Demux enabled") << true << false;
    QTest::newRow("Shift+Tab, Demux enabled") << true << true;
}

void WindowLayoutTest::tabOrder() {
    QFETCH(bool, demuxEnabled);
    QFETCH(bool, backwards);

    Control(QStringLiteral("CommandDemux"))->setEnabled(demuxEnabled);
    QStringList expected = kTabOrder;
    if (!demuxEnabled) expected.removeOne(QStringLiteral("CommandDemux"));
    if (backwards) std::reverse(expected.begin() + 1, expected.end());
    expected << expected.first(); // round the cycle back to the start

    QStringList visited;
    QWidget* focus = QApplication::focusWidget();
    QVERIFY(focus != nullptr);
    visited << focus->objectName();
    for (qsizetype i = 1; i < expected.size(); ++i) {
        if (backwards)
            QTest::keyClick(focus, Qt::Key_Backtab, Qt::ShiftModifier);
        else
            QTest::keyClick(focus, Qt::Key_Tab);
        focus = QApplication::focusWidget();
        QVERIFY(focus != nullptr);
        visited << focus->objectName();
    }
    QCOMPARE(visited, expected);
}

void WindowLayoutTest::linesDrawn_data() {
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QPoint>("besideOffset");

    // Only the parts in the gap show: each horizontal line starts under a box
    // (x 160) or runs on under "&Demux" (x 184 on).
    QTest::newRow("down the right side") << QPoint(176, 48) << QPoint(176, 88) << QPoint(1, 0);
    QTest::newRow("bottom to the timecodes box") << QPoint(176, 88) << QPoint(161, 88) << QPoint(0, 1);
    QTest::newRow("top from the AVI box") << QPoint(161, 48) << QPoint(176, 48) << QPoint(0, 1);
    QTest::newRow("top on to Demux") << QPoint(176, 48) << QPoint(183, 48) << QPoint(0, 1);
}

void WindowLayoutTest::linesDrawn() {
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(QPoint, besideOffset);

    QWidget& window = window_->app.Window();
    const QImage image = window.grab().toImage();
    QCOMPARE(image.size(), window.size() * window.devicePixelRatio());
    QCOMPARE(window.devicePixelRatio(), 1.0);
    const QRgb ink = window.palette().color(QPalette::WindowText).rgb();
    const QRgb paper = window.palette().color(QPalette::Window).rgb();
    QVERIFY(ink != paper);

    const int steps = std::max(std::abs(to.x() - from.x()), std::abs(to.y() - from.y()));
    const QPoint step((to.x() - from.x()) / steps, (to.y() - from.y()) / steps);
    for (int i = 0; i <= steps; ++i) {
        const QPoint on = from + step * i;
        QVERIFY2(image.pixel(on) == ink, qPrintable(QStringLiteral("(%1,%2) is %3, not the line's %4")
                                                        .arg(on.x()).arg(on.y()).arg(Hex(image.pixel(on)), Hex(ink))));
        // Beside the line, away from its ends (where the other lines join),
        // the window's background shows: the line is one pixel wide.
        if (i < 2 || i > steps - 2) continue;
        for (const QPoint beside : {on + besideOffset, on - besideOffset}) {
            QVERIFY2(image.pixel(beside) == paper,
                     qPrintable(QStringLiteral("(%1,%2) beside the line is %3, not the background %4")
                                    .arg(beside.x()).arg(beside.y()).arg(Hex(image.pixel(beside)), Hex(paper))));
        }
    }
}

void WindowLayoutTest::gapHoldsOnlyTheLines_data() {
    QTest::addColumn<bool>("ownColours");

    QTest::newRow("style's colours") << false;
    // The lines follow the window-text colour, whatever it is.
    QTest::newRow("window's own colours") << true;
}

void WindowLayoutTest::gapHoldsOnlyTheLines() {
    QFETCH(bool, ownColours);

    QWidget& window = window_->app.Window();
    if (ownColours) {
        QPalette palette = window.palette();
        palette.setColor(QPalette::WindowText, QColor(0xc0, 0x20, 0x10));
        palette.setColor(QPalette::Window, QColor(0xd0, 0xe8, 0xd0));
        window.setPalette(palette);
    }
    const QImage image = window.grab().toImage();
    const QRgb ink = window.palette().color(QPalette::WindowText).rgb();
    const QRgb paper = window.palette().color(QPalette::Window).rgb();
    const auto lines = LinePixels();

    QStringList wrong;
    for (int y = kGap.top(); y <= kGap.bottom(); ++y) {
        for (int x = kGap.left(); x <= kGap.right(); ++x) {
            const QRgb expected = lines.count({x, y}) ? ink : paper;
            if (image.pixel(x, y) != expected)
                wrong << QStringLiteral("(%1,%2) %3 not %4").arg(x).arg(y).arg(Hex(image.pixel(x, y)), Hex(expected));
        }
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.mid(0, 20).join(QStringLiteral("; "))));
}

void WindowLayoutTest::demuxFont() {
    const QFont font = Control(QStringLiteral("CommandDemux"))->font();
    QCOMPARE(font.family(), kDemuxFamily);
    QCOMPARE(font.pointSize(), 9);
    QVERIFY(font.bold());

    // The family is not installed here (the font system alone would fall
    // back to a Latin face); the substitution set up for the application
    // gives the installed Traditional-Chinese Ming face instead.
    QVERIFY(!QFontDatabase::families().contains(kDemuxFamily));
    const QFontInfo info(font);
    QCOMPARE(info.family(), QStringLiteral("AR PL UMing TW"));
    QVERIFY(QFontDatabase::families().contains(info.family()));
    QCOMPARE(info.pointSize(), 9);
    // The face has the button's Chinese characters.
    const QFontMetrics metrics(font);
    for (const QChar c : kDemuxFamily) QVERIFY(metrics.inFont(c));
}

QTEST_MAIN(WindowLayoutTest)
#include "tst_window_layout.moc"
