# The Debian package, from the install rules:
#   cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr
#   cmake --build build-package
#   cd build-package && cpack -G DEB
set(CPACK_PACKAGE_NAME quellmark)
set(CPACK_PACKAGE_VENDOR "The Quellmark developers")
set(CPACK_PACKAGE_CONTACT "The Quellmark developers <quellmark@example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://quellmark.example.org/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch audio converter for the desktop")
set(CPACK_PACKAGE_DESCRIPTION
    "Quellmark Audio Converter converts a checklist of audio files in one go:\n"
    "pick files, add folder trees or drop them on the list, choose the target\n"
    "format and its quality, and every checked file is converted in turn with\n"
    "progress, pause and stop. Tags are carried across formats. quellmark-cli\n"
    "does the same from the command line.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
# A package installs under /usr whatever prefix the build was configured
# with; the programs find their libraries and data relative to themselves.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link come from dpkg-shlibdeps. The codec
# libraries are loaded at run time, so it cannot see them: the program runs
# without them and lacks only their formats, hence Recommends.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The FFmpeg libraries of the media runtime are loaded on first use, out of
# dpkg-shlibdeps' sight; the package names follow their major versions.
pkg_check_modules(QM_MEDIA_PACKAGES QUIET libavcodec libavformat libavutil libswresample)
set(media_depends "")
foreach(lib libavcodec libavformat libavutil libswresample)
  if(QM_MEDIA_PACKAGES_${lib}_VERSION)
    string(REGEX MATCH "^[0-9]+" major "${QM_MEDIA_PACKAGES_${lib}_VERSION}")
    list(APPEND media_depends "${lib}${major}")
  endif()
endforeach()
list(JOIN media_depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libmp3lame0, libogg0, libvorbis0a, libvorbisenc2, libvorbisfile3, libflac12, libopusenc0")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
