# The windows (UMain, UAboutBox and the viewer state they hold) and the executable.
file(GLOB PAGORIN_WINDOW_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.ui)
list(REMOVE_ITEM PAGORIN_WINDOW_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/app.cpp)
add_library(pagorin_windows STATIC ${PAGORIN_WINDOW_SOURCES})
# The windows derive from their generated form classes, so their headers include the generated ones.
target_include_directories(pagorin_windows PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}
                           ${CMAKE_CURRENT_BINARY_DIR}/pagorin_windows_autogen/include)
target_link_libraries(pagorin_windows PUBLIC pagorin_toolkit pagorin_viewer PRIVATE pagorin_warnings)
target_compile_definitions(pagorin_windows PRIVATE PAGORIN_VERSION="${PROJECT_VERSION}")
set_target_properties(pagorin_windows PROPERTIES AUTOUIC ON)

add_executable(pagorin WIN32 app.cpp)
target_link_libraries(pagorin PRIVATE pagorin_windows pagorin_warnings)
install(TARGETS pagorin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
