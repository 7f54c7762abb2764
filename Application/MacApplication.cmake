# The Mac program, midi-updater-mac, and its test build, midi-updater-mac-test, as
# application bundles: Apple's layout on a Mac (MACOSX_BUNDLE, compiled interface),
# GNUstep's here (executable at the top, Resources/ beside it with the interface file
# and Info-gnustep.plist). The test build's CoreMIDI is the stand-in with a simulated
# device from MIDI_UPDATER_SIMULATE, and it opens MIDI_UPDATER_OPEN once launched.

set(macAppDir ${CMAKE_CURRENT_LIST_DIR})
set(macAppName "MIDI Updater")
set(macAppIdentifier "org.midi-updater.mac")

# AppKit: the framework on a Mac, GNUstep's gui library here.
add_library(MacAppKit INTERFACE)
if(APPLE)
  target_link_libraries(MacAppKit INTERFACE "-framework Cocoa" MacFoundation)
else()
  execute_process(COMMAND "${GNUSTEP_CONFIG}" --gui-libs
                  OUTPUT_VARIABLE gnustepGuiLibs OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(gnustepGuiLibs UNIX_COMMAND "${gnustepGuiLibs}")
  foreach(flag IN LISTS gnustepGuiLibs)
    if(flag MATCHES "^-lgnustep-gui$")
      target_link_libraries(MacAppKit INTERFACE "${flag}")
    endif()
  endforeach()
  target_link_libraries(MacAppKit INTERFACE MacFoundation)
endif()

set(macAppSources
  ${macAppDir}/main.mm
  ${macAppDir}/LumoAppDelegate.mm
  ${macAppDir}/LumoAppDelegateUpdateProgress.mm
  ${macAppDir}/LumoJobHost.mm
  ${macAppDir}/HeaderImage.mm
)
if(NOT APPLE)
  list(APPEND macAppSources ${macAppDir}/GNUstepCompatibility.mm)
endif()

set(macAppResources
  ${macAppDir}/Resources/Header.png
  ${macAppDir}/Resources/Header@2x.png
  ${macAppDir}/Resources/StopAlert.png
  ${macAppDir}/Resources/StopAlert@2x.png
  ${macAppDir}/Resources/AppIcon.png
  ${macAppDir}/Resources/AppIcon.icns
)

# name: the executable and bundle; hooks: TestHooks.mm for the program,
# TestHooks_Simulated.mm for the test build.
function(midiupdater_mac_bundle name hooks)
  add_executable(${name} MACOSX_BUNDLE ${macAppSources} ${macAppDir}/${hooks})
  target_link_libraries(${name} PRIVATE CoreMidiPort MidiUpdateLib MacAppKit MacImageIO)

  set(BUNDLE_NAME "${macAppName}")
  set(BUNDLE_EXECUTABLE "${name}")
  set(BUNDLE_IDENTIFIER "${macAppIdentifier}.${name}")
  set(BUNDLE_VERSION "${PROJECT_VERSION}")
  set(BUNDLE_MINIMUM_SYSTEM "${CMAKE_OSX_DEPLOYMENT_TARGET}")
  set(SYSEX_TYPE_IDENTIFIER "${macAppIdentifier}.sysex") # imported: whoever else declares .syx wins
  set(BUNDLE_ICON "AppIcon.icns")
  # Made here too, where only the tests read it.
  configure_file(${macAppDir}/Info.plist.in ${CMAKE_CURRENT_BINARY_DIR}/${name}-Info.plist @ONLY)
  if(APPLE)
    set(nib ${CMAKE_CURRENT_BINARY_DIR}/${name}-nib/MainMenu.nib)
    add_custom_command(OUTPUT ${nib}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/${name}-nib
      COMMAND xcrun ibtool --errors --warnings --output-format human-readable-text
              --minimum-deployment-target ${CMAKE_OSX_DEPLOYMENT_TARGET}
              --compile ${nib} ${macAppDir}/MainMenu.xib
      DEPENDS ${macAppDir}/MainMenu.xib VERBATIM)
    target_sources(${name} PRIVATE ${nib} ${macAppResources})
    set_source_files_properties(${nib} ${macAppResources} PROPERTIES MACOSX_PACKAGE_LOCATION Resources)
    set_target_properties(${name} PROPERTIES
      MACOSX_BUNDLE_INFO_PLIST ${CMAKE_CURRENT_BINARY_DIR}/${name}-Info.plist)
  else()
    set(BUNDLE_ICON_PNG "AppIcon.png")
    set(bundle ${CMAKE_CURRENT_BINARY_DIR}/${name}.app)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${bundle})
    configure_file(${macAppDir}/Info-gnustep.plist.in ${bundle}/Resources/Info-gnustep.plist @ONLY)
    set(copies)
    foreach(file ${macAppDir}/MainMenu.xib ${macAppResources})
      get_filename_component(leaf ${file} NAME)
      add_custom_command(OUTPUT ${bundle}/Resources/${leaf}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${file} ${bundle}/Resources/${leaf}
        DEPENDS ${file} VERBATIM)
      list(APPEND copies ${bundle}/Resources/${leaf})
    endforeach()
    add_custom_target(${name}-resources DEPENDS ${copies})
    add_dependencies(${name} ${name}-resources)
  endif()
endfunction()

# Here CoreMIDI is the stand-in for both; on a Mac the test build is not made, as the
# stand-ins are built only where the frameworks are absent.
midiupdater_mac_bundle(midi-updater-mac TestHooks.mm)
if(TARGET CoreMIDI_standin)
  midiupdater_mac_bundle(midi-updater-mac-test TestHooks_Simulated.mm)
  target_link_libraries(midi-updater-mac-test PRIVATE CoreMIDI_standin)
endif()
