// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ToolkitReader.h"

// The reader of the small formats, through the toolkit's graphics library.
ToolkitReader SmallFormatReader();

// Makes the picture-file layer use it directly; programs that link the toolkit's graphics
// library call this once at start-up (the others load it as a module when they need it).
void InstallToolkitFormats();
