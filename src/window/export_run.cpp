#include "export_run.h"

#include <QRegularExpression>

namespace pelorin::window {

ExportRun::ExportRun(const QString& program, const QStringList& arguments, QObject* parent)
    : QObject(parent)
{
    connect(&m_process, &QProcess::readyReadStandardError, this, [this] { ReadError(); });
    connect(&m_process, &QProcess::finished, this,
        [this](int exitCode, QProcess::ExitStatus status) { End(exitCode, status); });
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            End(-1, QProcess::CrashExit);
    });
    m_process.setProgram(program);
    m_process.setArguments(QStringList { "--progress" } + arguments);
    m_process.start();
}

ExportRun::~ExportRun()
{
    if (Running()) {
        Cancel();
        if (!m_process.waitForFinished(10'000))
            m_process.kill();
        m_process.waitForFinished(2'000);
    }
}

void ExportRun::Cancel()
{
    if (!Running())
        return;
    m_cancelled = true;
    // The tool's own stop: it gives way within a frame and removes what it began to write.
    m_process.terminate();
}

bool ExportRun::Running() const { return !m_ended && m_process.state() != QProcess::NotRunning; }

void ExportRun::ReadError()
{
    m_errorBytes += m_process.readAllStandardError();
    // The progress line is redrawn after a carriage return; a message ends with a new line.
    static const QRegularExpression progress(
        R"(^frame (\d+) of (\d+), ([0-9.]+) frames/s, (\S+) left)");
    for (;;) {
        qsizetype end = -1;
        for (qsizetype i = 0; i < m_errorBytes.size() && end < 0; ++i)
            if (m_errorBytes[i] == '\r' || m_errorBytes[i] == '\n')
                end = i;
        if (end < 0)
            return;
        QString piece = QString::fromUtf8(m_errorBytes.left(end));
        m_errorBytes.remove(0, end + 1);
        piece.remove(QStringLiteral("\033[K"));
        if (piece.isEmpty())
            continue;
        const QRegularExpressionMatch m = progress.match(piece);
        if (m.hasMatch()) {
            m_done = m.captured(1).toLongLong();
            m_total = m.captured(2).toLongLong();
            emit progressed(m_done, m_total, m.captured(3).toDouble(), m.captured(4));
        } else {
            m_messages += piece + "\n";
        }
    }
}

void ExportRun::End(int exitCode, QProcess::ExitStatus status)
{
    if (m_ended)
        return;
    m_ended = true;
    ReadError();
    m_messages += QString::fromUtf8(m_errorBytes).remove(QStringLiteral("\033[K")).remove('\r');
    m_summary = QString::fromUtf8(m_process.readAllStandardOutput());
    m_succeeded = status == QProcess::NormalExit && exitCode == 0 && !m_cancelled;
    if (m_cancelled)
        m_error = "The export was cancelled; nothing was written.";
    else if (m_process.error() == QProcess::FailedToStart && status == QProcess::CrashExit
        && exitCode == -1)
        m_error = QString("pelorin-convert could not be started (%1): %2")
                      .arg(m_process.program(), m_process.errorString());
    else if (!m_succeeded) {
        QString said = m_messages.trimmed();
        said.remove(QRegularExpression("^pelorin-convert: "));
        m_error = said.isEmpty() ? QString("pelorin-convert failed (exit status %1).").arg(exitCode)
                                 : said;
    }
    emit finished();
}

} // namespace pelorin::window
