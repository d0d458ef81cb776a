// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Maps the face names the forms were designed with onto faces a Debian desktop has:
// "標楷體" onto AR PL UKai TW, "MS Sans Serif" onto Noto Sans CJK TC.
void InstallFontSubstitutes();
