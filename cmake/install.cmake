# cmake --install: the programs in bin/, the lists they ship in share/brisko/,
# and on Linux the desktop entry, the icon, the manual pages and bash
# completion. `cpack -G DEB` (in the build folder) makes a .deb of the same.
include(GNUInstallDirs)
target_compile_definitions(brisko_cleaner PRIVATE
    BRISKO_INSTALL_DATA_DIR="${CMAKE_INSTALL_FULL_DATADIR}/brisko"
    BRISKO_INSTALL_RELATIVE_DATA_DIR="${CMAKE_INSTALL_DATADIR}/brisko")
install(TARGETS brisko RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET brisko-cleaner)
    install(TARGETS brisko-cleaner RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES data/apls.dat DESTINATION ${CMAKE_INSTALL_DATADIR}/brisko)

if(WIN32)
    return()
endif()

set(_data ${PROJECT_SOURCE_DIR}/data)
if(TARGET brisko-cleaner)
    install(FILES ${_data}/brisko-cleaner.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    # The PNGs are made from the SVG by scripts/make-icons.sh and kept in the tree.
    install(DIRECTORY ${_data}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
    install(FILES ${_data}/icons/brisko-cleaner.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    install(FILES ${_data}/man/brisko-cleaner.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${_data}/completion/brisko
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# brisko.1 from the program's own --help, so the page never lags behind it.
find_program(HELP2MAN help2man REQUIRED)
add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/brisko.1
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
            --include=${_data}/man/brisko.h2m --output=${CMAKE_BINARY_DIR}/brisko.1
            $<TARGET_FILE:brisko>
    DEPENDS brisko ${_data}/man/brisko.h2m
    COMMENT "Writing the brisko manual page from brisko --help"
    VERBATIM)
add_custom_target(brisko-man ALL DEPENDS ${CMAKE_BINARY_DIR}/brisko.1)
install(FILES ${CMAKE_BINARY_DIR}/brisko.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME brisko-cleaner)
set(CPACK_PACKAGE_VENDOR "Brisko Cleaner")
set(CPACK_PACKAGE_CONTACT "Brisko Cleaner developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "privacy cleaner, registry cleaner and registry defragmenter for Windows installations")
set(CPACK_PACKAGE_INSTALL_DIRECTORY brisko)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
