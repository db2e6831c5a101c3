# Installs the library, its companions and the Win32 subset as one CMake
# package (find_package(Orvex CONFIG) -> Orvex::orvex) and a pkg-config file.
include(CMakePackageConfigHelpers)

set(_orvex_libraries orvex orvex_win32 orvex_error orvex_estimation orvex_image orvex_stopwatch orvex_camid)
foreach(_lib IN LISTS _orvex_libraries)
  string(REGEX REPLACE "^orvex_" "" _export_name ${_lib})
  set_target_properties(${_lib} PROPERTIES EXPORT_NAME ${_export_name})
endforeach()

install(TARGETS ${_orvex_libraries}
  EXPORT OrvexTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# Public headers: the library's own (each layer's and include/orvex/), the
# Win32 subset's and each companion's all land under include/orvex/. The
# subset's test switches (platform/testing) and the library's sources stay
# behind.
foreach(_dir IN LISTS ORVEX_PUBLIC_INCLUDE_DIRS)
  install(DIRECTORY ${_dir}/orvex DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endforeach()
install(DIRECTORY platform/include/orvex DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
foreach(_companion error estimation image stopwatch camid)
  install(DIRECTORY companions/${_companion}/include/orvex DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endforeach()

set(ORVEX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Orvex)
install(EXPORT OrvexTargets NAMESPACE Orvex:: DESTINATION ${ORVEX_CMAKE_DIR})
configure_package_config_file(cmake/OrvexConfig.cmake.in ${CMAKE_BINARY_DIR}/OrvexConfig.cmake
  INSTALL_DESTINATION ${ORVEX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/OrvexConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/OrvexConfig.cmake ${CMAKE_BINARY_DIR}/OrvexConfigVersion.cmake
  DESTINATION ${ORVEX_CMAKE_DIR})

list(TRANSFORM _orvex_libraries PREPEND "-l" OUTPUT_VARIABLE _orvex_pc_libs)
string(JOIN " " ORVEX_PC_LIBS ${_orvex_pc_libs})
# Relocatable: the prefix is found from where the .pc file was installed.
file(RELATIVE_PATH ORVEX_PC_PREFIX_FROM_PCFILEDIR /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
configure_file(cmake/orvex.pc.in ${CMAKE_BINARY_DIR}/orvex.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/orvex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
