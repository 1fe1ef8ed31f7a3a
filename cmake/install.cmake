# Install rules: the KVEL package (libraries, public headers, CMake and
# pkg-config files, the kvel tool) and the game with its data.
include(CMakePackageConfigHelpers)

# install_with_prefix(NAME DIR): installs cmake/NAME.in into DIR with %PREFIX%
# replaced by the prefix of the install, which `cmake --install --prefix` sets
# only then; the @VARIABLES@ are filled in when configuring.
function(install_with_prefix name dir)
  set(staged ${CMAKE_CURRENT_BINARY_DIR}/install-staged/${name})
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${name}.in ${staged}.in @ONLY)
  install(CODE "
    file(READ \"${staged}.in\" text)
    string(REPLACE \"%PREFIX%\" \"\${CMAKE_INSTALL_PREFIX}\" text \"\${text}\")
    file(WRITE \"${staged}\" \"\${text}\")
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${dir}\" TYPE FILE FILES \"${staged}\")
  ")
endfunction()

set(KVEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KVEL)
# Installed programs find a shared libkvel beside them.
set_target_properties(kvel_tool valley PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")

# kvel_gl has its own export set, so users of kvel alone need no OpenGL.
install(TARGETS kvel EXPORT KVELTargets INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS kvel_gl EXPORT KVELGLTargets INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/imagelib/export.h ${PROJECT_SOURCE_DIR}/imagelib/imagebase.h
              ${PROJECT_SOURCE_DIR}/imagelib/bitmap.h ${PROJECT_SOURCE_DIR}/imagelib/metaimage.h
              ${PROJECT_SOURCE_DIR}/imagelib/edges.h ${PROJECT_SOURCE_DIR}/imagelib/rigid.h
              ${PROJECT_SOURCE_DIR}/imagelib/visualise.h ${PROJECT_SOURCE_DIR}/imagelib/threads.h
              ${PROJECT_SOURCE_DIR}/imagelib/errors.h ${PROJECT_SOURCE_DIR}/imagelib/image_file.h
              ${PROJECT_SOURCE_DIR}/imagelib/space.h ${PROJECT_SOURCE_DIR}/imagelib/preview.h
              ${PROJECT_SOURCE_DIR}/imagelib/registration.h ${PROJECT_SOURCE_DIR}/imagelib/build_info.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kvel)
install(FILES ${PROJECT_SOURCE_DIR}/imagelib/gl/bitmap_texture.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kvel/gl)
install(EXPORT KVELTargets NAMESPACE KVEL:: DESTINATION ${KVEL_CMAKE_DIR})
install(EXPORT KVELGLTargets NAMESPACE KVEL:: DESTINATION ${KVEL_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KVELConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/KVELConfig.cmake INSTALL_DESTINATION ${KVEL_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/KVELConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/KVELConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/KVELConfigVersion.cmake
        DESTINATION ${KVEL_CMAKE_DIR})
install(TARGETS kvel_tool)

# The game, its data, a launcher that points it at the data, and a desktop entry.
install(TARGETS valley)
install(FILES ${PROJECT_SOURCE_DIR}/data/valleyDepth.bmp ${PROJECT_SOURCE_DIR}/data/valleyTex.bmp
              ${PROJECT_SOURCE_DIR}/data/in.conf
        DESTINATION ${CMAKE_INSTALL_DATADIR}/valley)
configure_file(${CMAKE_CURRENT_LIST_DIR}/valley-play.in ${CMAKE_CURRENT_BINARY_DIR}/valley-play @ONLY)
install(PROGRAMS ${CMAKE_CURRENT_BINARY_DIR}/valley-play DESTINATION ${CMAKE_INSTALL_BINDIR})
install_with_prefix(valley.desktop ${CMAKE_INSTALL_DATADIR}/applications)
install_with_prefix(kvel.pc ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
