# SPDX-License-Identifier: GPL-3.0-or-later
# ccdlab_precompiled_headers(KIND TARGET...)
# The toolkit's and the standard library's headers parsed once, into a precompiled header that the
# TARGETs' files share, instead of once in each file: most of the time building from scratch goes
# there. KIND is core (Qt Core) or widgets (Qt Widgets, with Gui and Core). Only where
# CCDLAB_PRECOMPILED_HEADERS is on (the run preset): ccache does not cache files built with them,
# and the builds that parse every file's own headers catch a missing #include.
option(CCDLAB_PRECOMPILED_HEADERS "Share precompiled Qt and standard headers between files" OFF)

set(ccdlab_pch_std <algorithm> <cstdint> <cstdio> <cstring> <functional> <memory> <mutex>
  <optional> <string> <utility> <vector>)
set(ccdlab_pch_core_headers ${ccdlab_pch_std} <QByteArray> <QCoreApplication> <QFileInfo>
  <QLocale> <QObject> <QRegularExpression> <QString> <QStringList> <QTranslator>)
set(ccdlab_pch_widgets_headers ${ccdlab_pch_core_headers} <QApplication> <QFileDialog>
  <QGridLayout> <QImage> <QLabel> <QMenu> <QMessageBox> <QMouseEvent> <QPainter> <QPaintEvent>
  <QPointer> <QTimer> <QVBoxLayout> <QWidget>)

function(ccdlab_precompiled_headers kind)
  if(NOT CCDLAB_PRECOMPILED_HEADERS)
    return()
  endif()
  # One header for each kind, built by a library of its own that nothing links; the targets reuse
  # it, which needs the same compiler options and the same toolkit modules (the compiler ignores a
  # header built with QT_WIDGETS_LIB in a file without it): all are static libraries of
  # position-independent code.
  set(host ccdlab_pch_${kind})
  if(NOT TARGET ${host})
    set(source ${PROJECT_BINARY_DIR}/${host}.cpp)
    file(CONFIGURE OUTPUT ${source} CONTENT "")
    add_library(${host} STATIC EXCLUDE_FROM_ALL ${source})
    set_target_properties(${host} PROPERTIES AUTOMOC OFF AUTOUIC OFF)
    if(kind STREQUAL "widgets")
      target_link_libraries(${host} PRIVATE Qt6::Widgets)
    else()
      target_link_libraries(${host} PRIVATE Qt6::Core)
    endif()
    target_precompile_headers(${host} PRIVATE ${ccdlab_pch_${kind}_headers})
  endif()
  foreach(target IN LISTS ARGN)
    target_precompile_headers(${target} REUSE_FROM ${host})
  endforeach()
endfunction()

# A precompiled header of TARGET's own, for a target whose compiler options differ from the
# others' (those of a library it links privately, say).
function(ccdlab_own_precompiled_headers kind target)
  if(CCDLAB_PRECOMPILED_HEADERS)
    target_precompile_headers(${target} PRIVATE ${ccdlab_pch_${kind}_headers})
  endif()
endfunction()
