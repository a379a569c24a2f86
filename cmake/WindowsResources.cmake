# Launcher.exe takes its icon and manifest from resources/launcher.rc (added in app/).
if(NOT WIN32 OR NOT TARGET Launcher)
    return()
endif()
set(LAUNCHER_RC ${PROJECT_SOURCE_DIR}/resources/launcher.rc)
if(NOT EXISTS ${LAUNCHER_RC})
    return()
endif()
# The resource file carries the manifest; MSVC's linker would embed a second one.
if(MSVC)
    target_link_options(Launcher PRIVATE /MANIFEST:NO)
endif()
# The resource compiler reads these files, but the build does not scan .rc files for them.
if(NOT CMAKE_VERSION VERSION_LESS 3.18)
    set_source_files_properties(${LAUNCHER_RC} DIRECTORY ${PROJECT_SOURCE_DIR}/app PROPERTIES
        OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/resources/launcher.ico;${PROJECT_SOURCE_DIR}/resources/Launcher.manifest")
endif()
