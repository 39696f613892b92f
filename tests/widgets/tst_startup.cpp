// Start-up: the prompts the boxes show, the check for the tool beside the
// program (with the message box that reports it missing, shown and waited
// for before the window appears), and "&Exit" ending the event loop.

#include "widget_test_support.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace tcdemux;
using namespace tcdemux::test;

namespace {

// What the tool's folder holds under the name mp.exe.
enum class ToolEntry { Program, PlainFile, Nothing, Folder };

// What the watcher saw of a message box.
struct SeenBox {
    bool seen = false;
    bool windowVisible = false;
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::Warning;
    QMessageBox::StandardButtons buttons;
    qsizetype buttonCount = 0;
    bool modal = false;
};

} // namespace

Q_DECLARE_METATYPE(ToolEntry)

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void prompts_data();
    void prompts();
    void toolCheck_data();
    void toolCheck();
    void exitEndsEventLoop_data();
    void exitEndsEventLoop();

private:
    std::unique_ptr<QTemporaryDir> programFolder_;
    std::unique_ptr<ModalWatcher> modals_;
};

void StartupTest::initTestCase() { ConfigureApplication(); }

void StartupTest::init() {
    programFolder_ = std::make_unique<QTemporaryDir>();
    QVERIFY(programFolder_->isValid());
    modals_ = std::make_unique<ModalWatcher>();
}

void StartupTest::cleanup() {
    const QStringList unexpected = modals_->Unexpected();
    modals_.reset();
    programFolder_.reset();
    QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(QStringLiteral("; "))));
}

void StartupTest::prompts_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("prompt");

    QTest::newRow("Text_path") << "Text_path" << QStringLiteral("路徑");
    QTest::newRow("Text_mkv") << "Text_mkv" << QStringLiteral("欲分解的MKV文件，請按->");
    QTest::newRow("Text_Video") << "Text_Video" << "Output AVI file name";
    QTest::newRow("Text_VFRTimeCode") << "Text_VFRTimeCode" << "Output timecodes file name";
}

void StartupTest::prompts() {
    QFETCH(QString, box);
    QFETCH(QString, prompt);

    QVERIFY(CreateFile(programFolder_->filePath(QStringLiteral("mp.exe")), kExecutable));
    FolderPlatform platform(programFolder_->path());
    AppWindow app(platform);
    // Load writes the prompts; make sure the boxes do not already hold them.
    for (auto* edit : app.Window().findChildren<QLineEdit*>()) edit->setText(QStringLiteral("-"));
    QVERIFY(app.Start());

    auto* edit = app.Window().findChild<QLineEdit*>(box);
    QVERIFY(edit != nullptr);
    QCOMPARE(edit->text(), prompt);
    QCOMPARE(edit->cursorPosition(), 0);
}

void StartupTest::toolCheck_data() {
    QTest::addColumn<ToolEntry>("entry");
    QTest::addColumn<bool>("reportedMissing");

    QTest::newRow("program present") << ToolEntry::Program << false;
    // Only its being an ordinary file counts at start-up.
    QTest::newRow("non-executable file present") << ToolEntry::PlainFile << false;
    QTest::newRow("missing") << ToolEntry::Nothing << true;
    QTest::newRow("folder named mp.exe") << ToolEntry::Folder << true;
}

void StartupTest::toolCheck() {
    QFETCH(ToolEntry, entry);
    QFETCH(bool, reportedMissing);

    const QString toolPath = programFolder_->filePath(QStringLiteral("mp.exe"));
    switch (entry) {
    case ToolEntry::Program: QVERIFY(CreateFile(toolPath, kExecutable)); break;
    case ToolEntry::PlainFile: QVERIFY(CreateFile(toolPath)); break;
    case ToolEntry::Nothing: break;
    case ToolEntry::Folder: QVERIFY(QDir().mkdir(toolPath)); break;
    }

    FolderPlatform platform(programFolder_->path());
    AppWindow app(platform);
    SeenBox seen;
    modals_->SetHandler([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) return; // closed by the watcher, and counted below
        seen.seen = true;
        seen.windowVisible = app.Window().isVisible();
        seen.text = box->text();
        seen.title = box->windowTitle();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        seen.buttonCount = box->buttons().size();
        seen.modal = box->isModal();
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
    });

    // Start returns only once the message box (if any) has been closed.
    QVERIFY(app.Start());
    QCOMPARE(seen.seen, reportedMissing);
    QCOMPARE(modals_->Seen(), reportedMissing ? 1 : 0);
    QVERIFY(app.Window().isVisible());
    QVERIFY(!app.Failed());

    auto* open = app.Window().findChild<QPushButton*>(QStringLiteral("CommandOpenMKVfile"));
    auto* demux = app.Window().findChild<QPushButton*>(QStringLiteral("CommandDemux"));
    QVERIFY(open && demux);
    QCOMPARE(open->isEnabled(), !reportedMissing);
    QVERIFY(!demux->isEnabled());
    // Nothing more turns up from what the start left in the queue.
    DeliverPendingEvents();
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QCOMPARE(modals_->Seen(), reportedMissing ? 1 : 0);
    if (!reportedMissing) return;

    QVERIFY2(!seen.windowVisible, "the message must come before the window appears");
    QCOMPARE(seen.text, QStringLiteral("No find MP.EXE program file"));
    QCOMPARE(seen.title, QStringLiteral("tcdemux"));
    QCOMPARE(seen.title, QCoreApplication::applicationName());
    QCOMPARE(seen.icon, QMessageBox::NoIcon);
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(seen.buttonCount, 1);
    QVERIFY(seen.modal);
}

void StartupTest::exitEndsEventLoop_data() {
    QTest::addColumn<bool>("byKeyboard");

    QTest::newRow("click") << false;
    QTest::newRow("Alt+E") << true;
}

void StartupTest::exitEndsEventLoop() {
    QFETCH(bool, byKeyboard);

    QVERIFY(CreateFile(programFolder_->filePath(QStringLiteral("mp.exe")), kExecutable));
    FolderPlatform platform(programFolder_->path());
    AppWindow app(platform);
    QVERIFY(app.Start());
    QVERIFY(ActivateWindow(app.Window()));
    auto* exitButton = app.Window().findChild<QPushButton*>(QStringLiteral("CommandExit"));
    QVERIFY(exitButton != nullptr);

    QTimer::singleShot(0, exitButton, [&] {
        if (byKeyboard)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_E, Qt::AltModifier);
        else
            QTest::mouseClick(exitButton, Qt::LeftButton);
    });
    // Should the loop keep running, end it with a code of our own.
    bool failSafeFired = false;
    QTimer failSafe;
    failSafe.setSingleShot(true);
    connect(&failSafe, &QTimer::timeout, this, [&] {
        failSafeFired = true;
        QCoreApplication::exit(99);
    });
    failSafe.start(20000);

    const int status = QApplication::exec();
    QVERIFY2(!failSafeFired, "the event loop did not end");
    QCOMPARE(status, 0);
    QVERIFY(!app.Failed());
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
