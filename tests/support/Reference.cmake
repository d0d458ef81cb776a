# SPDX-License-Identifier: GPL-3.0-or-later
# The operations as the plainest loops, which every fast kernel's bytes are checked against: for
# the tests (the core's on arm64 too) and the fuzzers, which the fuzz build makes without the tests.
add_library(ccdlab_reference STATIC ${CMAKE_CURRENT_LIST_DIR}/Reference.cpp)
target_include_directories(ccdlab_reference PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(ccdlab_reference PUBLIC ccdlab_imaging)
# ImageJ's float arithmetic to the last bit: no fused multiply-adds (arm64 contracts by default).
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/Reference.cpp PROPERTIES COMPILE_OPTIONS -ffp-contract=off)
