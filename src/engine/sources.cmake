file(GLOB _engine_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
target_sources(portflash_core PRIVATE ${_engine_sources})
