# `cpack -G DEB` in the build directory makes a Debian package of what
# `cmake --install` puts in place, installed under /usr.
set(CPACK_PACKAGE_NAME quillforge)
set(CPACK_PACKAGE_VENDOR "Ambervale")
set(CPACK_PACKAGE_CONTACT "Ambervale <quillforge@ambervale.invalid>")
# The program calls itself 1.3a; the package says the same.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION}a)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "offline web-site compiler")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillforge builds web pages from source files with includes, conditionals and symbols. It comes as a desktop program (quillforge) and a command-line compiler (qfc).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps works out the library packages (libc, libstdc++, Qt 6) from
# the programs themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
