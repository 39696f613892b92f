// Makes a small variable-frame-rate MKV at `source` (its folder must
// exist) with the project's sample script, as a user's file would be.
#pragma once

#include <QProcess>
#include <QString>

namespace tcdemux::test {

// Empty on success, else what went wrong.
inline QString MakeSampleSource(const QString& source) {
    QProcess make;
    make.start(QStringLiteral(TCDEMUX_SAMPLE_SCRIPT), {source});
    if (!make.waitForFinished(120000))
        return QStringLiteral("the sample script did not finish: ") + make.errorString();
    if (make.exitStatus() != QProcess::NormalExit || make.exitCode() != 0)
        return QString::fromLocal8Bit(make.readAllStandardError());
    return {};
}

} // namespace tcdemux::test
