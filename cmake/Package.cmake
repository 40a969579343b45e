# The Debian package, built with `cpack -G DEB` (scripts/package.sh). Everything the install rules
# place goes in it, under /usr; the tests have no install rules and stay out.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillory)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Quorvane)
set(CPACK_PACKAGE_CONTACT "Quorvane <support@quorvane.com>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "pull HTML tags, or the data between tags, out of many files")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorvane <support@quorvane.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://quorvane.com/quillory/)
# The libraries' packages (Qt 6, libmodest0, ICU) are found from what the programs link against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The control file's long description; CPack puts the summary above it and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quillory reads a list of HTML files, or whole folders of them, and pulls out
either the tags or the text between them, in the files' order: the text of
every innermost element, the markup inside every element with a given tag,
every line containing a search text, or the name of every element. The rows
can be copied, or saved as text lines or as one comma-delimited line.

The package holds the window, quillory, and the same extraction on the
command line, quillory-extract, which parses several files at once and still
writes the rows in the files' order.")

# Directories the package creates are 0755 whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

include(CPack)
