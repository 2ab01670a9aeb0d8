# `make package`: a Debian package built from the install rules. The run dependencies come
# from dpkg-shlibdeps on the installed binary; the language data the text recognition loads at
# run time is named here, since no library link points at it.
set(ULVANE_MAINTAINER "Brisel <ulvane@brisel.org>" CACHE STRING "The package's maintainer")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ulvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Brisel)
set(CPACK_PACKAGE_CONTACT ${ULVANE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "clipboard history manager, searchable and kept on this computer")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ULVANE_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's Wayland platform is a plugin, which no library dependency brings: without it Ulvane
# cannot open a window in a Wayland session.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "tesseract-ocr-eng, tesseract-ocr-ukr, qt6-wayland")
# TIFF clips, the capture sound and opening the manual work without these, only less well.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-image-formats-plugins, sound-theme-freedesktop, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The summary above is the first line; CPack indents these and marks the empty one.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Ulvane keeps everything copied on the desktop, with all its formats, and finds
any of it again as you type: full-text search over the whole history, text
recognised in copied images (English and Ukrainian), pinned clips, plain-text
pasting and a serial paste queue. A hot key opens the picker under the pointer
and pastes the chosen clip into the window that had the focus.

Password managers are never recorded, and Ulvane opens no network connection.")
include(CPack)
