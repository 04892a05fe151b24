#pragma once
// The tool's output files: the picture encoder and the files that appear complete or not at all,
// which it shares with the window (picture_file), and the check that is the tool's own.
#include "picture_file/atomic_output.h"
#include "picture_file/file_error.h"
#include "picture_file/picture_encoder.h"

#include <string>

namespace pelorin::cli {

using picture_file::AtomicOutput;
using picture_file::AtomicOutputSet;
using picture_file::CheckOutputWritable;
using picture_file::EncodePicture;
using picture_file::FileError;
using picture_file::PictureFormat;
using picture_file::PictureFormatFor;

// Throws CliError (2) when writing `output` would replace `input` (the same file under another
// name or through a link included).
void CheckNotInput(const std::string& input, const std::string& output);

} // namespace pelorin::cli
