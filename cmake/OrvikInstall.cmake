# Install layout (cmake --install):
#   bin/orvik-uninstaller
#   lib/liborvik_*.a                      the static libraries
#   include/orvik/<folder>/*.h            public headers, included as "strings/AtlString.h"
#   lib/cmake/orvik/                      package config: find_package(orvik) -> orvik::uninstall, ...
#   share/polkit-1/actions/               the action that lets pkexec keep the graphical session
#   share/man/man1/orvik-uninstaller.1
# The translation catalogs are installed by po/CMakeLists.txt.
include(CMakePackageConfigHelpers)

set(ORVIK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/orvik)
set(orvik_library_folders platform strings win32compat resources paths uninstall)

set(orvik_install_targets)
foreach(folder ${orvik_library_folders})
  if(TARGET orvik_${folder})
    # Consumers name them as the build tree does: orvik::platform, ..., orvik::uninstall.
    set_target_properties(orvik_${folder} PROPERTIES EXPORT_NAME ${folder})
    list(APPEND orvik_install_targets orvik_${folder})
  endif()
endforeach()

install(TARGETS ${orvik_install_targets}
  EXPORT OrvikTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvik)

if(TARGET orvik-uninstaller)
  install(TARGETS orvik-uninstaller RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

foreach(folder platform strings win32compat resources paths uninstaller)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${folder}/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvik/${folder}
    FILES_MATCHING PATTERN "*.h"
    PATTERN "share" EXCLUDE)
endforeach()

# ICU and libplist are private to the static platform library, but a static library carries
# its link dependencies: the package config finds them again (OrvikConfig.cmake.in).
install(EXPORT OrvikTargets NAMESPACE orvik:: DESTINATION ${ORVIK_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/OrvikConfig.cmake.in
  ${PROJECT_BINARY_DIR}/orvikConfig.cmake
  INSTALL_DESTINATION ${ORVIK_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/orvikConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/orvikConfig.cmake ${PROJECT_BINARY_DIR}/orvikConfigVersion.cmake
  DESTINATION ${ORVIK_INSTALL_CMAKEDIR})

# pkexec keeps DISPLAY and XAUTHORITY only for an action that allows a GUI for this path. The
# path is the one the program has once installed, so it is filled in at install time (a
# --prefix given to cmake --install counts; DESTDIR does not, as it is not where it runs).
set(orvik_policy_in ${PROJECT_SOURCE_DIR}/uninstaller/share/com.orvikware.orvik-uninstaller.policy.in)
set(orvik_policy ${PROJECT_BINARY_DIR}/install-time/com.orvikware.orvik-uninstaller.policy)
install(CODE "
  set(ORVIK_UNINSTALLER_INSTALLED_PATH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/orvik-uninstaller\")
  configure_file(\"${orvik_policy_in}\" \"${orvik_policy}\" @ONLY)
")
install(FILES ${orvik_policy} DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)

install(FILES ${PROJECT_SOURCE_DIR}/uninstaller/share/orvik-uninstaller.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
