# cmake -DROOT=DIR -DLIBDIR=lib/TRIPLET -DVERSION=X.Y.Z -P check_install_tree.cmake
# The tree under DIR (an extracted package, or a DESTDIR install with prefix /usr) holds the
# programs, the library with its soname, header and pkg-config file, the data files, the
# desktop entry, icon, AppStream metadata, man pages and Debian docs, and the desktop
# entry and metadata validate.
cmake_minimum_required(VERSION 3.25)
set(usr ${ROOT}/usr)
set(expected
  bin/Orvex
  bin/orvex-cli
  ${LIBDIR}/libtavrin.so.${VERSION}
  ${LIBDIR}/libtavrin.so.1
  ${LIBDIR}/pkgconfig/tavrin.pc
  include/tavrin/tavrin.h
  "share/orvex/R7 Izurudizi.pdf"
  share/orvex/UpdateConfig.xml
  share/orvex/K4相机替换文件/AVF_INFO
  share/orvex/K4相机替换文件/PRIVATE/SONY
  share/applications/org.orvex.Orvex.desktop
  share/metainfo/org.orvex.Orvex.metainfo.xml
  share/icons/hicolor/scalable/apps/orvex.svg
  share/icons/hicolor/128x128/apps/orvex.png
  share/man/man1/Orvex.1.gz
  share/man/man1/orvex-cli.1.gz
  share/doc/orvex/copyright
  share/doc/orvex/changelog.gz)
foreach(path IN LISTS expected)
  if(NOT EXISTS "${usr}/${path}")
    message(SEND_ERROR "missing: /usr/${path}")
  endif()
endforeach()

execute_process(COMMAND readelf -d ${usr}/${LIBDIR}/libtavrin.so.${VERSION}
  OUTPUT_VARIABLE dynamic)
if(NOT dynamic MATCHES "SONAME\\)[^\n]*\\[libtavrin\\.so\\.1\\]")
  message(SEND_ERROR "libtavrin.so.${VERSION} does not carry the soname libtavrin.so.1")
endif()
file(STRINGS ${usr}/${LIBDIR}/pkgconfig/tavrin.pc pc REGEX "^(libdir|Version)")
if(NOT pc STREQUAL "libdir=/usr/${LIBDIR};Version: ${VERSION}")
  message(SEND_ERROR "tavrin.pc says ${pc}")
endif()

# Hints (two main categories, as wanted) are not errors: only a refusal is shown.
execute_process(COMMAND desktop-file-validate
  ${usr}/share/applications/org.orvex.Orvex.desktop RESULT_VARIABLE status OUTPUT_VARIABLE said)
if(NOT status EQUAL 0)
  message(SEND_ERROR "desktop-file-validate refuses the desktop entry:\n${said}")
endif()
find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
  execute_process(COMMAND ${APPSTREAMCLI} validate --no-net
    ${usr}/share/metainfo/org.orvex.Orvex.metainfo.xml RESULT_VARIABLE status
    OUTPUT_VARIABLE said ERROR_VARIABLE said)
  if(NOT status EQUAL 0)
    message(SEND_ERROR "appstreamcli validate refuses the metainfo file:\n${said}")
  endif()
endif()
