# The frameworks the Mac sources use, as interface targets: MacFoundation,
# MacCoreFoundation, MacCoreMIDI and MacImageIO. On a Mac they are the real frameworks.
# With MIDIUPDATER_GNUSTEP the same sources build on Linux: Foundation from GNUstep base,
# CoreFoundation, CoreMIDI and ImageIO from the stand-ins in Stand-ins/.

if(APPLE)
  enable_language(OBJC OBJCXX)
  add_library(MacFoundation INTERFACE)
  target_link_libraries(MacFoundation INTERFACE "-framework Foundation")
  add_library(MacCoreFoundation INTERFACE)
  target_link_libraries(MacCoreFoundation INTERFACE "-framework CoreFoundation")
  add_library(MacCoreMIDI INTERFACE)
  target_link_libraries(MacCoreMIDI INTERFACE "-framework CoreMIDI" MacCoreFoundation)
  add_library(MacImageIO INTERFACE)
  target_link_libraries(MacImageIO INTERFACE "-framework ImageIO" MacCoreFoundation)
  return()
endif()

# Only GCC's Objective-C runtime exists here, and clang cannot catch C++ exceptions
# in Objective-C++ against it, so both languages go through gcc. CMake wants full paths.
find_program(MIDIUPDATER_GXX g++ REQUIRED)
find_program(MIDIUPDATER_GCC gcc REQUIRED)
set(CMAKE_OBJCXX_COMPILER "${MIDIUPDATER_GXX}")
set(CMAKE_OBJC_COMPILER "${MIDIUPDATER_GCC}")
enable_language(OBJC OBJCXX)

find_program(GNUSTEP_CONFIG gnustep-config REQUIRED)
execute_process(COMMAND "${GNUSTEP_CONFIG}" --objc-flags
                OUTPUT_VARIABLE gnustepObjcFlags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND "${GNUSTEP_CONFIG}" --base-libs
                OUTPUT_VARIABLE gnustepBaseLibs OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
separate_arguments(gnustepObjcFlags UNIX_COMMAND "${gnustepObjcFlags}")
separate_arguments(gnustepBaseLibs UNIX_COMMAND "${gnustepBaseLibs}")

add_library(MacFoundation INTERFACE)
set(objcOnly "$<COMPILE_LANGUAGE:OBJC,OBJCXX>")
foreach(flag IN LISTS gnustepObjcFlags)
  if(flag MATCHES "^-I(.+)$")
    # As system headers: Foundation's own headers alone give over a thousand warnings.
    if(IS_DIRECTORY "${CMAKE_MATCH_1}" AND NOT CMAKE_MATCH_1 STREQUAL ".")
      target_include_directories(MacFoundation SYSTEM INTERFACE "${CMAKE_MATCH_1}")
    endif()
  elseif(flag MATCHES "^-D(.+)$")
    target_compile_definitions(MacFoundation INTERFACE "${CMAKE_MATCH_1}")
  elseif(flag MATCHES "^-f(no-strict-aliasing|exceptions|objc-exceptions|constant-string-class=.*)$")
    target_compile_options(MacFoundation INTERFACE "$<${objcOnly}:${flag}>")
  endif()
  # Dependency files, debug and optimisation levels and warnings stay the build's own.
endforeach()
foreach(flag IN LISTS gnustepBaseLibs)
  if(flag MATCHES "^-L(.+)$")
    if(IS_DIRECTORY "${CMAKE_MATCH_1}")
      target_link_directories(MacFoundation INTERFACE "${CMAKE_MATCH_1}")
    endif()
  elseif(flag MATCHES "^-l")
    target_link_libraries(MacFoundation INTERFACE "${flag}")
  endif()
endforeach()
find_package(Threads REQUIRED)
target_link_libraries(MacFoundation INTERFACE Threads::Threads)

add_subdirectory(Stand-ins/CoreFoundation)
add_library(MacCoreFoundation INTERFACE)
target_link_libraries(MacCoreFoundation INTERFACE CoreFoundation_standin)

add_subdirectory(Stand-ins/CoreMIDI)
add_library(MacCoreMIDI INTERFACE)
target_link_libraries(MacCoreMIDI INTERFACE CoreMIDI_standin)

add_subdirectory(Stand-ins/ImageIO)
add_library(MacImageIO INTERFACE)
target_link_libraries(MacImageIO INTERFACE ImageIO_standin)
