# What a Windows user downloads: pt-<version>-win32.zip (or -win64.zip) with
# pt.exe, ptverify.exe, ptrun.exe, README.txt, LICENSE.txt and the manuals
# as text side by side in one folder, the texts with CRLF line ends so
# Notepad shows them as written. Made by CPack (cpack --preset windows or
# windows64) from this install.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(PT_WINDOWS_KIND win64)
  set(PT_WINDOWS_RUNS_ON "They run on 64-bit Windows 7 and later.")
  set(PT_WINDOWS_RUNS_ON_TOO "")
else()
  set(PT_WINDOWS_KIND win32)
  # (Two lines, since a value's own line break would keep its LF.)
  set(PT_WINDOWS_RUNS_ON "pt.exe and ptverify.exe run on 32-bit and")
  set(PT_WINDOWS_RUNS_ON_TOO "64-bit Windows, XP and later; ptrun.exe needs Windows 7 or later.")
endif()
install(TARGETS pt ptverify RUNTIME DESTINATION .)
if(TARGET ptrun)
  install(TARGETS ptrun RUNTIME DESTINATION .)
endif()
set(PT_PACKAGE_TEXTS ${PROJECT_BINARY_DIR}/package)
configure_file(${PROJECT_SOURCE_DIR}/resources/README-windows.txt.in ${PT_PACKAGE_TEXTS}/README.txt
  @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PT_PACKAGE_TEXTS}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${PT_PACKAGE_TEXTS}/README.txt ${PT_PACKAGE_TEXTS}/LICENSE.txt DESTINATION .)

# The manual pages as plain text (groff, from Debian's groff-base), without
# the terminal's bold and underlining.
find_program(PT_GROFF groff REQUIRED)
foreach(manual pt ptverify ptrun)
  set(page ${PROJECT_SOURCE_DIR}/docs/${manual}.1)
  set(text ${PT_PACKAGE_TEXTS}/${manual}.txt)
  add_custom_command(OUTPUT ${text}
    COMMAND ${CMAKE_COMMAND} -DGROFF=${PT_GROFF} -DPAGE=${page} -DTEXT=${text}
            -P ${PROJECT_SOURCE_DIR}/cmake/manual-text.cmake
    DEPENDS ${page} ${PROJECT_SOURCE_DIR}/cmake/manual-text.cmake
    COMMENT "The manual ${manual}(1) as text")
  list(APPEND PT_MANUAL_TEXTS ${text})
endforeach()
add_custom_target(pt_manual_texts ALL DEPENDS ${PT_MANUAL_TEXTS})
install(FILES ${PT_MANUAL_TEXTS} DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME pt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME pt-${PROJECT_VERSION}-${PT_WINDOWS_KIND})
# The files at the top of the zip: Windows makes a folder named after the
# zip when it extracts it.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
include(CPack)
