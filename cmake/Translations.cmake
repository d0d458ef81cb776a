# SPDX-License-Identifier: GPL-3.0-or-later
# ccdlab_add_translation(TARGET TS_FILE RESOURCE)
# Compiles TS_FILE with lrelease and embeds the catalogue in TARGET under :/i18n. lrelease alone
# comes with qt6-l10n-tools; Qt's LinguistTools CMake package would bring in designer, assistant,
# qdoc and what they link, which building does not need.
find_program(CCDLAB_LRELEASE NAMES lrelease lrelease-qt6
  HINTS ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS} REQUIRED)
function(ccdlab_add_translation target ts resource)
  get_filename_component(name ${ts} NAME_WE)
  set(qm ${CMAKE_CURRENT_BINARY_DIR}/${name}.qm)
  add_custom_command(OUTPUT ${qm}
    COMMAND ${CCDLAB_LRELEASE} -silent ${CMAKE_CURRENT_SOURCE_DIR}/${ts} -qm ${qm}
    DEPENDS ${ts} VERBATIM)
  qt_add_resources(${target} ${resource} PREFIX "/i18n" BASE ${CMAKE_CURRENT_BINARY_DIR}
    FILES ${qm})
endfunction()
