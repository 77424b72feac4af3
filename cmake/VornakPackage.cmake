# The Debian package (CPack's DEB generator), made by tools/package.sh:
#   dist/vornak-reader2026_<version>_amd64.deb
# It holds what `cmake --install` installs under /usr, plus the changelog and copyright of desktop/debian/;
# the dependencies come from dpkg-shlibdeps on the two programs. The version is the project VERSION; the
# newest entries of the changelog and of the metainfo's releases must name it (checked here).
set(VORNAK_DEB_NAME vornak-reader2026)

file(STRINGS ${PROJECT_SOURCE_DIR}/desktop/debian/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^${VORNAK_DEB_NAME} \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "desktop/debian/changelog: the newest entry is not version ${PROJECT_VERSION}: ${changelog_head}")
endif()
file(READ ${PROJECT_SOURCE_DIR}/desktop/nl.vornak.VornakReader2026.metainfo.xml metainfo)
string(REGEX MATCH "<release version=\"[^\"]*\"" metainfo_release "${metainfo}")
if(NOT metainfo_release STREQUAL "<release version=\"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "desktop/nl.vornak.VornakReader2026.metainfo.xml: the newest release is not ${PROJECT_VERSION}")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VORNAK_DEB_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/dist)
set(CPACK_PACKAGE_CONTACT "Vornak Reader maintainers <maintainers@vornak.nl>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "reader for logged audio recordings")
set(CPACK_PACKAGE_DESCRIPTION "\
Vornak Reader 2026 finds, plays and exports the recordings that the recorder
Vornak 2026 logs into dated folders and catalogues in a SQLite file: by day
and hour in a calendar, or by file name, title or persons. It shows the
waveform of a recording, plays it on a chosen sound output with a running
clock, at another speed or one channel alone, and exports the whole recording
or a selection to WAV, MP3, OGG or Opus. Its interface is Dutch.
.
The companion program vornak-tool runs the same catalogue, settings and audio
code from the command line, for scripts and nightly archive audits. Its web
server lets people with an account find, hear and export recordings from a
browser; it comes as the system service vornak-reader2026-web, disabled until
the administrator enables it, with an nginx example for TLS in front.")
# The files are installed under /usr with DESTDIR, so that the desktop entry names /usr/bin.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beyond the linked libraries: Qt's Dutch texts for its own dialogs; the first-run demo runs the ffmpeg
# command line and speaks with espeak-ng (without them the reader starts without a demo).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ffmpeg, espeak-ng")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "nginx")
# The web server's system user (postinst) and its settings file, kept through upgrades (conffiles).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/page/debian/postinst;${PROJECT_SOURCE_DIR}/page/debian/conffiles")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Man pages and the changelog compressed, the copyright file: the Debian layout of /usr/share.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/VornakDebStage.cmake)
# (CPack passes only CPACK_ variables on to the script.)
set(CPACK_VORNAK_DOC_SOURCE ${PROJECT_SOURCE_DIR}/desktop/debian)
set(CPACK_VORNAK_WEB_SOURCE ${PROJECT_SOURCE_DIR}/page/debian)
include(CPack)
