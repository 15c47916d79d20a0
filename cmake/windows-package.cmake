# What a Windows user downloads: pt-<version>-win32.zip with pt.exe,
# ptverify.exe, README.txt and LICENSE.txt side by side in one folder, the
# texts with CRLF line ends so Notepad shows them as written. Made by CPack
# (cpack --preset windows) from this install.
install(TARGETS pt ptverify RUNTIME DESTINATION .)
set(PT_PACKAGE_TEXTS ${PROJECT_BINARY_DIR}/package)
configure_file(${PROJECT_SOURCE_DIR}/resources/README-windows.txt.in ${PT_PACKAGE_TEXTS}/README.txt
  @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PT_PACKAGE_TEXTS}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${PT_PACKAGE_TEXTS}/README.txt ${PT_PACKAGE_TEXTS}/LICENSE.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME pt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME pt-${PROJECT_VERSION}-win32)
# The files at the top of the zip: Windows makes a folder named after the
# zip when it extracts it.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
include(CPack)
