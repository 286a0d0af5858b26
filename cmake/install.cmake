# What `cmake --install` puts under the prefix: the library with its headers,
# a CMake package and a pkg-config file, rvxctl, the simulator module, the
# Python package, the .NET assembly, and the Parameter/ and Debug/ folders
# the library reads and logs into (the prefix is then the library's install
# directory).
include(CMakePackageConfigHelpers)

set(RVX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/rvxMApiBrd)
# Driver modules sit beside the library on Windows, where DLLs are found.
if(WIN32)
  set(RVX_MODULE_DIR ${CMAKE_INSTALL_BINDIR})
else()
  set(RVX_MODULE_DIR ${CMAKE_INSTALL_LIBDIR})
endif()

install(TARGETS rvxMApiBrd EXPORT rvxMApiBrdTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/rvx406a.h include/rvx406a_driver.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS rvxctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The panel's page (rvxctl serve), found from bin/ as ../share/rvxctl/panel.
install(DIRECTORY tools/panel/ DESTINATION ${CMAKE_INSTALL_DATADIR}/rvxctl/panel)
# Where bash-completion looks for a command's completion when it is first used.
if(NOT WIN32)
  install(FILES tools/rvxctl-completion.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME rvxctl)
endif()
install(TARGETS rvxsim LIBRARY DESTINATION ${RVX_MODULE_DIR})
if(WIN32)
  install(FILES ${RVX_DEF_FILE} ${RVX_MSVC_IMPLIB} DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

install(EXPORT rvxMApiBrdTargets NAMESPACE rvxMApiBrd:: DESTINATION ${RVX_CMAKE_DIR})
configure_package_config_file(cmake/rvxMApiBrdConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/rvxMApiBrdConfig.cmake INSTALL_DESTINATION ${RVX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/rvxMApiBrdConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/rvxMApiBrdConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/rvxMApiBrdConfigVersion.cmake DESTINATION ${RVX_CMAKE_DIR})

# Relative to the .pc file, so that `cmake --install --prefix DIR` is right too.
file(RELATIVE_PATH RVX_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" RVX_PC_TO_PREFIX "${RVX_PC_TO_PREFIX}")
configure_file(cmake/rvxMApiBrd.pc.in ${CMAKE_CURRENT_BINARY_DIR}/rvxMApiBrd.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/rvxMApiBrd.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# PYTHONPATH=PREFIX/lib/python; the package finds the library from there.
install(DIRECTORY python/rvx406a DESTINATION ${CMAKE_INSTALL_LIBDIR}/python
  FILES_MATCHING PATTERN "*.py" PATTERN __pycache__ EXCLUDE)

# The .NET assembly, when mono's compiler built it, with the C# sources for
# projects that compile them in; on Linux its .config tells mono where the
# library is (../librvxMApiBrd.so.1).
if(TARGET rvx_dotnet)
  install(FILES ${PROJECT_BINARY_DIR}/dotnet/Rvx406a.dll ${PROJECT_BINARY_DIR}/dotnet/Rvx406a.xml
    bindings/dotnet/NativeMethods.cs bindings/dotnet/Rvx406a.cs
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/dotnet)
  if(NOT WIN32)
    install(FILES bindings/dotnet/Rvx406a.dll.config DESTINATION ${CMAKE_INSTALL_LIBDIR}/dotnet)
  endif()
endif()

install(DIRECTORY DESTINATION Parameter)
install(DIRECTORY DESTINATION Debug)
install(FILES LICENSE README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
