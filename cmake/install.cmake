# Install rules: the libraries with their SONAMEs, the public headers, vxavi,
# the codec driver modules with the profile that lists them, a pkg-config
# file and a CMake package. Every path inside the prefix is relative, so an
# installed prefix can be moved as a whole.
include(CMakePackageConfigHelpers)

set(VX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VxMedia)

install(TARGETS vxmedia VexaInfo EXPORT VxMediaTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/vxmedia DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(FILES hostlib/include/VexaInfo.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET vxavi)
  install(TARGETS vxavi RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Driver modules, and the profile installed beside the library that names
# them by file name; the library looks such names up in its drivers folder.
if(NOT WIN32)
  set(VX_DRIVER_LINES "")
  if(TARGET vx_vidc_lavc)
    install(TARGETS vx_vidc_lavc LIBRARY DESTINATION ${VX_DRIVERS_INSTALL_DIR})
    # The catch-all decompressor first: a search for a decompressor by
    # format alone (codec_locate walks the keys in file order) then finds the
    # module under its own name, not under some compressor's. It refuses
    # compress mode, so a search for a compressor goes on to the compressor
    # keys, MJPEG (which takes every size) first.
    string(APPEND VX_DRIVER_LINES "vidc.lavc=vidc_lavc.so\n")
    foreach(handler MJPG FMP4 FFV1 HFYU dvsd MSVC cvid)
      string(APPEND VX_DRIVER_LINES "vidc.${handler}=vidc_lavc.so\n")
    endforeach()
  endif()
  # Audio drivers in the order the audio compression manager asks them.
  foreach(audio lavc pcm)
    if(TARGET vx_msacm_${audio})
      install(TARGETS vx_msacm_${audio} LIBRARY DESTINATION ${VX_DRIVERS_INSTALL_DIR})
      string(APPEND VX_DRIVER_LINES "msacm.${audio}=msacm_${audio}.so\n")
    endif()
  endforeach()
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/generated/profile.ini CONTENT
"; The profile installed with VxMedia: read after the user's own
; ($VXMEDIA_PROFILE, else ~/.config/vxmedia/profile.ini), whose keys win.
; Driver modules named by file name alone are looked up in
; <libdir>/vxmedia/drivers.
[drivers32]
@VX_DRIVER_LINES@")
  install(FILES ${PROJECT_BINARY_DIR}/generated/profile.ini
    DESTINATION ${CMAKE_INSTALL_SYSCONFDIR}/vxmedia)
endif()

# CMake package: find_package(VxMedia) gives VxMedia::vxmedia.
install(EXPORT VxMediaTargets NAMESPACE VxMedia:: DESTINATION ${VX_CMAKE_DIR})
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/generated/VxMediaConfig.cmake CONTENT
"# VxMedia: the media support library. Imported targets: VxMedia::vxmedia
# (which brings VxMedia::VexaInfo, the host support library it links).
include(\"\${CMAKE_CURRENT_LIST_DIR}/VxMediaTargets.cmake\")
" @ONLY)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/generated/VxMediaConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/generated/VxMediaConfig.cmake
  ${PROJECT_BINARY_DIR}/generated/VxMediaConfigVersion.cmake DESTINATION ${VX_CMAKE_DIR})

# pkg-config, relative to the .pc file's own folder.
file(RELATIVE_PATH VX_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" VX_PC_TO_PREFIX "${VX_PC_TO_PREFIX}")
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/generated/vxmedia.pc CONTENT
"prefix=\${pcfiledir}/@VX_PC_TO_PREFIX@
libdir=\${prefix}/@CMAKE_INSTALL_LIBDIR@
includedir=\${prefix}/@CMAKE_INSTALL_INCLUDEDIR@

Name: VxMedia
Description: AVI reading, writing and chunk editing, frame decoding through installed codecs
Version: @PROJECT_VERSION@
Libs: -L\${libdir} -lvxmedia -lVexaInfo
Cflags: -I\${includedir}
" @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/generated/vxmedia.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
