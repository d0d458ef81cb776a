// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Makes the toolkit's own texts (message box buttons, the file dialog) Traditional Chinese like
// the rest of the user interface.
void InstallTraditionalChinese();
