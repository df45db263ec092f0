# Each system's serial platform and system queries; the rest of the core is shared.
if(WIN32)
  file(GLOB _platform_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/win32/*.cpp)
else()
  file(GLOB _platform_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/posix/*.cpp)
endif()
target_sources(portflash_core PRIVATE ${_platform_sources})
