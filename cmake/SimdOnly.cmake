# SPDX-License-Identifier: GPL-3.0-or-later
# ccdlab_simd_only_flags(TARGET OUT)
# The compiler flags that build Highway's kernels for one x86-64 target alone (SCALAR, SSSE3,
# SSE4, AVX2 or AVX3, as Highway names them), or for VALGRIND: the widest target the processor
# that valgrind presents to its guest runs, so that the programs valgrind runs use the kernels
# they would dispatch to under it.
function(ccdlab_simd_only_flags target out)
  if(target STREQUAL "VALGRIND")
    find_program(VALGRIND valgrind REQUIRED)
    try_compile(built ${CMAKE_BINARY_DIR}/processor-target
      SOURCES ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/ProcessorTarget.cpp
      COPY_FILE ${CMAKE_BINARY_DIR}/processor-target/processor-target)
    if(NOT built)
      message(FATAL_ERROR "The processor probe for CCDLAB_SIMD_ONLY=VALGRIND does not build")
    endif()
    execute_process(COMMAND ${VALGRIND} -q ${CMAKE_BINARY_DIR}/processor-target/processor-target
      OUTPUT_VARIABLE target OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    message(STATUS "Kernels for the processor valgrind presents: ${target}")
  endif()
  set(ssse3 -mssse3)
  set(sse4 ${ssse3} -msse4.1 -msse4.2 -mpclmul -maes)
  set(avx2 ${sse4} -mavx -mavx2 -mbmi -mbmi2 -mfma -mf16c)
  set(avx3 ${avx2} -mavx512f -mavx512vl -mavx512dq -mavx512bw)
  if(target STREQUAL "SCALAR")
    set(flags "")
  elseif(target MATCHES "^(SSSE3|SSE4|AVX2|AVX3)$")
    string(TOLOWER ${target} name)
    set(flags ${${name}})
  else()
    message(FATAL_ERROR "CCDLAB_SIMD_ONLY: no such x86-64 target: ${target}")
  endif()
  set(${out} ${flags} PARENT_SCOPE)
endfunction()
