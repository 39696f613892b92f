// The window, the real mp.exe beside it and a private session bus with a
// recording notification service (python3-dbusmock): a person picks an MKV
// and clicks "&Demux"; the run must end in the success notification naming
// the outputs the window proposed, with its line in the run record, while
// the tool is started with exactly the program and the three names.
//
// The private bus is set up before the application object, so nothing in
// this process (Qt's own D-Bus use included) or in the tool it starts ever
// reaches the user's own bus.

#include "private_bus.hpp"
#include "sample_source.h"
#include "widget_test_support.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <optional>

using namespace tcdemux;
using namespace tcdemux::test;

namespace {

// The real detached start, recorded on its way.
class StartRecordingPlatform : public FolderPlatform {
public:
    using FolderPlatform::FolderPlatform;

    struct Start {
        QString program;
        QStringList arguments;
        tcdemux::Environment environment;
    };
    std::vector<Start> starts;

    void StartDetached(const std::u16string& program, const std::vector<std::u16string>& arguments,
                       const tcdemux::Environment& environment) override {
        Start start{QString::fromStdU16String(program), {}, environment};
        for (const auto& argument : arguments) start.arguments << QString::fromStdU16String(argument);
        starts.push_back(start);
        FolderPlatform::StartDetached(program, arguments, environment);
    }
};

// The run's last notification so far, if any.
std::optional<bustest::NotifyCall> LastCall(const bustest::MockNotificationService& service) {
    const std::vector<bustest::NotifyCall> calls = service.notify_calls();
    if (calls.empty()) return std::nullopt;
    return calls.back();
}

QStringList RecordLines(const QString& stateHome) {
    QFile file(stateHome + QStringLiteral("/tcdemux/runs.log"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class WindowNotifiesTest : public QObject {
    Q_OBJECT

public:
    WindowNotifiesTest(bustest::MockNotificationService& service, QString stateHome)
        : service_(service), stateHome_(std::move(stateHome)) {}

private slots:
    void demuxEndsInSuccessNotification();

private:
    bustest::MockNotificationService& service_;
    QString stateHome_;
};

void WindowNotifiesTest::demuxEndsInSuccessNotification() {
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString sourceFolder = root.filePath(QStringLiteral("影片 & <新>"));
    const QString source = sourceFolder + QStringLiteral("/my movie.mkv");
    QVERIFY(QDir().mkpath(sourceFolder));
    const QString sampleError = MakeSampleSource(source);
    QVERIFY2(sampleError.isEmpty(), qPrintable(sampleError));

    const QString programFolder = QCoreApplication::applicationDirPath();
    QVERIFY(QFileInfo(programFolder + QStringLiteral("/mp.exe")).isExecutable());
    RunningWindow<StartRecordingPlatform> running(programFolder);
    QVERIFY(running.app.Start());
    Form1Window& window = running.app.Window();
    QVERIFY(ActivateWindow(window));
    QVERIFY(ChooseSource(window, running.modals, source));
    QCOMPARE(window.Text_Video->text(), QStringLiteral("my movie.avi"));
    QCOMPARE(window.Text_VFRTimeCode->text(), QStringLiteral("my movie.timecodes.txt"));

    QTest::mouseClick(window.CommandDemux, Qt::LeftButton);

    // The tool's start: the program and the three names, nothing else on
    // its command line; the request to report goes through the environment.
    QCOMPARE(running.platform.starts.size(), size_t{1});
    const StartRecordingPlatform::Start& start = running.platform.starts.front();
    QCOMPARE(start.program, programFolder + QStringLiteral("/mp.exe"));
    QCOMPARE(start.arguments, (QStringList{QDir::toNativeSeparators(source), QStringLiteral("my movie.avi"),
                                           QStringLiteral("my movie.timecodes.txt")}));
    QCOMPARE(start.environment, (tcdemux::Environment{{u"TCDEMUX_NOTIFY", u"1"}}));

    const std::string summary = "Demuxed my movie.mkv";
    QTRY_VERIFY_WITH_TIMEOUT(LastCall(service_) && LastCall(service_)->summary == summary, 60000);
    QVERIFY(running.modals.Unexpected().isEmpty());

    const std::vector<bustest::NotifyCall> calls = service_.notify_calls();
    QVERIFY(calls.size() >= 2);
    QCOMPARE(calls.front().replaces_id, 0u);
    QCOMPARE(QString::fromStdString(calls.front().summary), QStringLiteral("Demuxing my movie.mkv"));
    const QString escapedFolder = QStringLiteral("影片 &amp; &lt;新&gt;");
    for (size_t i = 1; i < calls.size(); ++i) QCOMPARE(calls[i].replaces_id, 1u);
    for (const bustest::NotifyCall& call : calls) {
        QCOMPARE(QString::fromStdString(call.app_name), QStringLiteral("tcdemux"));
        QCOMPARE(call.desktop_entry, std::optional<std::string>("tcdemux"));
        QCOMPARE(call.urgency, std::optional<uint8_t>(1));
    }
    const QString body = QString::fromStdString(calls.back().body);
    QVERIFY2(body.startsWith(QStringLiteral("300 frames written to my movie.avi and my movie.timecodes.txt in ")),
             qPrintable(body));
    QVERIFY2(body.endsWith(QStringLiteral("/") + escapedFolder + QStringLiteral(".")), qPrintable(body));

    // The record, with the files as the tool resolved them.
    QStringList lines;
    QTRY_VERIFY_WITH_TIMEOUT(!(lines = RecordLines(stateHome_)).isEmpty(), 10000);
    QCOMPARE(lines.size(), 1);
    const QStringList fields = lines.front().split(QLatin1Char('\t'));
    QCOMPARE(fields.size(), 6);
    QCOMPARE(fields.at(1), QStringLiteral("0"));
    const QString canonicalFolder = QFileInfo(sourceFolder).canonicalFilePath();
    QCOMPARE(fields.at(2), canonicalFolder + QStringLiteral("/my movie.mkv"));
    QCOMPARE(fields.at(3), canonicalFolder + QStringLiteral("/my movie.avi"));
    QCOMPARE(fields.at(4), canonicalFolder + QStringLiteral("/my movie.timecodes.txt"));
    QCOMPARE(fields.at(5), QStringLiteral("300 frames written"));
    QVERIFY(QFileInfo::exists(sourceFolder + QStringLiteral("/my movie.avi")));
}

int main(int argc, char** argv) {
    std::optional<bustest::PrivateSessionBus> bus;
    std::optional<bustest::MockNotificationService> service;
    try {
        bus.emplace();
        service.emplace(*bus);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "FAIL: no private bus with a notification service: %s\n", e.what());
        return 1;
    }
    const bustest::Folder runtime;
    const bustest::Folder state;
    setenv("DBUS_SESSION_BUS_ADDRESS", bus->address().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    setenv("XDG_STATE_HOME", state.path().c_str(), 1);
    unsetenv("TCDEMUX_NOTIFY");

    QApplication app(argc, argv);
    WindowNotifiesTest test(*service, QString::fromStdString(state.path().string()));
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window_notifies.moc"
