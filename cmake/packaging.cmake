# `cpack -G DEB` in the build directory makes a Debian package of what
# `cmake --install` puts in place, installed under /usr.
set(CPACK_PACKAGE_NAME quillforge)
set(CPACK_PACKAGE_VENDOR "Ambervale")
set(CPACK_PACKAGE_CONTACT "Ambervale <quillforge@ambervale.invalid>")
# A native package (no Debian revision): the package is made from this
# tree, by its own build.
set(CPACK_PACKAGE_VERSION ${QF_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "offline web-site compiler")
# Lines of at most 80 characters, as the Debian control file wants them.
set(CPACK_PACKAGE_DESCRIPTION
    "Quillforge builds web pages from source files with includes, conditionals
and symbols: a line-oriented macro preprocessor reads .src files, obeys their
directive lines, replaces defined symbols in the other lines and writes .html
files.

It comes as a desktop program (quillforge), which compiles a whole folder
with progress and lets a failed file be retried, and as a command-line
compiler (qfc) for scripts and build systems.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps works out the library packages (libc, libstdc++, Qt 6) from
# the programs themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The copyright file in Debian's machine-readable format, with the licence
# text taken from LICENSE: its paragraphs after the copyright line, each line
# indented and blank lines written as " .".
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)
file(READ ${CMAKE_SOURCE_DIR}/LICENSE QF_LICENCE_TEXT)
string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]*\n\n" "" QF_LICENCE_TEXT "${QF_LICENCE_TEXT}")
string(STRIP "${QF_LICENCE_TEXT}" QF_LICENCE_TEXT)
string(REPLACE "\n\n" "\n.\n" QF_LICENCE_TEXT "${QF_LICENCE_TEXT}")
string(REPLACE "\n" "\n " QF_LICENCE_TEXT " ${QF_LICENCE_TEXT}")
set(QF_PACKAGE_DOC_DIR ${CMAKE_BINARY_DIR}/package-doc)
configure_file(cmake/copyright.in ${QF_PACKAGE_DOC_DIR}/copyright @ONLY)

# The package's changelog, compressed without a name or time inside. A native
# package's is changelog.gz: Debian keeps changelog.Debian.gz for packages
# that carry a Debian revision.
configure_file(cmake/changelog.in ${QF_PACKAGE_DOC_DIR}/changelog @ONLY)
add_custom_command(
  OUTPUT ${QF_PACKAGE_DOC_DIR}/changelog.gz
  COMMAND ${QF_GZIP} -9nkf ${QF_PACKAGE_DOC_DIR}/changelog
  DEPENDS ${QF_PACKAGE_DOC_DIR}/changelog
  COMMENT "Compressing the package's changelog"
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${QF_PACKAGE_DOC_DIR}/changelog.gz)
install(FILES ${QF_PACKAGE_DOC_DIR}/copyright ${QF_PACKAGE_DOC_DIR}/changelog.gz
        DESTINATION ${QF_DOC_DIR})

include(CPack)
