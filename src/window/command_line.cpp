#include "command_line.h"

#include "session/option_table.h"
#include "session/option_values.h"

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

QString CommandLineMethodName(int index)
{
    return QString::fromStdString(session::MethodWord(index));
}

QStringList RecipeWords(const session::Recipe& recipe)
{
    QStringList words;
    for (const std::string& word : session::RecipeArguments(recipe))
        words << QString::fromStdString(word);
    return words;
}

QStringList RecipeWordsOfChoices(const session::Recipe& recipe)
{
    QStringList words;
    for (const std::string& word : session::PictureChoiceArguments(recipe))
        words << QString::fromStdString(word);
    return words;
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

QString ConvertCommand(const QString& program, const session::Recipe& recipe, int64_t frame,
    const QString& input, const QString& output, std::optional<int64_t> steadyFrom)
{
    session::Recipe written = recipe;
    written.steady = steadyFrom.has_value();
    QStringList words = QStringList { program } + RecipeWords(written);
    if (steadyFrom && *steadyFrom != frame)
        words << "--frames" << QString::number(*steadyFrom) + ":" + QString::number(frame)
              << "--last";
    else
        words << "--frames" << QString::number(frame);
    words << input << output;
    QStringList quoted;
    for (const QString& word : words)
        quoted << ShellQuoted(word);
    return quoted.join(' ');
}

QStringList ExportArguments(
    const session::Recipe& recipe, const QString& frames, const QString& input, QString output)
{
    QStringList words = RecipeWords(recipe);
    if (!frames.isEmpty())
        words << "--frames" << frames;
    // A name starting with a dash would be read as an option.
    if (output.startsWith('-'))
        output.prepend("./");
    words << input << output;
    return words;
}

} // namespace pelorin::window
