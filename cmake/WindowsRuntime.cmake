# Windows finds a program's DLLs beside it: Qt's libraries, its plugins and the C++ runtime are
# copied next to the executables of bin/ and tests/, so that both run from the build folder (under
# Wine on the build machine) and bin/ holds everything the Windows package ships.

set(dbsetup_runtime_dlls)
foreach(library libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${library}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "The C++ runtime's ${library} was not found beside ${CMAKE_CXX_COMPILER}")
    endif()
    list(APPEND dbsetup_runtime_dlls ${path})
endforeach()

set(dbsetup_qt_dlls $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
                    $<TARGET_FILE:Qt6::Xml>)
set(dbsetup_platform_plugins $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>
                             $<TARGET_FILE:Qt6::QOffscreenIntegrationPlugin>)
set(dbsetup_style_plugins $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin>)

set(dbsetup_copy_commands)
foreach(dir ${CMAKE_BINARY_DIR}/bin ${CMAKE_BINARY_DIR}/tests)
    list(APPEND dbsetup_copy_commands
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/platforms ${dir}/styles
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${dbsetup_runtime_dlls} ${dbsetup_qt_dlls}
                ${dir}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${dbsetup_platform_plugins} ${dir}/platforms
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${dbsetup_style_plugins} ${dir}/styles)
endforeach()
list(APPEND dbsetup_copy_commands COMMAND ${CMAKE_COMMAND} -E copy_if_different
     $<TARGET_FILE:Qt6::Test> ${CMAKE_BINARY_DIR}/tests)
add_custom_target(windows_runtime ALL ${dbsetup_copy_commands} VERBATIM)
