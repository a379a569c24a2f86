# cmake --install lays out a ready game folder, and CPack packs it into one archive:
#   hardwaredetect.exe, ZARK.exe         the stand-ins for the studio's tool and game, in the root
#   Launcher/Launcher.exe                the launcher, started with Launcher/ as working directory
#   Launcher/images/, launcher_cn.qm     its pictures and catalogue, found beside it
#   Launcher/launcher.ini                the site configuration, to be edited for the real servers
# The file names are the ones the launcher and the update servers use on every platform.

set(LAUNCHER_INSTALL_DIR Launcher)

install(TARGETS Launcher RUNTIME DESTINATION ${LAUNCHER_INSTALL_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/images/ DESTINATION ${LAUNCHER_INSTALL_DIR}/images
    FILES_MATCHING PATTERN "*.png"
    PATTERN "src" EXCLUDE)
install(FILES ${CMAKE_BINARY_DIR}/bin/launcher_cn.qm DESTINATION ${LAUNCHER_INSTALL_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/launcher.ini DESTINATION ${LAUNCHER_INSTALL_DIR})

install(TARGETS hardwaredetect RUNTIME DESTINATION .)
if(TARGET zark)
    install(TARGETS zark RUNTIME DESTINATION .)
endif()
if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/DeployRuntime.cmake)
    launcher_deploy_runtime(${LAUNCHER_INSTALL_DIR} Launcher)
    launcher_deploy_runtime(. hardwaredetect zark)
endif()

set(CPACK_PACKAGE_NAME ZARK)
set(CPACK_PACKAGE_VENDOR "ZARK")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ZARK with its launcher")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME "ZARK-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}")
# The archive unpacks into one folder: the game folder.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
if(WIN32)
    set(CPACK_GENERATOR ZIP)
else()
    set(CPACK_GENERATOR TGZ)
endif()
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")
include(CPack)
