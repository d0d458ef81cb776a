# SPDX-License-Identifier: GPL-3.0-or-later
# ccdlab_add_manual_pages(PROGRAM)
# The program writes its own manual page, in English and in Traditional Chinese, from its --help
# text (--manual-page=LANGUAGE); the pages are compressed as Debian installs them. In a sanitizer
# build the toolkit's leaks at exit would fail the build; the tests look for leaks.
function(ccdlab_add_manual_pages program)
  set(pages)
  foreach(language IN ITEMS en zh_TW)
    if(language STREQUAL "en")
      set(dir ${CMAKE_BINARY_DIR}/man/man1)
    else()
      set(dir ${CMAKE_BINARY_DIR}/man/${language}/man1)
    endif()
    set(page ${dir}/${program}.1)
    add_custom_command(OUTPUT ${page} ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 ASAN_OPTIONS=detect_leaks=0
        sh -c "exec \"$0\" --manual-page=$1 > \"$2\"" $<TARGET_FILE:${program}> ${language} ${page}
      COMMAND gzip -9nkf ${page}
      DEPENDS ${program} VERBATIM)
    list(APPEND pages ${page}.gz)
    if(language STREQUAL "en")
      install(FILES ${page}.gz DESTINATION share/man/man1)
    else()
      install(FILES ${page}.gz DESTINATION share/man/${language}/man1)
    endif()
  endforeach()
  add_custom_target(${program}-manual-pages ALL DEPENDS ${pages})
endfunction()
