// The two output boxes (AVI name, timecodes name): a mouse click clears the
// prompt but Tab does not; leaving a box empty gives it its default name, any
// other text stays; the caret is at the start after leaving; and leaving by
// the "&Demux" accelerator hands the default name on to the launch.

#include "widget_test_support.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QDir>
#include <QTest>

#include <memory>

using namespace tcdemux;
using namespace tcdemux::test;

namespace {

const QString kVideoPrompt = QStringLiteral("Output AVI file name");
const QString kTimecodesPrompt = QStringLiteral("Output timecodes file name");

// How the focus leaves a box.
enum class Leave { ClickOtherBox, Tab, ShiftTab, AltD };

} // namespace

Q_DECLARE_METATYPE(Leave)

class OutputBoxesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void clickClearsOnlyThePrompt_data();
    void clickClearsOnlyThePrompt();
    void tabIntoPromptKeepsIt_data();
    void tabIntoPromptKeepsIt();
    void leavingBox_data();
    void leavingBox();
    void switchingWindowsIsNotLeaving();

private:
    QLineEdit* Box(const QString& name) const {
        return window_->app.Window().findChild<QLineEdit*>(name, Qt::FindDirectChildrenOnly);
    }
    QPushButton* Button(const QString& name) const {
        return window_->app.Window().findChild<QPushButton*>(name, Qt::FindDirectChildrenOnly);
    }

    QTemporaryDir folder_;
    QString sourcePath_;
    std::unique_ptr<RunningWindow<RecordingPlatform>> window_;
    QString startDirectory_;
};

void OutputBoxesTest::initTestCase() {
    ConfigureApplication();
    QVERIFY(folder_.isValid());
    QVERIFY(CreateFile(folder_.filePath(QStringLiteral("mp.exe")), kExecutable));
    sourcePath_ = folder_.filePath(QStringLiteral("movie.mkv"));
    QVERIFY(CreateFile(sourcePath_));
    startDirectory_ = QDir::currentPath();
}

void OutputBoxesTest::init() {
    window_ = std::make_unique<RunningWindow<RecordingPlatform>>(folder_.path());
    QVERIFY(window_->app.Start());
    QVERIFY(ActivateWindow(window_->app.Window()));
}

void OutputBoxesTest::cleanup() {
    const QStringList unexpected = window_->modals.Unexpected();
    window_.reset();
    QDir::setCurrent(startDirectory_); // choosing a source moves it
    QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(QStringLiteral("; "))));
}

void OutputBoxesTest::clickClearsOnlyThePrompt_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("focusedByTabFirst");
    QTest::addColumn<QString>("after");

    QTest::newRow("AVI box, prompt") << "Text_Video" << kVideoPrompt << false << "";
    QTest::newRow("AVI box, prompt, already focused") << "Text_Video" << kVideoPrompt << true << "";
    QTest::newRow("AVI box, a name") << "Text_Video" << "movie.avi" << false << "movie.avi";
    QTest::newRow("AVI box, the other box's prompt") << "Text_Video" << kTimecodesPrompt << false
                                                     << kTimecodesPrompt;
    QTest::newRow("timecodes box, prompt") << "Text_VFRTimeCode" << kTimecodesPrompt << false << "";
    QTest::newRow("timecodes box, prompt, already focused") << "Text_VFRTimeCode" << kTimecodesPrompt << true
                                                            << "";
    QTest::newRow("timecodes box, a name") << "Text_VFRTimeCode" << "t.txt" << false << "t.txt";
    QTest::newRow("timecodes box, the other box's prompt") << "Text_VFRTimeCode" << kVideoPrompt << false
                                                           << kVideoPrompt;
}

void OutputBoxesTest::clickClearsOnlyThePrompt() {
    QFETCH(QString, box);
    QFETCH(QString, before);
    QFETCH(bool, focusedByTabFirst);
    QFETCH(QString, after);

    QLineEdit* edit = Box(box);
    QVERIFY(edit != nullptr);
    edit->setText(before);
    if (focusedByTabFirst) {
        // The box before it in the tab order, then Tab.
        QWidget* previous = box == QLatin1String("Text_Video") ? static_cast<QWidget*>(Button("CommandOpenMKVfile"))
                                                               : Box(QStringLiteral("Text_Video"));
        previous->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(previous, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), edit);
        QCOMPARE(edit->text(), before);
    }
    QTest::mouseClick(edit, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), edit);
    QCOMPARE(edit->text(), after);
}

void OutputBoxesTest::tabIntoPromptKeepsIt_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<bool>("backwards");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("prompt");

    QTest::newRow("Tab into the AVI box") << "CommandOpenMKVfile" << false << "Text_Video" << kVideoPrompt;
    QTest::newRow("Shift+Tab into the AVI box") << "Text_VFRTimeCode" << true << "Text_Video" << kVideoPrompt;
    QTest::newRow("Tab into the timecodes box") << "Text_Video" << false << "Text_VFRTimeCode" << kTimecodesPrompt;
    QTest::newRow("Shift+Tab into the timecodes box") << "Text_path" << true << "Text_VFRTimeCode"
                                                      << kTimecodesPrompt;
}

void OutputBoxesTest::tabIntoPromptKeepsIt() {
    QFETCH(QString, from);
    QFETCH(bool, backwards);
    QFETCH(QString, box);
    QFETCH(QString, prompt);

    auto* start = window_->app.Window().findChild<QWidget*>(from, Qt::FindDirectChildrenOnly);
    QVERIFY(start != nullptr);
    start->setFocus(Qt::OtherFocusReason);
    QCOMPARE(QApplication::focusWidget(), start);
    if (backwards)
        QTest::keyClick(start, Qt::Key_Backtab, Qt::ShiftModifier);
    else
        QTest::keyClick(start, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), Box(box));
    QCOMPARE(Box(box)->text(), prompt);

    // Passing on leaves the prompt too: it is not empty.
    QTest::keyClick(Box(box), Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != Box(box));
    QCOMPARE(Box(box)->text(), prompt);
}

void OutputBoxesTest::leavingBox_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<Leave>("leave");
    QTest::addColumn<QString>("expected");

    const struct {
        const char* tag;
        QString name;
        QString defaultName;
    } boxes[] = {
        {"AVI box", QStringLiteral("Text_Video"), QStringLiteral("output.avi")},
        {"timecodes box", QStringLiteral("Text_VFRTimeCode"), QStringLiteral("output_timecodes.txt")},
    };
    const struct {
        const char* tag;
        Leave leave;
    } leaves[] = {
        {"click into another box", Leave::ClickOtherBox},
        {"Tab", Leave::Tab},
        {"Shift+Tab", Leave::ShiftTab},
        {"Alt+D", Leave::AltD},
    };
    for (const auto& box : boxes) {
        for (const auto& leave : leaves) {
            QTest::addRow("%s, emptied, %s", box.tag, leave.tag) << box.name << QString() << leave.leave
                                                                 << box.defaultName;
            QTest::addRow("%s, spaces, %s", box.tag, leave.tag) << box.name << "   " << leave.leave << "   ";
            QTest::addRow("%s, a name, %s", box.tag, leave.tag)
                << box.name << "a somewhat longer name.ext" << leave.leave << "a somewhat longer name.ext";
        }
    }
}

void OutputBoxesTest::leavingBox() {
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(Leave, leave);
    QFETCH(QString, expected);

    // A chosen source enables "&Demux" and fills both boxes with names.
    QVERIFY(ChooseSource(window_->app.Window(), window_->modals, sourcePath_));
    QVERIFY(Button(QStringLiteral("CommandDemux"))->isEnabled());
    QLineEdit* edit = Box(box);
    QVERIFY(edit != nullptr);
    QVERIFY(!edit->text().isEmpty());

    // Empty the box from the keyboard, then type.
    QTest::mouseClick(edit, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), edit);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QString());
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), typed);
    QCOMPARE(edit->cursorPosition(), typed.size());

    const QStringList before = {Box(QStringLiteral("Text_Video"))->text(),
                                Box(QStringLiteral("Text_VFRTimeCode"))->text()};
    switch (leave) {
    case Leave::ClickOtherBox: QTest::mouseClick(Box(QStringLiteral("Text_mkv")), Qt::LeftButton); break;
    case Leave::Tab: QTest::keyClick(edit, Qt::Key_Tab); break;
    case Leave::ShiftTab: QTest::keyClick(edit, Qt::Key_Backtab, Qt::ShiftModifier); break;
    case Leave::AltD: QTest::keyClick(edit, Qt::Key_D, Qt::AltModifier); break;
    }
    QVERIFY(QApplication::focusWidget() != edit);
    QCOMPARE(edit->text(), expected);
    QCOMPARE(edit->cursorPosition(), 0);
    // The other box is left alone.
    const bool isVideo = box == QLatin1String("Text_Video");
    QCOMPARE(Box(isVideo ? QStringLiteral("Text_VFRTimeCode") : QStringLiteral("Text_Video"))->text(),
             before[isVideo ? 1 : 0]);

    if (leave != Leave::AltD) {
        // Nothing is launched behind the test's back: no click is on its
        // way (an accelerator's click holds the button down until it
        // comes, see below), and nothing waiting in the queue starts one.
        QVERIFY(!Button(QStringLiteral("CommandDemux"))->isDown());
        DeliverPendingEvents();
        QCOMPARE(window_->platform.starts.size(), std::size_t{0});
        return;
    }
    // The accelerator moved the focus to "&Demux" at once; its click follows,
    // the button held down until then, and launches with the box's text as
    // it is after leaving.
    QCOMPARE(QApplication::focusWidget(), Button(QStringLiteral("CommandDemux")));
    QVERIFY(Button(QStringLiteral("CommandDemux"))->isDown());
    QTRY_COMPARE_WITH_TIMEOUT(window_->platform.starts.size(), std::size_t{1}, 20000);
    const QStringList arguments = window_->platform.starts.front().arguments;
    QCOMPARE(arguments.size(), 3);
    QCOMPARE(arguments[isVideo ? 1 : 2], expected);
    QCOMPARE(arguments[isVideo ? 2 : 1], before[isVideo ? 1 : 0]);
}

void OutputBoxesTest::switchingWindowsIsNotLeaving() {
    // Another window taking the activation leaves the focus where it is
    // within this window: the emptied box stays empty until it is left.
    QLineEdit* edit = Box(QStringLiteral("Text_Video"));
    QTest::mouseClick(edit, Qt::LeftButton);
    QCOMPARE(edit->text(), QString());

    QWidget other;
    other.resize(100, 50);
    QVERIFY(ActivateWindow(other));
    QVERIFY(!window_->app.Window().isActiveWindow());
    QCOMPARE(edit->text(), QString());

    QVERIFY(ActivateWindow(window_->app.Window()));
    QCOMPARE(QApplication::focusWidget(), edit);
    QCOMPARE(edit->text(), QString());
    QTest::keyClick(edit, Qt::Key_Tab);
    QCOMPARE(edit->text(), QStringLiteral("output.avi"));
}

QTEST_MAIN(OutputBoxesTest)
#include "tst_output_boxes.moc"
