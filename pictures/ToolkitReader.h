// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "PictureIo.h"

// The seam to the toolkit's readers for the small formats (BMP, GIF, ICO, PBM/PGM/PPM, XBM, XPM).
// They live in the toolkit's graphics library, which programs without a display (the
// command-line tool) do not link: such programs load them as a module the first time they meet
// one of those formats. The reader raises nothing across the seam; it reports through `failure`.
using ToolkitReader = bool (*)(ByteSource& source, PictureFormat format, const ReadRequest& request,
                               DecodedPicture& decoded, PictureFailure& failure);

// Programs that link the toolkit's graphics library install its reader directly.
void InstallToolkitReader(ToolkitReader reader);

// The module's one entry point returns its reader.
extern "C" {
using ToolkitReaderEntry = ToolkitReader (*)();
inline constexpr const char* kToolkitReaderEntry = "ccdlab_toolkit_reader";
}
