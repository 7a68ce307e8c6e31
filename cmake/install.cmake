# Installation: the library (static and shared) with its headers, a CMake package
# (find_package(vokoem), vokoem::vokoem and vokoem::shared) and a pkg-config file; the tool and
# the simulator with their manual pages.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(vokoem PROPERTIES EXPORT_NAME vokoem)
set_target_properties(vokoem_shared PROPERTIES EXPORT_NAME shared
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})

install(TARGETS vokoem vokoem_shared EXPORT vokoemTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/vokoem
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(FILES ${PROJECT_BINARY_DIR}/include/vokoem/vokoem_version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vokoem)

install(EXPORT vokoemTargets NAMESPACE vokoem::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vokoem)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vokoemConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vokoemConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vokoem)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vokoemConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vokoemConfig.cmake ${PROJECT_BINARY_DIR}/vokoemConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vokoem)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(VOKOEM_PRIVATE_LIBS "-lstdc++ -lpthread -lrt")
elseif(NOT WIN32)
  set(VOKOEM_PRIVATE_LIBS "-lstdc++ -lpthread")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/vokoem.pc.in ${PROJECT_BINARY_DIR}/vokoem.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vokoem.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS vantrel-upgrade RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET vok-simulator)
  install(TARGETS vok-simulator RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/man/vantrel-upgrade.1 ${PROJECT_SOURCE_DIR}/man/vok-simulator.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# Packages: a Debian package on Linux, a zip of the 32-bit executables and the DLL on Windows
# (and, made from the zip by packaging/windows/package, the MSI).
# The package carries the firmware image set's version, 1.0.34.8, from the image table.
file(STRINGS ${PROJECT_SOURCE_DIR}/firmware/images.manifest package_line REGEX "^package ")
string(REGEX REPLACE ".*\\| *([0-9.]+) *$" "\\1" VANTREL_PACKAGE_VERSION "${package_line}")
set(CPACK_PACKAGE_NAME vantrel-upgrade)
set(CPACK_PACKAGE_VERSION ${VANTREL_PACKAGE_VERSION})
set(CPACK_PACKAGE_VENDOR "VOK")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Firmware update tool of the Vantrel video board, its client library and board simulator")
set(CPACK_PACKAGE_CONTACT "VOK Service <service@vok.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
  # The administrators' text, with the codes of this version's MSI (packaging/windows/make-msi
  # derives them), beside bin\ in the zip and in the MSI's folder. The zip's programs and DLL
  # are signed in CPack's staging folder, when a signing key is named.
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/packaging/windows/make-msi --codes ${VANTREL_PACKAGE_VERSION}
    OUTPUT_VARIABLE msi_codes OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE " " ";" msi_codes "${msi_codes}")
  list(GET msi_codes 0 VANTREL_MSI_PRODUCT_VERSION)
  list(GET msi_codes 1 VANTREL_MSI_PRODUCT_CODE)
  list(GET msi_codes 2 VANTREL_MSI_UPGRADE_CODE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/packaging/windows/make-msi ${PROJECT_SOURCE_DIR}/packaging/windows/vantrel-upgrade.wxs)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README-Windows.txt.in
    ${PROJECT_BINARY_DIR}/README-Windows.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/README-Windows.txt DESTINATION .)
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/windows/sign-staged.cmake)
else()
  set(CPACK_GENERATOR DEB)
endif()
include(CPack)
