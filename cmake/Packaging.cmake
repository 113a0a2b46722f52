# Installation layout and the Debian package of Quarrymoth. Included by the top-level
# CMakeLists.txt once the programs are defined:
#   cmake --install BUILD --prefix DIR   lays the files out under DIR
#   cpack -G DEB (in BUILD)              builds quarrymoth_<version>-1_<arch>.deb for /usr
# The files under packaging/ are committed as they ship; nothing here needs an image converter.

foreach(program quarrymoth quarrymoth-cli)
  if(NOT TARGET ${program})
    message(FATAL_ERROR "Packaging.cmake: include it after the target ${program} is defined")
  endif()
endforeach()

include(GNUInstallDirs)

get_filename_component(QM_PACKAGING_DIR "${CMAKE_CURRENT_LIST_DIR}/../packaging" ABSOLUTE)
# Every size that has a rendering in packaging/icons/hicolor; package-check.sh checks the same list.
set(QM_ICON_SIZES 16 22 24 32 48 64 128 256)

install(TARGETS quarrymoth quarrymoth-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${QM_PACKAGING_DIR}/quarrymoth.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QM_PACKAGING_DIR}/io.github.quarrymoth.Quarrymoth.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size IN LISTS QM_ICON_SIZES)
  install(FILES ${QM_PACKAGING_DIR}/icons/hicolor/${size}x${size}/apps/quarrymoth.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${QM_PACKAGING_DIR}/icons/quarrymoth.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarrymoth)
set(CPACK_PACKAGE_VENDOR "Quarrymoth developers")
set(CPACK_PACKAGE_CONTACT "Quarrymoth developers <dev@quarrymoth.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Usenet picture harvester")
# One paragraph, wrapped as dpkg shows it; CPack indents each line for the control file.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Quarrymoth connects to a news server over NNTP, walks through the newsgroups"
  "you choose and saves the pictures posted there, joining those split over"
  "several articles. Filters on subject, sender and size pick what is saved, and"
  "a history of saved files keeps anything from being downloaded twice. The"
  "window shows the progress of each group and article and a thumbnail of the"
  "last picture; quarrymoth-cli runs the same harvest from a terminal or a"
  "scheduler.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debian ships programs stripped; a RelWithDebInfo build would otherwise carry its debug info.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME quarrymoth)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quarrymoth developers <dev@quarrymoth.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps reads the linked libraries of both programs (Qt, libstdc++, libc) and writes
# Depends with the versions this build needs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads the SVG icon engine as a plugin, which dpkg-shlibdeps cannot see; without it the
# window falls back to the PNG icons. Encrypted connections check servers against the system's
# trusted certificates, which ca-certificates provides.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6svg6, ca-certificates")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

include(CPack)
