# Common compile settings and helpers for Quillo's targets.

set(QUILLO_WARNINGS -Wall -Wextra -Wpedantic -Wshadow=local -Wno-unused-parameter)

# quillo_core_library(NAME DEPS...): a static library of the GUI-free core made of every
# .cpp/.h in the calling folder. Core libraries may link QtCore, libcurl and each other only.
function(quillo_core_library name)
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  list(FILTER _src INCLUDE REGEX "\\.cpp$|\\.h$")
  set(_cpp ${_src})
  list(FILTER _cpp INCLUDE REGEX "\\.cpp$")
  if(NOT _cpp)
    # A subsystem that has no code yet: an interface target keeps the dependency graph intact.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE Qt6::Core Threads::Threads ${ARGN})
  else()
    add_library(${name} STATIC ${_src})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_compile_options(${name} PRIVATE ${QUILLO_WARNINGS})
    target_link_libraries(${name} PUBLIC Qt6::Core Threads::Threads ${ARGN})
  endif()
  set_property(GLOBAL APPEND PROPERTY QUILLO_CORE_TARGETS ${name})
endfunction()

# The core must never depend on widgets or the GUI module: fail the configure step if it does.
function(quillo_check_core_is_gui_free)
  get_property(_targets GLOBAL PROPERTY QUILLO_CORE_TARGETS)
  foreach(t IN LISTS _targets)
    get_target_property(_type ${t} TYPE)
    if(_type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(_libs ${t} INTERFACE_LINK_LIBRARIES)
    else()
      get_target_property(_libs ${t} LINK_LIBRARIES)
    endif()
    foreach(l IN LISTS _libs)
      if(l MATCHES "Qt6::(Widgets|Gui)" OR l MATCHES "quillo_ui")
        message(FATAL_ERROR "Core library ${t} links ${l}: the core must stay free of widgets")
      endif()
    endforeach()
  endforeach()
endfunction()

# quillo_add_test(NAME LIBS...): one GoogleTest executable from every *_test.cpp in the calling
# folder, run by CTest with a throw-away home, config folder and shutdown command.
function(quillo_add_test name)
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_executable(${name} ${_src})
  target_compile_options(${name} PRIVATE ${QUILLO_WARNINGS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    QUILLO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QUILLO_BINARY_DIR="${PROJECT_BINARY_DIR}")
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QUILLO_SOURCE_DIR=${PROJECT_SOURCE_DIR};QUILLO_BINARY_DIR=${PROJECT_BINARY_DIR}"
    TIMEOUT 900)
endfunction()
