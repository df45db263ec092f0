file(GLOB _app_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
target_sources(portflash_core PRIVATE ${_app_sources})
