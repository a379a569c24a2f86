# Windows finds a program's DLLs beside the program, so every installed folder that holds a
# program receives the DLLs its programs load (Qt's, the compiler's run-time, and whatever
# those load in turn: QtWebKit's libraries with a Qt that has it) and the Qt plugins they need.
# The DLLs are read from the import tables at install time, so any Qt and compiler deploy
# what they need; names not found in Qt's or the compiler's folders are Windows' own.

set(LAUNCHER_PLUGINS
    platforms Qt5::QWindowsIntegrationPlugin
    styles Qt5::QWindowsVistaStylePlugin
    # Pictures of the site page other than PNG.
    imageformats Qt5::QJpegPlugin
    imageformats Qt5::QGifPlugin)

set(LAUNCHER_DLL_DIRS "$<TARGET_FILE_DIR:Qt5::Core>")
if(MINGW)
    if(NOT CMAKE_CROSSCOMPILING)
        get_filename_component(compiler_dir ${CMAKE_CXX_COMPILER} DIRECTORY) # a MinGW's bin
        list(APPEND LAUNCHER_DLL_DIRS ${compiler_dir})
    endif()
    foreach(dll libstdc++-6.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
            OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
        get_filename_component(found ${found} DIRECTORY)
        list(APPEND LAUNCHER_DLL_DIRS ${found})
    endforeach()
elseif(MSVC)
    set(CMAKE_INSTALL_SYSTEM_RUNTIME_LIBS_SKIP TRUE)
    include(InstallRequiredSystemLibraries)
endif()

# launcher_deploy_runtime(DESTINATION target...)
function(launcher_deploy_runtime destination)
    set(programs)
    foreach(target ${ARGN})
        list(APPEND programs "\${CMAKE_INSTALL_PREFIX}/${destination}/$<TARGET_FILE_NAME:${target}>")
    endforeach()
    set(plugins)
    set(pairs ${LAUNCHER_PLUGINS})
    while(pairs)
        list(POP_FRONT pairs folder plugin)
        if(TARGET ${plugin})
            install(FILES $<TARGET_FILE:${plugin}> DESTINATION ${destination}/${folder})
            list(APPEND plugins "$<TARGET_FILE:${plugin}>")
        endif()
    endwhile()
    if(CMAKE_INSTALL_SYSTEM_RUNTIME_LIBS)
        install(PROGRAMS ${CMAKE_INSTALL_SYSTEM_RUNTIME_LIBS} DESTINATION ${destination})
    endif()
    install(CODE "
        set(destination \"\${CMAKE_INSTALL_PREFIX}/${destination}\")
        set(dll_dirs \"${LAUNCHER_DLL_DIRS}\")
        set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
        if(\"${MINGW}\")
            set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
            set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND \"${CMAKE_OBJDUMP}\")
        endif()
        if(CMAKE_HOST_UNIX)
            # The lookup asks for DLL names in lower case: give it lower-case links to them.
            set(links \"${CMAKE_BINARY_DIR}/dll-links\")
            file(REMOVE_RECURSE \${links})
            file(MAKE_DIRECTORY \${links})
            foreach(dir \${dll_dirs})
                file(GLOB dlls \"\${dir}/*.dll\")
                foreach(dll \${dlls})
                    get_filename_component(name \${dll} NAME)
                    string(TOLOWER \${name} name)
                    if(NOT EXISTS \${links}/\${name}) # the first folder wins, as in the lookup
                        file(CREATE_LINK \${dll} \${links}/\${name} SYMBOLIC)
                    endif()
                endforeach()
            endforeach()
            set(dll_dirs \${links})
        endif()
        file(GET_RUNTIME_DEPENDENCIES
            EXECUTABLES ${programs}
            MODULES ${plugins}
            DIRECTORIES \${dll_dirs}
            PRE_EXCLUDE_REGEXES [[^api-ms-]] [[^ext-ms-]]
            POST_EXCLUDE_REGEXES [=[[/\\\\][Ss][Yy][Ss][Tt][Ee][Mm]32[/\\\\]]=]
            RESOLVED_DEPENDENCIES_VAR dlls
            UNRESOLVED_DEPENDENCIES_VAR windows_dlls)
        list(FILTER windows_dlls INCLUDE REGEX [[^(qt5|lib)]])
        if(windows_dlls)
            message(FATAL_ERROR \"Not in Qt's or the compiler's folders: \${windows_dlls}\")
        endif()
        foreach(dll \${dlls})
            file(REAL_PATH \${dll} dll)
            file(INSTALL \${dll} DESTINATION \${destination})
            get_filename_component(name \${dll} NAME)
            if(CMAKE_INSTALL_DO_STRIP AND EXISTS \"${CMAKE_STRIP}\") # the compiler's run-time has symbols
                execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded \${destination}/\${name})
            endif()
        endforeach()
    ")
endfunction()
