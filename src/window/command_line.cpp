#include "command_line.h"

#include "dither/method_table.h"

#include <QRegularExpression>
#include <QStringList>

namespace pelorin::window {

// `word` as one word of a POSIX shell command: as it is when nothing in it is special to
// the shell, else in single quotes (a quote inside becomes '\'').
QString ShellQuoted(const QString& word)
{
    static const QRegularExpression plain("^[A-Za-z0-9_@%+=:,./-]+$");
    if (plain.match(word).hasMatch())
        return word;
    QString quoted = word;
    quoted.replace("'", "'\\''");
    return "'" + quoted + "'";
}

// The name pelorin-convert knows a method by: its caption in lower case, blanks as dashes.
QString CommandLineMethodName(int index)
{
    const Method* method = FindMethod(index);
    if (!method)
        return "none";
    return QString::fromUtf8(method->caption.data(), qsizetype(method->caption.size()))
        .toLower()
        .replace(' ', '-');
}

QString VariantSuffix(const QStringList& options, bool steady)
{
    static const QRegularExpression number("^[-+]?[0-9.]+$");
    QString suffix;
    for (qsizetype i = 0; i < options.size(); ++i) {
        QString name = options[i];
        name.remove(QRegularExpression("^-+"));
        const bool valued = options[i].startsWith("--") && i + 1 < options.size()
            && !options[i + 1].startsWith("--");
        const QString value = valued ? options[++i] : QString();
        QString part = !valued ? name : number.match(value).hasMatch() ? name + value : value;
        // Only what any file system takes in a name.
        part.remove(QRegularExpression("[^A-Za-z0-9.+-]"));
        suffix += "-" + part;
    }
    if (steady)
        suffix += "-steady";
    return suffix;
}

QString ConvertCommand(const QString& program, const TvcMode& mode, int methodIndex, int64_t frame,
    const QString& input, const QString& output, std::optional<int64_t> steadyFrom,
    const QStringList& options)
{
    QStringList words = { program, "--mode", QString::number(mode.number), "--method",
        CommandLineMethodName(methodIndex) };
    if (steadyFrom) {
        const QString range = *steadyFrom == frame
            ? QString::number(frame)
            : QString::number(*steadyFrom) + ":" + QString::number(frame);
        words << "--steady"
              << "--frames" << range << "--last";
    } else {
        words << "--frames" << QString::number(frame);
    }
    words << options << input << output;
    QStringList quoted;
    for (const QString& word : words)
        quoted << ShellQuoted(word);
    return quoted.join(' ');
}

QStringList ExportArguments(const TvcMode& mode, int methodIndex, bool steady,
    const QString& frames, const QStringList& options, const QString& input, QString output)
{
    QStringList words = { "--mode", QString::number(mode.number), "--method",
        CommandLineMethodName(methodIndex) };
    if (steady)
        words << "--steady";
    if (!frames.isEmpty())
        words << "--frames" << frames;
    // A name starting with a dash would be read as an option.
    if (output.startsWith('-'))
        output.prepend("./");
    words << options << input << output;
    return words;
}

} // namespace pelorin::window
