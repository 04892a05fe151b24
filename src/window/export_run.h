#pragma once
// "Export…": the open video converted with the window's recipe by pelorin-convert itself, the
// program beside the window (or on PATH), run as its own process. The window thus writes exactly
// what the tool writes for the same command, a cancelled run leaves nothing (the tool removes
// its unfinished outputs when stopped), and the window stays free while it runs.
#include "form1.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace pelorin::window {

class ExportRun : public QObject {
    Q_OBJECT
public:
    // Starts `program` with `arguments` (a pelorin-convert command line without the program),
    // with --progress added so that the run reports its frames.
    ExportRun(const QString& program, const QStringList& arguments, QObject* parent = nullptr);
    // A run still going is cancelled and waited for.
    ~ExportRun() override;

    // Asks the run to stop; it ends with nothing written.
    void Cancel();
    bool Running() const;
    bool Cancelled() const { return m_cancelled; }
    // Once finished(): whether the output was written, the tool's summary, and what went wrong.
    bool Succeeded() const { return m_succeeded; }
    QString Summary() const { return m_summary; }
    QString Error() const { return m_error; }
    // The frames handed to the output so far, of how many.
    int64_t FramesDone() const { return m_done; }
    int64_t FramesTotal() const { return m_total; }

signals:
    // `left`: the time left as the tool estimates it ("1:02").
    void progressed(qint64 done, qint64 total, double framesPerSecond, const QString& left);
    void finished();

private:
    void ReadError();
    void End(int exitCode, QProcess::ExitStatus status);

    QProcess m_process;
    QByteArray m_errorBytes; // standard error not yet read as progress or message
    QString m_messages;
    QString m_summary;
    QString m_error;
    int64_t m_done = 0;
    int64_t m_total = 0;
    bool m_cancelled = false;
    bool m_succeeded = false;
    bool m_ended = false;
};

// The default "Export…" dialog over `parent`: a file name (with a file dialog to browse for
// one), and the frames: the whole video, from the frame shown on (`fromShown`), or as typed.
ExportChoice AskWhereToExport(
    QWidget* parent, const QString& suggestedPath, const QString& fromShown);

// pelorin-convert beside the program in `programFolder` when it is there (as in the build
// folder and once installed), else the one on PATH.
QString ConvertProgram(const QString& programFolder);

} // namespace pelorin::window
