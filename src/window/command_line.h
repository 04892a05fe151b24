#pragma once
// The words of the pelorin-convert command that the window's "Copy command line" builds.
#include <QString>

namespace pelorin::window {

// `word` as one word of a POSIX shell command: as it is when nothing in it is special to the
// shell, else in single quotes (a quote inside becomes '\'').
QString ShellQuoted(const QString& word);

// The name pelorin-convert knows method `index` by: its caption in lower case, blanks as dashes;
// "none" for an index the method table does not hold (no method set).
QString CommandLineMethodName(int index);

} // namespace pelorin::window
