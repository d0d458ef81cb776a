# SPDX-License-Identifier: GPL-3.0-or-later
# Finds OpenCV's core and imgproc modules.
#
# Debian ships OpenCV's own CMake package only in libopencv-dev, which drags in every module (some
# 180 packages). The benchmark needs two modules, so this falls back to the headers and libraries
# of libopencv-core-dev and libopencv-imgproc-dev when the full package is not installed.
# Defines the imported targets opencv_core and opencv_imgproc, as OpenCV's own package does.

find_package(OpenCV CONFIG QUIET COMPONENTS ${OpenCV_FIND_COMPONENTS})
if(OpenCV_FOUND)
  return()
endif()

find_path(OpenCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4)
find_path(OpenCV_CONFIG_INCLUDE_DIR opencv2/cvconfig.h
  PATH_SUFFIXES opencv4 ${CMAKE_LIBRARY_ARCHITECTURE}/opencv4)
find_library(OpenCV_core_LIBRARY opencv_core)
find_library(OpenCV_imgproc_LIBRARY opencv_imgproc)

if(OpenCV_INCLUDE_DIR AND EXISTS ${OpenCV_INCLUDE_DIR}/opencv2/core/version.hpp)
  file(STRINGS ${OpenCV_INCLUDE_DIR}/opencv2/core/version.hpp _ocv_version_lines
    REGEX "#define CV_VERSION_(MAJOR|MINOR|REVISION) ")
  foreach(_part MAJOR MINOR REVISION)
    string(REGEX REPLACE ".*#define CV_VERSION_${_part} +([0-9]+).*" "\\1" _ocv_${_part}
      "${_ocv_version_lines}")
  endforeach()
  set(OpenCV_VERSION ${_ocv_MAJOR}.${_ocv_MINOR}.${_ocv_REVISION})
endif()

set(_ocv_required OpenCV_INCLUDE_DIR)
foreach(_module IN LISTS OpenCV_FIND_COMPONENTS)
  if(_module STREQUAL "core" OR _module STREQUAL "imgproc")
    list(APPEND _ocv_required OpenCV_${_module}_LIBRARY)
    set(OpenCV_${_module}_FOUND TRUE)
  else()
    set(OpenCV_${_module}_FOUND FALSE)
  endif()
endforeach()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(OpenCV REQUIRED_VARS ${_ocv_required} VERSION_VAR OpenCV_VERSION
  HANDLE_COMPONENTS)

if(OpenCV_FOUND)
  set(OpenCV_INCLUDE_DIRS ${OpenCV_INCLUDE_DIR})
  if(OpenCV_CONFIG_INCLUDE_DIR)
    list(APPEND OpenCV_INCLUDE_DIRS ${OpenCV_CONFIG_INCLUDE_DIR})
  endif()
  foreach(_module core imgproc)
    if(OpenCV_${_module}_LIBRARY AND NOT TARGET opencv_${_module})
      add_library(opencv_${_module} UNKNOWN IMPORTED)
      set_target_properties(opencv_${_module} PROPERTIES
        IMPORTED_LOCATION ${OpenCV_${_module}_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES "${OpenCV_INCLUDE_DIRS}")
    endif()
  endforeach()
  if(TARGET opencv_imgproc)
    set_property(TARGET opencv_imgproc APPEND PROPERTY INTERFACE_LINK_LIBRARIES opencv_core)
  endif()
  set(OpenCV_LIBS opencv_core opencv_imgproc)
endif()
