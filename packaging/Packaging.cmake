# `make package`: a Debian package of everything `cmake --install` puts in
# place, under /usr, plus the manual page and bash completion (made in app/)
# and the README.
# Its dependencies are worked out by dpkg-shlibdeps from what the programs
# and libraries link.
find_program(VX_GZIP gzip)
if(VX_GZIP)
  # Debian compresses manual pages, without a time stamp so builds repeat.
  set(VX_MAN_GZ ${CMAKE_BINARY_DIR}/packaging/vexolumen.1.gz)
  add_custom_command(OUTPUT ${VX_MAN_GZ}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND ${VX_GZIP} -9nc ${VX_MAN_PAGE} > ${VX_MAN_GZ}
    DEPENDS ${VX_MAN_PAGE} VERBATIM)
  add_custom_target(vexolumen_manpage ALL DEPENDS ${VX_MAN_GZ})
  add_dependencies(vexolumen_manpage vexolumen_docs)
  install(FILES ${VX_MAN_GZ} DESTINATION share/man/man1)
else()
  install(FILES ${VX_MAN_PAGE} DESTINATION share/man/man1)
endif()
install(FILES ${VX_COMPLETION} DESTINATION share/bash-completion/completions
  RENAME vexolumen)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION share/doc/vexolumen)
# The README shows these by relative links.
file(GLOB VX_DOC_PICTURES ${CMAKE_SOURCE_DIR}/docs/*.png)
install(FILES ${VX_DOC_PICTURES} DESTINATION share/doc/vexolumen/docs)

# cpack must not rebuild the tree (and recopy the bundle under running tests);
# `make package` and `make install` build first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexolumen)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Tralvex)
set(CPACK_PACKAGE_CONTACT "Vexolumen developers <vexolumen@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "colour rotation video filter: command-line host, dialog, frei0r filter")
set(CPACK_PACKAGE_DESCRIPTION
  "Turns each pixel's colour about an offset colour by three angles inside a rectangle of the frame, \
with clamp, wrap or reflect. Includes the vexolumen command-line host (FFmpeg), the plug-in's Qt \
settings dialog, a frei0r filter for FFmpeg, MLT, Kdenlive, Shotcut and GStreamer, and the filter's \
descriptions for Kdenlive and Shotcut.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps must see the package's own libraries to leave them out.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ffmpeg, melt, kdenlive, gstreamer1.0-plugins-bad")
set(CPACK_STRIP_FILES ON)
include(CPack)
