#pragma once
// The pelorin-convert command that the window's "Copy command line" builds, from the mode and
// method tables.
#include "pipeline/tvc_mode.h"

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

// What a command's `options` (the menu's picture choices: "--palette best", "--brightness 30",
// "--aspect fit", ...) and steady dithering change from the defaults, as the end of an output
// name: "-best-brightness30-fit-steady"; empty with none of them. A word value stands for itself,
// a number follows its option's name. So variants of one frame get names of their own.
QString VariantSuffix(const QStringList& options, bool steady);

// `program --mode N --method M --frames F input output`, each word shell-quoted, joined by
// blanks: the command that converts frame `frame` of `input` in `mode` by method `methodIndex`
// (kNoMethod: "none") to `output`, which the caller has made safe for the tool to read as a name.
// With `steadyFrom`, the picture is steady dithering's after stepping from that frame to `frame`:
// `--steady --frames S:F --last` (or `--frames F` when S is F) in place of `--frames F`.
// `options` (the menu's picture choices, "--palette best" and the like) go before the files.
QString ConvertCommand(const QString& program, const TvcMode& mode, int methodIndex, int64_t frame,
    const QString& input, const QString& output, std::optional<int64_t> steadyFrom = std::nullopt,
    const QStringList& options = {});

// The pelorin-convert arguments (without the program) that convert frames `frames` of `input`
// (as --frames takes them; empty: all) in `mode` by method `methodIndex`, with steady dithering
// when `steady`, and `options` (the menu's picture choices), to `output`, a name the user chose
// as the tool reads it (a numbered name's "%05d" included).
QStringList ExportArguments(const TvcMode& mode, int methodIndex, bool steady,
    const QString& frames, const QStringList& options, const QString& input, QString output);

} // namespace pelorin::window
