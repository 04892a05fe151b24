#pragma once
// The pelorin-convert commands the window writes out ("Copy command line", "Export…"), from its
// recipe through the option table both programs read.
#include "session/recipe.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace pelorin::window {

// `word` as one word of a POSIX shell command: as it is when nothing in it is special to the
// shell, else in single quotes (a quote inside becomes '\'').
QString ShellQuoted(const QString& word);

// The name pelorin-convert knows method `index` by: its caption in lower case, blanks as dashes;
// "none" for an index the method table does not hold (no method set).
QString CommandLineMethodName(int index);

// The recipe as pelorin-convert's words, from the option table (session/option_table.h); and
// its picture choices alone (palette, adjustments, shape), which make a variant of a frame.
QStringList RecipeWords(const session::Recipe& recipe);
QStringList RecipeWordsOfChoices(const session::Recipe& recipe);

// What a recipe's picture choices (its palette, adjustments and shape: "--palette best",
// "--brightness 30", "--aspect fit", ...) and steady dithering change from the defaults, as the
// end of an output name: "-best-brightness30-fit-steady"; empty with none of them. A word value
// stands for itself, a number follows its option's name. So variants of one frame get names of
// their own.
QString VariantSuffix(const QStringList& options, bool steady);

// `program RECIPE --frames F input output`, each word shell-quoted, joined by blanks: the
// command that converts frame `frame` of `input` by `recipe` to `output`, which the caller has
// made safe for the tool to read as a name. With `steadyFrom`, the picture is steady dithering's
// after stepping from that frame to `frame`: `--steady --frames S:F --last` (or `--frames F`
// when S is F).
QString ConvertCommand(const QString& program, const session::Recipe& recipe, int64_t frame,
    const QString& input, const QString& output, std::optional<int64_t> steadyFrom = std::nullopt);

// The pelorin-convert arguments (without the program) that convert frames `frames` of `input`
// (as --frames takes them; empty: all) by `recipe` to `output`, a name the user chose as the
// tool reads it (a numbered name's "%05d" included).
QStringList ExportArguments(
    const session::Recipe& recipe, const QString& frames, const QString& input, QString output);

} // namespace pelorin::window
