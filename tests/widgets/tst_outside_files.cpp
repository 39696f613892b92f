// Sources from outside the dialog on the real window: files dropped from a
// file manager onto any part of it, files named on the command line, and the
// folder of the last source, which the next start's dialog opens in.
//
// A drop is delivered as the window system delivers it: to the widget under
// the pointer that takes drops, or else to the nearest parent that does.

#include "widget_test_support.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <unistd.h>

#include <memory>

using namespace tcdemux;
using namespace tcdemux::test;

namespace {

// What the window system learns back from a drag and its drop.
struct DropOutcome {
    bool enterAccepted = false;
    bool dropAccepted = false;
    Qt::DropAction action = Qt::IgnoreAction;
};

// Drags `data` onto the window at `point` (window coordinates) and drops it.
DropOutcome DragAndDrop(QWidget& window, QPoint point, const QMimeData& data, Qt::DropActions possible) {
    QWidget* target = window.childAt(point);
    if (target == nullptr) target = &window;
    while (!target->acceptDrops() && !target->isWindow()) target = target->parentWidget();
    DropOutcome outcome;
    if (!target->acceptDrops()) return outcome;
    const QPoint at = target->mapFrom(&window, point);

    QDragEnterEvent enter(at, possible, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    outcome.enterAccepted = enter.isAccepted();
    if (!outcome.enterAccepted) return outcome;
    QDragMoveEvent move(at, possible, &data, Qt::LeftButton, Qt::NoModifier);
    move.setDropAction(enter.dropAction());
    move.accept();
    QApplication::sendEvent(target, &move);
    if (!move.isAccepted()) return outcome;
    QDropEvent drop(at, possible, &data, Qt::LeftButton, Qt::NoModifier);
    drop.setDropAction(move.dropAction());
    QApplication::sendEvent(target, &drop);
    outcome.dropAccepted = drop.isAccepted();
    outcome.action = drop.dropAction();
    return outcome;
}

std::unique_ptr<QMimeData> FileUrls(const QStringList& paths) {
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
    data->setUrls(urls);
    // File managers offer the paths as text too.
    data->setText(paths.join(QLatin1Char('\n')));
    return data;
}

// Where to drop: over a control (by its name), or over the bracket of lines.
QPoint DropPoint(QWidget& window, const QString& over) {
    if (over == QLatin1String("lines")) return {165, 60};
    auto* control = window.findChild<QWidget*>(over, Qt::FindDirectChildrenOnly);
    return control ? control->geometry().center() : QPoint(-1, -1);
}

} // namespace

class OutsideFilesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void dropFillsTheWindow_data();
    void dropFillsTheWindow();
    void dropOfWhatCannotBeOpened_data();
    void dropOfWhatCannotBeOpened();
    void dropOfSeveralFilesTakesTheFirst();
    void textDropIntoAnOutputBoxStillTypes();
    void withoutTheToolDropsAreRefused();
    void startWithFileArguments_data();
    void startWithFileArguments();
    void dialogAfterAnArgumentOpensOnIt();
    void rememberedFolderAtTheNextStart_data();
    void rememberedFolderAtTheNextStart();

private:
    // Starts the window on the recording platform with the given program
    // folder and command-line files; the start-up messages go to `onModal`.
    bool StartWindow(const QString& programFolder, const QStringList& files = {},
                     ModalWatcher::Handler onModal = nullptr);
    QLineEdit* Box(const char* name) const {
        return window_->app.Window().findChild<QLineEdit*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
    }
    QStringList BoxTexts() const {
        return {Box("Text_path")->text(), Box("Text_mkv")->text(), Box("Text_Video")->text(),
                Box("Text_VFRTimeCode")->text()};
    }
    bool DemuxEnabled() const { return window_->app.Window().CommandDemux->isEnabled(); }
    // Collects the texts of message boxes and confirms them.
    ModalWatcher::Handler CollectMessages() {
        return [this](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                messages_ << box->text();
                box->button(QMessageBox::Ok)->click();
            }
        };
    }
    bool SameFolder(const QString& a, const QString& b) const {
        return QFileInfo(a).canonicalFilePath() == QFileInfo(b).canonicalFilePath();
    }

    QTemporaryDir base_;
    QString programFolder_;   // holds mp.exe
    QString emptyFolder_;     // a program folder without it
    QString sourceFolder_;    // "<base>/影片 folder"
    QString sourcePath_;      // "<sourceFolder>/my movie.mkv"
    QString otherPath_;       // "<base>/other/clip.mkv"
    QString startDirectory_;
    QStringList messages_;
    std::unique_ptr<RunningWindow<RecordingPlatform>> window_;
};

void OutsideFilesTest::initTestCase() {
    ConfigureApplication();
    QVERIFY(base_.isValid());
    programFolder_ = base_.filePath(QStringLiteral("program"));
    QVERIFY(CreateFile(programFolder_ + QStringLiteral("/mp.exe"), kExecutable));
    emptyFolder_ = base_.filePath(QStringLiteral("no tool"));
    QVERIFY(QDir().mkpath(emptyFolder_));
    sourceFolder_ = base_.filePath(QStringLiteral("影片 folder"));
    sourcePath_ = sourceFolder_ + QStringLiteral("/my movie.mkv");
    QVERIFY(CreateFile(sourcePath_));
    otherPath_ = base_.filePath(QStringLiteral("other/clip.mkv"));
    QVERIFY(CreateFile(otherPath_));
    // A phone's video, and what lies beside the outputs of a run.
    QVERIFY(CreateFile(sourceFolder_ + QStringLiteral("/my movie.mp4")));
    QFile checksum(sourceFolder_ + QStringLiteral("/my movie.avi.md5"));
    QVERIFY(checksum.open(QIODevice::WriteOnly));
    QVERIFY(checksum.write("d41d8cd98f00b204e9800998ecf8427e  my movie.avi\n") > 0);
    checksum.close();
    startDirectory_ = QDir::currentPath();
}

void OutsideFilesTest::init() {
    messages_.clear();
    QSettings().clear();
    QSettings().sync();
}

void OutsideFilesTest::cleanup() {
    QStringList unexpected;
    if (window_) unexpected = window_->modals.Unexpected();
    window_.reset();
    QDir::setCurrent(startDirectory_);
    QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(QStringLiteral("; "))));
}

bool OutsideFilesTest::StartWindow(const QString& programFolder, const QStringList& files,
                                   ModalWatcher::Handler onModal) {
    window_.reset();
    window_ = std::make_unique<RunningWindow<RecordingPlatform>>(programFolder);
    window_->modals.SetHandler(std::move(onModal));
    std::vector<std::u16string> arguments;
    for (const QString& file : files) arguments.push_back(file.toStdU16String());
    const bool started = window_->app.Start(arguments);
    window_->modals.SetHandler(nullptr);
    return started && ActivateWindow(window_->app.Window());
}

void OutsideFilesTest::dropFillsTheWindow_data() {
    QTest::addColumn<QString>("over");
    QTest::addColumn<int>("possible");
    QTest::addColumn<int>("taken");

    const int copyMove = Qt::CopyAction | Qt::MoveAction;
    QTest::newRow("on the name box") << "Text_mkv" << copyMove << int(Qt::CopyAction);
    QTest::newRow("on the AVI box") << "Text_Video" << copyMove << int(Qt::CopyAction);
    QTest::newRow("on the timecodes box") << "Text_VFRTimeCode" << copyMove << int(Qt::CopyAction);
    QTest::newRow("on the folder strip") << "Text_path" << copyMove << int(Qt::CopyAction);
    QTest::newRow("on VFR mkv") << "CommandOpenMKVfile" << copyMove << int(Qt::CopyAction);
    QTest::newRow("on the disabled Demux") << "CommandDemux" << copyMove << int(Qt::CopyAction);
    QTest::newRow("on Exit") << "CommandExit" << copyMove << int(Qt::CopyAction);
    QTest::newRow("on the lines") << "lines" << copyMove << int(Qt::CopyAction);
    // A file manager that offers only to move or link gets a link: a move
    // would have it delete the file.
    QTest::newRow("move or link offered") << "Text_mkv" << int(Qt::MoveAction | Qt::LinkAction)
                                          << int(Qt::LinkAction);
}

void OutsideFilesTest::dropFillsTheWindow() {
    QFETCH(QString, over);
    QFETCH(int, possible);
    QFETCH(int, taken);

    QVERIFY(StartWindow(programFolder_));
    QWidget& window = window_->app.Window();
    const QPoint point = DropPoint(window, over);
    QVERIFY(window.rect().contains(point));

    const DropOutcome outcome =
        DragAndDrop(window, point, *FileUrls({sourcePath_}), Qt::DropActions::fromInt(possible));

    QVERIFY(outcome.enterAccepted);
    QVERIFY(outcome.dropAccepted);
    QCOMPARE(int(outcome.action), taken);
    // Taken once the drop is over.
    QTRY_COMPARE_WITH_TIMEOUT(Box("Text_mkv")->text(), QStringLiteral("my movie.mkv"), 5000);
    QCOMPARE(BoxTexts(), (QStringList{sourceFolder_ + QLatin1Char('/'), QStringLiteral("my movie.mkv"),
                                      QStringLiteral("my movie.avi"), QStringLiteral("my movie.timecodes.txt")}));
    QVERIFY(DemuxEnabled());
    QVERIFY(SameFolder(QDir::currentPath(), sourceFolder_));
    QVERIFY(QFileInfo::exists(sourcePath_));
}

void OutsideFilesTest::dropOfWhatCannotBeOpened_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("unreadable");

    QTest::newRow("missing file") << base_.filePath(QStringLiteral("gone.mkv")) << "there is no such file." << false;
    QTest::newRow("folder") << sourceFolder_ << "it is not a regular file." << false;
    QTest::newRow("unreadable file") << base_.filePath(QStringLiteral("locked.mkv")) << "the file cannot be read."
                                     << true;
    QTest::newRow("not a video file") << sourceFolder_ + QStringLiteral("/my movie.avi.md5")
                                      << "it is not a video file." << false;
}

void OutsideFilesTest::dropOfWhatCannotBeOpened() {
    QFETCH(QString, path);
    QFETCH(QString, reason);
    QFETCH(bool, unreadable);

    if (unreadable) {
        // The superuser reads every file whatever its permissions.
        if (geteuid() == 0) QSKIP("running as root, which can read a file without read permission");
        QVERIFY(CreateFile(path, QFile::WriteOwner));
    }
    QVERIFY(StartWindow(programFolder_));
    const QStringList before = BoxTexts();
    window_->modals.SetHandler(CollectMessages());

    const DropOutcome outcome =
        DragAndDrop(window_->app.Window(), DropPoint(window_->app.Window(), QStringLiteral("Text_Video")),
                    *FileUrls({path}), Qt::CopyAction);

    QVERIFY(outcome.dropAccepted);
    QTRY_COMPARE_WITH_TIMEOUT(messages_.size(), 1, 5000);
    QCOMPARE(messages_.constFirst(), QStringLiteral("Cannot open \"%1\": %2").arg(path, reason));
    QCOMPARE(BoxTexts(), before);
    QVERIFY(!DemuxEnabled());
    QCOMPARE(QDir::currentPath(), startDirectory_);
}

void OutsideFilesTest::dropOfSeveralFilesTakesTheFirst() {
    QVERIFY(StartWindow(programFolder_));
    window_->modals.SetHandler(CollectMessages());

    const DropOutcome outcome = DragAndDrop(window_->app.Window(), QPoint(10, 10),
                                            *FileUrls({otherPath_, sourcePath_}), Qt::CopyAction);

    QVERIFY(outcome.dropAccepted);
    QTRY_COMPARE_WITH_TIMEOUT(messages_.size(), 1, 5000);
    QCOMPARE(messages_.constFirst(),
             QStringLiteral("tcdemux takes one file at a time: it opened \"%1\" and left the other file.")
                 .arg(otherPath_));
    QCOMPARE(Box("Text_mkv")->text(), QStringLiteral("clip.mkv"));
    QCOMPARE(Box("Text_Video")->text(), QStringLiteral("clip.avi"));
}

void OutsideFilesTest::textDropIntoAnOutputBoxStillTypes() {
    QVERIFY(StartWindow(programFolder_));
    QLineEdit* box = Box("Text_Video");
    box->clear();
    QMimeData text;
    text.setText(QStringLiteral("dropped.avi"));

    const DropOutcome outcome = DragAndDrop(window_->app.Window(), box->geometry().center(), text, Qt::CopyAction);

    QVERIFY(outcome.dropAccepted);
    QCOMPARE(box->text(), QStringLiteral("dropped.avi"));
    QCOMPARE(Box("Text_mkv")->text(), QStringLiteral("欲分解的MKV文件，請按->"));
}

void OutsideFilesTest::withoutTheToolDropsAreRefused() {
    QVERIFY(StartWindow(emptyFolder_, {}, CollectMessages()));
    QCOMPARE(messages_, QStringList{QStringLiteral("No find MP.EXE program file")});
    const QStringList before = BoxTexts();

    for (const char* over : {"Text_mkv", "Text_Video", "CommandExit"}) {
        const DropOutcome outcome =
            DragAndDrop(window_->app.Window(), DropPoint(window_->app.Window(), QString::fromLatin1(over)),
                        *FileUrls({sourcePath_}), Qt::CopyAction);
        QVERIFY2(!outcome.enterAccepted, over);
    }
    // Even a drop that came without its drag takes nothing.
    const auto urls = FileUrls({sourcePath_});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, urls.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window_->app.Window(), &drop);
    QVERIFY(!drop.isAccepted());
    // The window takes a drop through a queued call: none may be waiting.
    DeliverPendingEvents();
    QCOMPARE(BoxTexts(), before);
    QVERIFY(!DemuxEnabled());
    QCOMPARE(messages_.size(), 1);
}

void OutsideFilesTest::startWithFileArguments_data() {
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("currentDirectory"); // "" for the test's own
    QTest::addColumn<QString>("name");             // "" for a window left as it was
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("absolute path") << QStringList{sourcePath_} << "" << "my movie.mkv" << QStringList();
    QTest::newRow("relative path") << QStringList{QStringLiteral("my movie.mkv")} << sourceFolder_ << "my movie.mkv"
                                   << QStringList();
    QTest::newRow("path with dots") << QStringList{QStringLiteral("../影片 folder/./my movie.mkv")}
                                    << base_.filePath(QStringLiteral("other")) << "my movie.mkv" << QStringList();
    QTest::newRow("missing file") << QStringList{QStringLiteral("gone.mkv")} << sourceFolder_ << ""
                                  << QStringList{QStringLiteral("Cannot open \"gone.mkv\": there is no such file.")};
    QTest::newRow("phone video") << QStringList{QStringLiteral("my movie.mp4")} << sourceFolder_ << "my movie.mp4"
                                 << QStringList();
    QTest::newRow("not a video file") << QStringList{QStringLiteral("my movie.avi.md5")} << sourceFolder_ << ""
                                      << QStringList{QStringLiteral(
                                             "Cannot open \"my movie.avi.md5\": it is not a video file.")};
    QTest::newRow("two files") << QStringList{sourcePath_, otherPath_} << "" << "my movie.mkv"
                               << QStringList{QStringLiteral("tcdemux takes one file at a time: it opened \"%1\" "
                                                             "and left the other file.")
                                                  .arg(sourcePath_)};
}

void OutsideFilesTest::startWithFileArguments() {
    QFETCH(QStringList, files);
    QFETCH(QString, currentDirectory);
    QFETCH(QString, name);
    QFETCH(QStringList, messages);

    if (!currentDirectory.isEmpty()) QVERIFY(QDir::setCurrent(currentDirectory));
    QVERIFY(StartWindow(programFolder_, files, CollectMessages()));

    QCOMPARE(messages_, messages);
    if (name.isEmpty()) {
        QCOMPARE(Box("Text_mkv")->text(), QStringLiteral("欲分解的MKV文件，請按->"));
        QCOMPARE(Box("Text_Video")->text(), QStringLiteral("Output AVI file name"));
        QVERIFY(!DemuxEnabled());
        return;
    }
    QCOMPARE(Box("Text_path")->text(), sourceFolder_ + QLatin1Char('/'));
    QCOMPARE(Box("Text_mkv")->text(), name);
    QCOMPARE(Box("Text_Video")->text(), QStringLiteral("my movie.avi"));
    QCOMPARE(Box("Text_VFRTimeCode")->text(), QStringLiteral("my movie.timecodes.txt"));
    QVERIFY(DemuxEnabled());
    QVERIFY(SameFolder(QDir::currentPath(), sourceFolder_));

    // "&Demux" hands the file on as the dialog's file would be.
    QTest::mouseClick(window_->app.Window().CommandDemux, Qt::LeftButton);
    QCOMPARE(window_->platform.starts.size(), 1u);
    QCOMPARE(window_->platform.starts[0].arguments,
             (QStringList{sourceFolder_ + QLatin1Char('/') + name, QStringLiteral("my movie.avi"),
                          QStringLiteral("my movie.timecodes.txt")}));
}

void OutsideFilesTest::dialogAfterAnArgumentOpensOnIt() {
    QVERIFY(StartWindow(programFolder_, {sourcePath_}));
    QStringList preselected;
    window_->modals.SetHandler([&](QWidget* modal) {
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            preselected = dialog->selectedFiles();
            dialog->reject();
        }
    });
    QTest::mouseClick(window_->app.Window().CommandOpenMKVfile, Qt::LeftButton);
    window_->modals.SetHandler(nullptr);
    QCOMPARE(preselected, QStringList{sourcePath_});
}

void OutsideFilesTest::rememberedFolderAtTheNextStart_data() {
    QTest::addColumn<bool>("byDrop");
    QTest::addColumn<bool>("folderGone");

    QTest::newRow("argument") << false << false;
    QTest::newRow("drop") << true << false;
    QTest::newRow("folder removed since") << false << true;
}

void OutsideFilesTest::rememberedFolderAtTheNextStart() {
    QFETCH(bool, byDrop);
    QFETCH(bool, folderGone);

    QTemporaryDir earlier(base_.filePath(QStringLiteral("earlier XXXXXX")));
    const QString source = earlier.filePath(QStringLiteral("a.mkv"));
    QVERIFY(CreateFile(source));
    if (byDrop) {
        QVERIFY(StartWindow(programFolder_));
        QVERIFY(DragAndDrop(window_->app.Window(), QPoint(10, 10), *FileUrls({source}), Qt::CopyAction)
                    .dropAccepted);
        QTRY_COMPARE_WITH_TIMEOUT(Box("Text_mkv")->text(), QStringLiteral("a.mkv"), 5000);
    } else {
        QVERIFY(StartWindow(programFolder_, {source}));
    }
    window_.reset();
    // The settings lie in the test's own folder, not in the user's.
    QVERIFY(QFileInfo(QSettings().fileName()).absolutePath().startsWith(SettingsFolder()));
    if (folderGone) QVERIFY(earlier.remove());

    // The next start, from another folder: its dialogs open in the earlier
    // source's folder until it has a source of its own, after a cancel too.
    QVERIFY(QDir::setCurrent(otherPath_.section(QLatin1Char('/'), 0, -2)));
    QVERIFY(StartWindow(programFolder_));
    QStringList folders;
    window_->modals.SetHandler([&](QWidget* modal) {
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            folders << dialog->directory().absolutePath();
            dialog->reject();
        }
    });
    QTest::mouseClick(window_->app.Window().CommandOpenMKVfile, Qt::LeftButton);
    QVERIFY(ActivateWindow(window_->app.Window()));
    QTest::mouseClick(window_->app.Window().CommandOpenMKVfile, Qt::LeftButton);
    window_->modals.SetHandler(nullptr);

    const QString expected = folderGone ? QDir::currentPath() : earlier.path();
    QCOMPARE(folders.size(), 2);
    for (const QString& folder : folders) QVERIFY2(SameFolder(folder, expected), qPrintable(folder));
}

QTEST_MAIN(OutsideFilesTest)
#include "tst_outside_files.moc"
