// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// CCDLAB_ADDRESS_SANITIZER is defined in a build under AddressSanitizer (clang or gcc).
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CCDLAB_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define CCDLAB_ADDRESS_SANITIZER 1
#endif
