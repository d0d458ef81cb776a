// SPDX-License-Identifier: GPL-3.0-or-later
// The small formats' reader as a module, for programs that do not link the toolkit's graphics
// library and load it only when they meet one of those formats.

#include "ToolkitFormats.h"

extern "C" __attribute__((visibility("default"))) ToolkitReader ccdlab_toolkit_reader() {
  return SmallFormatReader();
}
