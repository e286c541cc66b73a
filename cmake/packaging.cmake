# What `cmake --install` puts where, and the Debian package `make package` builds.
include(GNUInstallDirs)

install(TARGETS zipvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The browsers' road in: the native host, its manifests where Chromium and
# Firefox look for them system-wide (a manifest names the host's absolute
# path), and the extension's folder to load.
install(TARGETS zipvane-native-host RUNTIME DESTINATION lib/zipvane)
# The manifests name the host where this install puts it: written at install
# time, when the prefix is known (the package's is /usr).
install(CODE "
  set(ZV_HOST_PATH \"\${CMAKE_INSTALL_PREFIX}/lib/zipvane/zipvane-native-host\")
  foreach(browser chromium firefox)
    configure_file(\"${CMAKE_SOURCE_DIR}/browser/native-host/\${browser}.json.in\"
                   \"${CMAKE_BINARY_DIR}/native-host/\${browser}/zipvane.json\" @ONLY)
  endforeach()
  file(INSTALL DESTINATION /etc/chromium/native-messaging-hosts TYPE FILE
       FILES \"${CMAKE_BINARY_DIR}/native-host/chromium/zipvane.json\")
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/mozilla/native-messaging-hosts\"
       TYPE FILE FILES \"${CMAKE_BINARY_DIR}/native-host/firefox/zipvane.json\")
")
install(DIRECTORY ${CMAKE_SOURCE_DIR}/browser/extension
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zipvane)
install(FILES ${CMAKE_SOURCE_DIR}/data/zipvane.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/zipvane.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/data/zipvane.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zipvane)
set(CPACK_PACKAGE_VENDOR "Zipvane")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small HTTP download manager with a Chinese user interface")
set(CPACK_PACKAGE_DESCRIPTION "Zipvane (迅羽 2007 - 极速下载器) downloads files over HTTP, \
two at a time, directly or through an HTTP proxy, and resumes interrupted downloads.")
set(CPACK_PACKAGE_CONTACT "Zipvane developers <zipvane@localhost>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# The Qt libraries (and the xcb platform plugin with libqt6gui6) come from
# dpkg-shlibdeps; the Chinese text needs a CJK font and Qt's own Chinese texts
# (the dialogs' buttons), which no library pulls in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "fonts-wqy-microhei | fonts-wqy-zenhei | fonts-noto-cjk, qt6-translations-l10n")
include(CPack)
