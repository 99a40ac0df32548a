# What `cmake --install` puts in place for other projects: the libraries,
# their headers (include/pelmora/<layer>/...), the cache builder, the data
# files, and the package `Pelmora` whose target Pelmora::pelmora links the
# system with the product layer, and Pelmora::sample_extensions the sample
# network's extension objects. A project that adds this one with
# add_subdirectory links the same targets.
include(CMakePackageConfigHelpers)

add_library(pelmora_all INTERFACE)
target_link_libraries(pelmora_all INTERFACE pelmora pelmora_product)
set_target_properties(pelmora_all PROPERTIES EXPORT_NAME pelmora)
set_target_properties(pelmora PROPERTIES EXPORT_NAME system)
add_library(Pelmora::pelmora ALIAS pelmora_all)
set_target_properties(pelmora_sample_extensions PROPERTIES EXPORT_NAME sample_extensions)
add_library(Pelmora::sample_extensions ALIAS pelmora_sample_extensions)

install(TARGETS pelmora_runtime pelmora_ado pelmora_interfaces pelmora_product pelmora pelmora_all
                pelmora_sample_extensions EXPORT PelmoraTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS build_metadata_cache RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pelmora
  FILES_MATCHING PATTERN "*.h")
install(FILES ${PROJECT_SOURCE_DIR}/examples/sample_extensions/SampleExtensions.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pelmora/sample_extensions)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/messages ${PROJECT_SOURCE_DIR}/data/sample
  DESTINATION ${CMAKE_INSTALL_DATADIR}/pelmora)

set(_pelmora_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Pelmora)
install(EXPORT PelmoraTargets NAMESPACE Pelmora:: DESTINATION ${_pelmora_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/PelmoraConfig.cmake.in
  ${PROJECT_BINARY_DIR}/PelmoraConfig.cmake INSTALL_DESTINATION ${_pelmora_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/PelmoraConfigVersion.cmake
  VERSION 0.1.0 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/PelmoraConfig.cmake ${PROJECT_BINARY_DIR}/PelmoraConfigVersion.cmake
  DESTINATION ${_pelmora_cmake_dir})
