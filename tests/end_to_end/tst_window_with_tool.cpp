// The window and the real mp.exe together: a person chooses an MKV in the
// dialog and clicks "&Demux"; the AVI and the timecodes file must appear
// beside the source, whole, under the names the window proposed.

#include "sample_source.h"
#include "widget_test_support.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace tcdemux;
using namespace tcdemux::test;

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The tool's unfinished outputs are hidden ".tcdemux-TOKEN-N.part" files.
bool HasPartialOutputs(const QString& folder) {
    return !QDir(folder).entryList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden).isEmpty();
}

} // namespace

class WindowWithToolTest : public QObject {
    Q_OBJECT

private slots:
    void demuxWritesBothOutputsBesideTheSource();
};

void WindowWithToolTest::demuxWritesBothOutputsBesideTheSource() {
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString sourceFolder = root.filePath(QStringLiteral("影片 資料夾"));
    const QString source = sourceFolder + QStringLiteral("/my movie.mkv");
    QVERIFY(QDir().mkpath(sourceFolder));
    const QString sampleError = MakeSampleSource(source);
    QVERIFY2(sampleError.isEmpty(), qPrintable(sampleError));

    // The test runs from the folder that holds mp.exe, as the window does.
    QVERIFY(QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/mp.exe")).isExecutable());
    RunningWindow<FolderPlatform> running(QCoreApplication::applicationDirPath());
    QVERIFY(running.app.Start());
    Form1Window& window = running.app.Window();
    QVERIFY(ActivateWindow(window));
    QVERIFY(ChooseSource(window, running.modals, source));
    QCOMPARE(window.Text_Video->text(), QStringLiteral("my movie.avi"));
    QCOMPARE(window.Text_VFRTimeCode->text(), QStringLiteral("my movie.timecodes.txt"));

    QTest::mouseClick(window.CommandDemux, Qt::LeftButton);

    const QString avi = sourceFolder + QStringLiteral("/my movie.avi");
    const QString timecodes = sourceFolder + QStringLiteral("/my movie.timecodes.txt");
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(avi) && QFileInfo::exists(timecodes) &&
                                 !HasPartialOutputs(sourceFolder),
                             60000);
    QVERIFY(running.modals.Unexpected().isEmpty());

    const QByteArray aviBytes = ReadAll(avi);
    QVERIFY(aviBytes.size() > 12);
    QCOMPARE(aviBytes.left(4), QByteArray("RIFF"));
    QCOMPARE(aviBytes.mid(8, 4), QByteArray("AVI "));

    // The sample has 300 frames: a header, one line per frame, the end line.
    const QList<QByteArray> lines = ReadAll(timecodes).trimmed().split('\n');
    QCOMPARE(lines.size(), 302);
    QCOMPARE(lines.first(), QByteArray("# timecode format v2"));
    QCOMPARE(lines.at(1), QByteArray("0"));
    // Real timing, not a constant rate: ascending, with the sample's slow
    // 100 ms stretch after frame 100 among 33 ms and 42 ms steps.
    for (int line = 2; line < lines.size(); ++line)
        QVERIFY2(lines.at(line).toDouble() > lines.at(line - 1).toDouble(), lines.at(line).constData());
    const double slowStep = lines.at(102).toDouble() - lines.at(101).toDouble();
    QVERIFY2(slowStep > 99 && slowStep < 101, QByteArray::number(slowStep).constData());

    // The window asks the tool for its reports; the tool's last act is its
    // line in the run record, which belongs in this program's private state
    // folder. Waiting for it also keeps the tool from outliving the test and
    // writing after that folder is gone.
    const QString record = qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/tcdemux/runs.log");
    QTRY_VERIFY_WITH_TIMEOUT(ReadAll(record).endsWith('\n'), 60000);
}

QTEST_MAIN(WindowWithToolTest)
#include "tst_window_with_tool.moc"
