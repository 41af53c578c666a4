# The Debian package: `cpack -G DEB` in a build folder (scripts/check-deb.sh builds and
# tries it). Its library dependencies are computed from the installed programs
# (dpkg-shlibdeps); the list below adds what no library link shows.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellumark)
set(CPACK_PACKAGE_VENDOR Corvane)
set(CPACK_PACKAGE_CONTACT "Vellumark maintainers <maintainers@vellumark.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turns PDF documents into page-turning web books")
set(CPACK_PACKAGE_DESCRIPTION "Vellumark converts PDF documents into flip books: web books
that open in any browser with a two-page spread, page-turn animation, thumbnails, zoom,
search and print. It publishes them to your own FTP server or to a publishing web
service. The package holds the desktop program, the batch command, the conversion
engine, the support tool and the publishing web service.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# xdg-open opens books, folders and addresses for the programs.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils")

include(CPack)
