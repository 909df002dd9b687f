# The platform layer that fails on demand (fake_platform.h) with the runtime
# and the engine: velk_fake_platform. The fake passes its calls through to
# the system's own layer, built a second time with its file entry points
# renamed. Used by the fault tests and the fuzz targets.
add_library(velk_system_platform OBJECT ${PROJECT_SOURCE_DIR}/src/runtime/platform_posix.cpp)
target_include_directories(velk_system_platform PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_definitions(velk_system_platform PRIVATE
  PlatformOpenFile=SystemOpenFile PlatformRead=SystemRead PlatformWrite=SystemWrite
  PlatformClose=SystemClose PlatformLastError=SystemLastError)
velk_warnings(velk_system_platform)

add_library(velk_fake_platform STATIC ${CMAKE_CURRENT_LIST_DIR}/fake_platform.cpp
  $<TARGET_OBJECTS:velk_system_platform> $<TARGET_OBJECTS:velk_runtime_objects>
  $<TARGET_OBJECTS:velk_engine_objects>)
target_include_directories(velk_fake_platform PUBLIC ${CMAKE_CURRENT_LIST_DIR}
  ${PROJECT_SOURCE_DIR}/src)
velk_warnings(velk_fake_platform)
