# Installation into /usr and the Debian package: `cpack -G DEB` in the build directory.
include(GNUInstallDirs)

set(_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(SEGWORK_PACKAGE_MAINTAINER "segwork developers <segwork@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

install(TARGETS segwork-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(SEGWORK_BUILD_DESKTOP)
  install(TARGETS segwork RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${_pkg}/segwork.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${_pkg}/segwork.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # Rendered from segwork.svg: rsvg-convert -w 128 -h 128 segwork.svg -o segwork.png
  install(FILES ${_pkg}/segwork.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
endif()
# Debian keeps the licence text in /usr/share/common-licenses; copyright points there.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${_pkg}/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The docs where the README's links find them.
install(FILES ${PROJECT_SOURCE_DIR}/docs/guide.md ${PROJECT_SOURCE_DIR}/docs/scenario.md
              ${PROJECT_SOURCE_DIR}/docs/cli.md ${PROJECT_SOURCE_DIR}/docs/architecture.md
              ${PROJECT_SOURCE_DIR}/docs/performance.md ${PROJECT_SOURCE_DIR}/docs/testing.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/images DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
# The cluster scripts, the design maker and the notebook the guide shows and links.
install(PROGRAMS ${PROJECT_SOURCE_DIR}/examples/growth-array.sh
                 ${PROJECT_SOURCE_DIR}/examples/streets-parallel.sh
                 ${PROJECT_SOURCE_DIR}/examples/design-array.sh
                 ${PROJECT_SOURCE_DIR}/examples/experiment-parallel.sh
                 ${PROJECT_SOURCE_DIR}/examples/lhs_design.py
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${PROJECT_SOURCE_DIR}/examples/segwork.ipynb
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
# The Python module where Debian's python3 finds packages.
if(SEGWORK_PYTHON)
  install(TARGETS _segwork LIBRARY DESTINATION lib/python3/dist-packages/segwork)
  install(FILES ${PROJECT_SOURCE_DIR}/python/segwork/__init__.py
          DESTINATION lib/python3/dist-packages/segwork)
endif()

# Files made for the package; Debian keeps changelogs and man pages gzipped.
set(_out ${CMAKE_CURRENT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_out})
set(_gzipped)
function(segwork_gzip file)
  add_custom_command(OUTPUT ${file}.gz COMMAND gzip -9n -f -k ${file} DEPENDS ${file} VERBATIM)
  set(_gzipped ${_gzipped} ${file}.gz PARENT_SCOPE)
endfunction()

# Debian wants a changelog even in a package built from the upstream tree.
string(TIMESTAMP SEGWORK_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${_pkg}/changelog.in ${_out}/changelog @ONLY)
segwork_gzip(${_out}/changelog)
install(FILES ${_out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# segwork-cli's man page comes from its own --help.
find_program(SEGWORK_HELP2MAN help2man)
if(SEGWORK_HELP2MAN)
  add_custom_command(
    OUTPUT ${_out}/segwork-cli.1.gz
    COMMAND bash ${_pkg}/cli-manpage.sh $<TARGET_FILE:segwork-cli> ${_out}/segwork-cli.1.gz
    DEPENDS segwork-cli ${_pkg}/cli-manpage.sh
    COMMENT "Writing the segwork-cli man page"
    VERBATIM)
  list(APPEND _gzipped ${_out}/segwork-cli.1.gz)
  install(FILES ${_out}/segwork-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "help2man not found: the segwork-cli man page is not built or installed")
endif()
if(SEGWORK_BUILD_DESKTOP)
  string(TIMESTAMP SEGWORK_MAN_DATE "%B %Y")
  configure_file(${_pkg}/segwork.1.in ${_out}/segwork.1 @ONLY)
  segwork_gzip(${_out}/segwork.1)
  install(FILES ${_out}/segwork.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
add_custom_target(segwork_package_files ALL DEPENDS ${_gzipped})

set(CPACK_PACKAGE_NAME segwork)
set(CPACK_PACKAGE_VENDOR "segwork developers")
set(CPACK_PACKAGE_CONTACT "${SEGWORK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "workbench for an agent-based segregation model with streets")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${_pkg}/description.txt)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its platform plugins at run time, out of dpkg-shlibdeps' sight: xcb and offscreen come
# with libqt6gui6 (a shared-library dependency), the native Wayland one only with qt6-wayland.
# Movies are made by the ffmpeg program, started at run time; without it everything else works.
# The Python module needs python3 with numpy and pandas; tqdm shows an experiment's progress.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ffmpeg")
if(SEGWORK_BUILD_DESKTOP)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, ffmpeg")
endif()
if(SEGWORK_PYTHON)
  string(APPEND CPACK_DEBIAN_PACKAGE_RECOMMENDS ", python3, python3-numpy, python3-pandas")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-tqdm")
endif()
include(CPack)
