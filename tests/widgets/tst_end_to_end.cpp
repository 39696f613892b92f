// The window with the real Qt platform from end to end: the open-file dialog
// (its settings, the names it proposes, the file it remembers), the launch of
// the tool through the real detached process start, and a launch that fails.
//
// A small recorder program stands in for the tool: copied as mp.exe into a
// program folder whose path has spaces and Chinese characters, it writes its
// current directory and its arguments to a record file, which the tests
// compare byte for byte with what the window should have passed.

#include "widget_test_support.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace tcdemux;
using namespace tcdemux::test;

namespace {

// What a test saw of one open-file dialog.
struct DialogVisit {
    QString title;
    QStringList nameFilters;
    QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptSave;
    QStringList selectedFiles;
    bool qtDialog = false; // Qt's own dialog, not the platform's
};

// The records written so far (or, with another pattern, the recorder's
// other marks: "*.started", "*.gave-up").
QStringList RecordFiles(const QString& folder, const QString& pattern = QStringLiteral("*.rec")) {
    QStringList files;
    for (const QFileInfo& info : QDir(folder).entryInfoList({pattern}, QDir::Files)) files << info.filePath();
    return files;
}

// Waits for the tool's runs to show: a bound that only a fault reaches.
constexpr int kToolBound = 20000;

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// A record as the recorder writes it: each part followed by a NUL byte, the
// last part the notify variable, which the window always sets.
QByteArray Record(const QString& currentDirectory, const QStringList& arguments) {
    QByteArray bytes = currentDirectory.toUtf8() + '\0';
    for (const QString& argument : arguments) bytes += argument.toUtf8() + '\0';
    return bytes + "TCDEMUX_NOTIFY=1" + '\0';
}

// What the program folder holds under the name mp.exe when Demux is clicked.
enum class BrokenTool { Removed, NotExecutable, Folder };

} // namespace

Q_DECLARE_METATYPE(BrokenTool)

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void dialogSettingsAndProposedNames_data();
    void dialogSettingsAndProposedNames();
    void dialogRemembersLastConfirmedFile();
    void demuxStartsToolWithBoxTexts();
    void demuxDoesNotWaitForTool();
    void failedStartKeepsWindow_data();
    void failedStartKeepsWindow();

private:
    QLineEdit* Box(const QString& name) const {
        return window_->app.Window().findChild<QLineEdit*>(name, Qt::FindDirectChildrenOnly);
    }
    QStringList BoxTexts() const {
        QStringList texts;
        for (const char* name : {"Text_path", "Text_mkv", "Text_Video", "Text_VFRTimeCode"})
            texts << Box(QString::fromLatin1(name))->text();
        return texts;
    }
    // Clicks "VFR mkv"; the dialog is recorded, then given `choice` and
    // accepted, or rejected when `choice` is empty.
    bool OpenDialog(const QString& choice, DialogVisit* visit = nullptr);
    void TypeInto(QLineEdit* box, const QString& text);
    QString ToolPath() const { return programFolder_->filePath(QStringLiteral("mp.exe")); }

    std::unique_ptr<QTemporaryDir> base_;
    QString sourceFolder_; // "<base>/影片 folder"
    QString sourcePath_;   // "<sourceFolder>/my movie.mkv"
    QString recordFolder_;
    QString startDirectory_;

    std::unique_ptr<QTemporaryDir> programFolder_;
    std::unique_ptr<RunningWindow<FolderPlatform>> window_;
};

void EndToEndTest::initTestCase() {
    ConfigureApplication();
    startDirectory_ = QDir::currentPath();
    base_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tcdemux e2e XXXXXX"));
    QVERIFY(base_->isValid());
    sourceFolder_ = base_->filePath(QStringLiteral("影片 folder"));
    sourcePath_ = sourceFolder_ + QStringLiteral("/my movie.mkv");
    QVERIFY(CreateFile(sourcePath_));
    QVERIFY(CreateFile(sourceFolder_ + QStringLiteral("/a.b.c.mkv")));
    QVERIFY(CreateFile(sourceFolder_ + QStringLiteral("/other.mkv")));
    recordFolder_ = base_->filePath(QStringLiteral("records"));
    QVERIFY(QDir().mkpath(recordFolder_));
    qputenv("TCDEMUX_RECORD_DIR", QFile::encodeName(recordFolder_));
    // The recorded notify variable must come from the window's start alone.
    qunsetenv("TCDEMUX_NOTIFY");
}

void EndToEndTest::init() {
    // A fresh program folder with the recorder as its tool, and no records.
    programFolder_ = std::make_unique<QTemporaryDir>(base_->filePath(QStringLiteral("程式 資料夾 XXXXXX")));
    QVERIFY(programFolder_->isValid());
    QVERIFY(QFile::copy(QStringLiteral(TCDEMUX_ARG_RECORDER), ToolPath()));
    QVERIFY(QFile::setPermissions(ToolPath(), kExecutable));
    for (const QString& record : RecordFiles(recordFolder_, QStringLiteral("*"))) QVERIFY(QFile::remove(record));
    qunsetenv("TCDEMUX_RECORD_GATE");

    window_ = std::make_unique<RunningWindow<FolderPlatform>>(programFolder_->path());
    QVERIFY(window_->app.Start());
    QVERIFY(ActivateWindow(window_->app.Window()));
}

void EndToEndTest::cleanup() {
    const QStringList unexpected = window_->modals.Unexpected();
    window_.reset();
    programFolder_.reset();
    QDir::setCurrent(startDirectory_);
    QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(QStringLiteral("; "))));
}

bool EndToEndTest::OpenDialog(const QString& choice, DialogVisit* visit) {
    bool seen = false;
    window_->modals.SetHandler([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (dialog == nullptr) return;
        seen = true;
        if (visit) *visit = {dialog->windowTitle(), dialog->nameFilters(), dialog->fileMode(), dialog->acceptMode(),
                             dialog->selectedFiles(), dialog->testOption(QFileDialog::DontUseNativeDialog)};
        if (choice.isEmpty()) {
            dialog->reject();
        } else {
            dialog->selectFile(choice);
            static_cast<QDialog*>(dialog)->accept();
        }
    });
    QTest::mouseClick(window_->app.Window().CommandOpenMKVfile, Qt::LeftButton);
    window_->modals.SetHandler(nullptr);
    // No window manager here gives the activation back after the dialog.
    return seen && ActivateWindow(window_->app.Window());
}

void EndToEndTest::TypeInto(QLineEdit* box, const QString& text) {
    QTest::mouseClick(box, Qt::LeftButton);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, text);
}

void EndToEndTest::dialogSettingsAndProposedNames_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("typedVideo");     // empty: left showing its prompt
    QTest::addColumn<QString>("typedTimecodes"); // empty: left showing its prompt
    QTest::addColumn<QString>("video");
    QTest::addColumn<QString>("timecodes");

    QTest::newRow("both prompts") << "my movie.mkv" << "" << "" << "my movie.avi" << "my movie.timecodes.txt";
    QTest::newRow("several dots") << "a.b.c.mkv" << "" << "" << "a.b.c.avi" << "a.b.c.timecodes.txt";
    QTest::newRow("AVI name typed") << "my movie.mkv" << "mine.avi" << "" << "mine.avi" << "my movie.timecodes.txt";
    QTest::newRow("timecodes name typed") << "my movie.mkv" << "" << "tc.txt" << "my movie.avi" << "tc.txt";
}

void EndToEndTest::dialogSettingsAndProposedNames() {
    QFETCH(QString, fileName);
    QFETCH(QString, typedVideo);
    QFETCH(QString, typedTimecodes);
    QFETCH(QString, video);
    QFETCH(QString, timecodes);

    if (!typedVideo.isEmpty()) TypeInto(Box(QStringLiteral("Text_Video")), typedVideo);
    if (!typedTimecodes.isEmpty()) TypeInto(Box(QStringLiteral("Text_VFRTimeCode")), typedTimecodes);

    DialogVisit visit;
    QVERIFY(OpenDialog(sourceFolder_ + QLatin1Char('/') + fileName, &visit));
    QCOMPARE(visit.title, QStringLiteral("輸入mkv影音檔"));
    QCOMPARE(visit.nameFilters, QStringList{QStringLiteral("mkv影音檔 (*.mkv)")});
    QCOMPARE(visit.fileMode, QFileDialog::ExistingFile);
    QCOMPARE(visit.acceptMode, QFileDialog::AcceptOpen);
    QVERIFY(visit.qtDialog);

    QCOMPARE(Box(QStringLiteral("Text_path"))->text(), sourceFolder_ + QLatin1Char('/'));
    QCOMPARE(Box(QStringLiteral("Text_mkv"))->text(), fileName);
    QCOMPARE(Box(QStringLiteral("Text_Video"))->text(), video);
    QCOMPARE(Box(QStringLiteral("Text_VFRTimeCode"))->text(), timecodes);
    for (QLineEdit* box : window_->app.Window().findChildren<QLineEdit*>()) QCOMPARE(box->cursorPosition(), 0);
    QVERIFY(window_->app.Window().CommandDemux->isEnabled());
    QCOMPARE(QFileInfo(QDir::currentPath()).canonicalFilePath(), QFileInfo(sourceFolder_).canonicalFilePath());
}

void EndToEndTest::dialogRemembersLastConfirmedFile() {
    const QString other = sourceFolder_ + QStringLiteral("/other.mkv");
    const auto preselected = [](const DialogVisit& visit) {
        QStringList files;
        for (const QString& path : visit.selectedFiles)
            if (QFileInfo(path).isFile()) files << path;
        return files;
    };

    DialogVisit first, second, third, fourth;
    QVERIFY(OpenDialog(sourcePath_, &first));
    QCOMPARE(preselected(first), QStringList());
    QVERIFY(OpenDialog(other, &second));
    QCOMPARE(preselected(second), QStringList{sourcePath_});

    // Cancelled: the window and the current directory stay as they were.
    const QStringList texts = BoxTexts();
    QDir::setCurrent(base_->path());
    QVERIFY(OpenDialog(QString(), &third));
    QCOMPARE(preselected(third), QStringList{other});
    QCOMPARE(BoxTexts(), texts);
    QCOMPARE(QDir::currentPath(), base_->path());
    QVERIFY(window_->app.Window().CommandDemux->isEnabled());

    // After a cancel the next dialog has nothing preselected.
    QVERIFY(OpenDialog(QString(), &fourth));
    QCOMPARE(preselected(fourth), QStringList());
    QCOMPARE(BoxTexts(), texts);
}

void EndToEndTest::demuxStartsToolWithBoxTexts() {
    const QString videoName = QStringLiteral("my \"cut\".avi");
    TypeInto(Box(QStringLiteral("Text_Video")), videoName);
    QVERIFY(OpenDialog(sourcePath_));
    QCOMPARE(Box(QStringLiteral("Text_Video"))->text(), videoName);
    QCOMPARE(Box(QStringLiteral("Text_VFRTimeCode"))->text(), QStringLiteral("my movie.timecodes.txt"));
    const QStringList textsBefore = BoxTexts();

    QTest::mouseClick(window_->app.Window().CommandDemux, Qt::LeftButton);
    QTest::mouseClick(window_->app.Window().CommandDemux, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(RecordFiles(recordFolder_).size(), 2, kToolBound);

    const QByteArray expected =
        Record(QFileInfo(sourceFolder_).canonicalFilePath(),
               {sourcePath_, videoName, QStringLiteral("my movie.timecodes.txt")});
    for (const QString& record : RecordFiles(recordFolder_)) QCOMPARE(ReadFile(record), expected);
    QCOMPARE(BoxTexts(), textsBefore);
    QVERIFY(window_->app.Window().isVisible());
}

void EndToEndTest::demuxDoesNotWaitForTool() {
    QVERIFY(OpenDialog(sourcePath_));
    // The stand-in tool says that it started and then waits at a gate that
    // opens only once the click has come back. A click that waited for the
    // tool would come back only after the tool had given up waiting.
    const QString gate = base_->filePath(QStringLiteral("gate"));
    QFile::remove(gate);
    qputenv("TCDEMUX_RECORD_GATE", QFile::encodeName(gate));
    QTest::mouseClick(window_->app.Window().CommandDemux, Qt::LeftButton);
    QVERIFY2(RecordFiles(recordFolder_, QStringLiteral("*.gave-up")).isEmpty(),
             "the click came back only after the tool had ended");
    QVERIFY(RecordFiles(recordFolder_).isEmpty());

    // The tool runs, held at the gate, while the window is free.
    QTRY_COMPARE_WITH_TIMEOUT(RecordFiles(recordFolder_, QStringLiteral("*.started")).size(), 1, kToolBound);
    QVERIFY(window_->app.Window().CommandDemux->isEnabled());
    QVERIFY(CreateFile(gate));
    QTRY_COMPARE_WITH_TIMEOUT(RecordFiles(recordFolder_).size(), 1, kToolBound);
    QVERIFY(RecordFiles(recordFolder_, QStringLiteral("*.gave-up")).isEmpty());
    qunsetenv("TCDEMUX_RECORD_GATE");
}

void EndToEndTest::failedStartKeepsWindow_data() {
    QTest::addColumn<BrokenTool>("broken");
    QTest::addColumn<QString>("reason");

    QTest::newRow("removed") << BrokenTool::Removed << "does not exist";
    QTest::newRow("not executable") << BrokenTool::NotExecutable << "not executable";
    QTest::newRow("a folder") << BrokenTool::Folder << "folder";
}

void EndToEndTest::failedStartKeepsWindow() {
    QFETCH(BrokenTool, broken);
    QFETCH(QString, reason);

    QVERIFY(OpenDialog(sourcePath_));
    TypeInto(Box(QStringLiteral("Text_Video")), QStringLiteral("kept.avi"));
    switch (broken) {
    case BrokenTool::Removed: QVERIFY(QFile::remove(ToolPath())); break;
    case BrokenTool::NotExecutable:
        QVERIFY(QFile::setPermissions(ToolPath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        break;
    case BrokenTool::Folder:
        QVERIFY(QFile::remove(ToolPath()));
        QVERIFY(QDir().mkdir(ToolPath()));
        break;
    }
    // Leave the box first so that its own handling is done before comparing.
    QTest::mouseClick(Box(QStringLiteral("Text_mkv")), Qt::LeftButton);
    const QStringList textsBefore = BoxTexts();

    QString message, title;
    QMessageBox::Icon icon = QMessageBox::Warning;
    qsizetype buttonCount = 0;
    window_->modals.SetHandler([&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            message = box->text();
            title = box->windowTitle();
            icon = box->icon();
            buttonCount = box->buttons().size();
            box->button(QMessageBox::Ok)->click();
        }
    });
    // Click inside the running event loop: the failure must not end it, so
    // it returns only with the code given once the loop has dealt with all
    // the click left behind and is about to wait for more.
    QTimer::singleShot(0, this, [this] {
        QTest::mouseClick(window_->app.Window().CommandDemux, Qt::LeftButton);
        connect(
            QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
            [] { QCoreApplication::exit(42); }, Qt::SingleShotConnection);
    });
    QTimer failSafe;
    failSafe.setSingleShot(true);
    connect(&failSafe, &QTimer::timeout, this, [] { QCoreApplication::exit(99); });
    failSafe.start(kToolBound);
    QCOMPARE(QApplication::exec(), 42);
    window_->modals.SetHandler(nullptr);

    QCOMPARE(window_->modals.Seen(), 2); // the file dialog, then the message
    QVERIFY2(message.contains(QDir::toNativeSeparators(ToolPath())), qPrintable(message));
    QVERIFY2(message.contains(reason), qPrintable(message));
    QCOMPARE(title, QCoreApplication::applicationName());
    QCOMPARE(icon, QMessageBox::NoIcon);
    QCOMPARE(buttonCount, 1);

    // The window carries on as it was.
    QVERIFY(!window_->app.Failed());
    QVERIFY(window_->app.Window().isVisible());
    QCOMPARE(BoxTexts(), textsBefore);
    QVERIFY(window_->app.Window().CommandDemux->isEnabled());
    QVERIFY(window_->app.Window().CommandOpenMKVfile->isEnabled());
    QCOMPARE(window_->platform.StartsMade(), 0);

    // With the tool back in place the next click starts it.
    if (broken == BrokenTool::Folder) QVERIFY(QDir().rmdir(ToolPath()));
    QFile::remove(ToolPath());
    QVERIFY(QFile::copy(QStringLiteral(TCDEMUX_ARG_RECORDER), ToolPath()));
    QVERIFY(QFile::setPermissions(ToolPath(), kExecutable));
    QVERIFY(ActivateWindow(window_->app.Window()));
    QTest::mouseClick(window_->app.Window().CommandDemux, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(RecordFiles(recordFolder_).size(), 1, kToolBound);
    QCOMPARE(ReadFile(RecordFiles(recordFolder_).constFirst()),
             Record(QFileInfo(sourceFolder_).canonicalFilePath(),
                    {sourcePath_, QStringLiteral("kept.avi"), QStringLiteral("my movie.timecodes.txt")}));
}

QTEST_MAIN(EndToEndTest)
#include "tst_end_to_end.moc"
