# What `cmake --install` puts in place, and the Debian packages `cpack -G DEB`
# makes of it (one package per component):
#   runtime      libwks.so.1 (and the DLL on Windows)      -> libwks1
#   development  wks.h, libwks.so, the CMake package
#                (find_package(wks CONFIG) -> wks::wks), wks.pc  -> libwks-dev
#   tool         the wks command                           -> wks
#   export       libwks-export.so.1, where it is built     -> libwks-export1
#                (its header and libwks-export.so go with development)
#   python       the Python package wks, where it is built  -> python3-wks
install(TARGETS wks EXPORT wksTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
# The installed tool finds the library from its own place ($ORIGIN/../lib...),
# wherever the prefix is and wherever it moves; a library directory the
# system searches anyway (the Debian packages' /usr/lib/<triplet>) needs no
# search path at all.
if(NOT WIN32)
  list(FIND CMAKE_C_IMPLICIT_LINK_DIRECTORIES ${CMAKE_INSTALL_FULL_LIBDIR} wks_system_libdir)
  if(wks_system_libdir EQUAL -1)
    file(RELATIVE_PATH wks_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
    set_target_properties(wks_tool PROPERTIES INSTALL_RPATH "$ORIGIN/${wks_bin_to_lib}")
  endif()
endif()
install(TARGETS wks_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
install(FILES ${PROJECT_SOURCE_DIR}/include/wks.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT development)
if(TARGET wks_export)
  install(TARGETS wks_export EXPORT wksTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT export NAMELINK_COMPONENT development)
  install(FILES ${PROJECT_SOURCE_DIR}/include/wks_export.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    COMPONENT development)
endif()

include(CMakePackageConfigHelpers)
set(wks_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/wks)
install(EXPORT wksTargets NAMESPACE wks:: DESTINATION ${wks_cmake_dir} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/wksConfig.cmake.in
  ${PROJECT_BINARY_DIR}/wksConfig.cmake INSTALL_DESTINATION ${wks_cmake_dir})
# 1.y satisfies a request for 1.x when y >= x: the major version is the ABI.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/wksConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/wksConfig.cmake ${PROJECT_BINARY_DIR}/wksConfigVersion.cmake
  DESTINATION ${wks_cmake_dir} COMPONENT development)

# pkg-config: the prefix found from the .pc file's own place, so that an
# installation moved elsewhere (cmake --install --prefix DIR) still works.
file(RELATIVE_PATH wks_pc_up ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" wks_pc_up "${wks_pc_up}")
file(RELATIVE_PATH wks_pc_libdir ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH wks_pc_includedir ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_INCLUDEDIR})
configure_file(${PROJECT_SOURCE_DIR}/cmake/wks.pc.in ${PROJECT_BINARY_DIR}/wks.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/wks.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)

# --- Debian packages ----------------------------------------------------------
set(CPACK_PACKAGE_NAME libwks)
set(CPACK_PACKAGE_VENDOR "libwks developers")
set(CPACK_PACKAGE_CONTACT "libwks developers <maintainers@libwks.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "worksheet file library for the WKS/WK1 record family and ORX files")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_COMPONENTS_ALL runtime development tool)
if(TARGET wks_export)
  list(APPEND CPACK_COMPONENTS_ALL export)
endif()
if(TARGET wks_python)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)  # shlibs file and the ldconfig trigger
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # libc6, libstdc++6, libgcc-s1 from the binaries
# The tool's libwks.so.1 is ours, not a system library: its dependency is
# the one stated below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libwks${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libwks-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libwks${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME wks)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "libwks${PROJECT_VERSION_MAJOR} (>= ${PROJECT_VERSION})")
# The export: libxlsxwriter and libzip come from the binary's own dependencies.
set(CPACK_DEBIAN_EXPORT_PACKAGE_NAME libwks-export${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_EXPORT_PACKAGE_DEPENDS "libwks${PROJECT_VERSION_MAJOR} (>= ${PROJECT_VERSION})")
if(TARGET wks_export)
  string(APPEND CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS
    ", libwks-export${PROJECT_VERSION_MAJOR} (>= ${PROJECT_VERSION})")
  # libwks-export.so and wks_export.h are in the development package.
  string(APPEND CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    ", libwks-export${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
endif()
# The Python package: Debian's Python, numpy and pandas; Dask for wks.dask.
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-wks)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
  "libwks${PROJECT_VERSION_MAJOR} (>= ${PROJECT_VERSION}), python3 (>= 3.${Python_VERSION_MINOR}), python3 (<< 3.${wks_python_next_minor}), python3-numpy, python3-pandas")
set(CPACK_DEBIAN_PYTHON_PACKAGE_RECOMMENDS "python3-distributed")
if(TARGET wks_export)
  string(APPEND CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS ", libwks-export${PROJECT_VERSION_MAJOR} (>= ${PROJECT_VERSION})")
endif()
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "worksheet file library for Python: WK1 and ORX files as pandas DataFrames, formulas, conversion on Dask clusters")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "worksheet file library: reads and writes WKS/WK1 and ORX files, compiles and decodes formulas, converts between the formats")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "worksheet file library: C header, CMake package and pkg-config file")
set(CPACK_COMPONENT_TOOL_DESCRIPTION "wks: show, convert and export worksheet files from the shell")
set(CPACK_COMPONENT_EXPORT_DESCRIPTION "worksheet file library: export of WK1, WKS and ORX files to XLSX and ODS spreadsheets whose formulas compute the same values")
include(CPack)
