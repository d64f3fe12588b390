# qor_program_version(<executable target> DESCRIPTION <text>)
#
# Gives a program the project version, the one place it is set (project() in the top-level
# CMakeLists.txt): the compile definition QOR_VERSION (a string literal, for --version) and, on
# Windows, a VERSIONINFO resource generated from it, which Explorer shows in the file's
# properties. DESCRIPTION becomes its FileDescription. A program with a resource script of its own
# (icon, menus, manifest) calls this too and leaves VERSIONINFO out of its script: one program
# carries one version resource; a second call for the same target does nothing.
include_guard(GLOBAL)

set(QOR_PRODUCT_NAME "QOR BLE-Z40 Firmware Update")
set(QOR_COMPANY_NAME "Vandrel")

function(qor_program_version target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "DESCRIPTION" "")
    if(NOT ARG_DESCRIPTION)
        message(FATAL_ERROR "qor_program_version: DESCRIPTION is required")
    endif()
    get_target_property(done ${target} QOR_PROGRAM_VERSION)
    if(done)
        return()
    endif()
    set_target_properties(${target} PROPERTIES QOR_PROGRAM_VERSION "${PROJECT_VERSION}")
    target_compile_definitions(${target} PRIVATE QOR_VERSION="${PROJECT_VERSION}")
    if(NOT WIN32)
        return()
    endif()

    get_target_property(name ${target} OUTPUT_NAME)
    if(NOT name)
        set(name ${target})
    endif()
    # The binary version has four 16-bit parts; the missing ones are 0.
    set(numeric "")
    foreach(part IN ITEMS MAJOR MINOR PATCH TWEAK)
        if("${PROJECT_VERSION_${part}}" STREQUAL "")
            list(APPEND numeric 0)
        else()
            list(APPEND numeric ${PROJECT_VERSION_${part}})
        endif()
    endforeach()
    list(JOIN numeric "," QOR_RC_NUMERIC_VERSION)
    set(QOR_RC_VERSION "${PROJECT_VERSION}")
    set(QOR_RC_DESCRIPTION "${ARG_DESCRIPTION}")
    set(QOR_RC_NAME "${name}")

    set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc")
    # Strings are UTF-16 in the resource; "040904B0" is US English, code page 1200 (Unicode).
    file(CONFIGURE OUTPUT "${rc}" @ONLY CONTENT [[
// Generated from the project version: do not edit.
#include <winver.h>

VS_VERSION_INFO VERSIONINFO
FILEVERSION @QOR_RC_NUMERIC_VERSION@
PRODUCTVERSION @QOR_RC_NUMERIC_VERSION@
FILEFLAGSMASK VS_FFI_FILEFLAGSMASK
FILEFLAGS 0
FILEOS VOS_NT_WINDOWS32
FILETYPE VFT_APP
FILESUBTYPE VFT2_UNKNOWN
BEGIN
    BLOCK "StringFileInfo"
    BEGIN
        BLOCK "040904B0"
        BEGIN
            VALUE "CompanyName", "@QOR_COMPANY_NAME@"
            VALUE "FileDescription", "@QOR_RC_DESCRIPTION@"
            VALUE "FileVersion", "@QOR_RC_VERSION@"
            VALUE "InternalName", "@QOR_RC_NAME@"
            VALUE "OriginalFilename", "@QOR_RC_NAME@.exe"
            VALUE "ProductName", "@QOR_PRODUCT_NAME@"
            VALUE "ProductVersion", "@QOR_RC_VERSION@"
        END
    END
    BLOCK "VarFileInfo"
    BEGIN
        VALUE "Translation", 0x0409, 1200
    END
END
]])
    target_sources(${target} PRIVATE "${rc}")
endfunction()
