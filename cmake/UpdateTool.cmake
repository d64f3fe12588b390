# qor_carry_update_tool(<executable target>)
#
# Puts the DFU tool program into the executable as the resource "UPDATE_PROG", which the update
# run writes out and starts for kind-5 images: an RCDATA resource on Windows, elsewhere the
# embedded bytes registered under that name at start-up.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/Embed.cmake)

function(qor_carry_update_tool target)
    add_dependencies(${target} qor_ble_dfu)
    if(WIN32)
        # The resource compiler reads a copy beside the script, so a rebuilt tool is picked up.
        set(copy "${CMAKE_CURRENT_BINARY_DIR}/${target}_update_prog.exe")
        set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_update_prog.rc")
        add_custom_command(OUTPUT "${copy}"
                           COMMAND ${CMAKE_COMMAND} -E copy "$<TARGET_FILE:qor_ble_dfu>" "${copy}"
                           DEPENDS qor_ble_dfu VERBATIM)
        file(WRITE "${rc}" "UPDATE_PROG RCDATA \"${copy}\"\n")
        target_sources(${target} PRIVATE "${rc}" "${copy}")
        set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS "${copy}")
    else()
        set(lib ${target}_update_prog)
        add_library(${lib} OBJECT)
        qor_embed_binary(TARGET ${lib} SYMBOL updateProg FILE "$<TARGET_FILE:qor_ble_dfu>"
                         DEPENDS qor_ble_dfu)
        set(reg "${CMAKE_CURRENT_BINARY_DIR}/${target}_update_prog_registration.cpp")
        file(WRITE "${reg}" [[
// Generated: registers the embedded DFU tool as the resource "UPDATE_PROG".
#include "embedded/updateProg.h"
#include "platform/Resource.h"

namespace {
const auto bytes = qor::embedded::updateProg();
const qor::platform::ResourceRegistration registration("UPDATE_PROG", bytes.data(), bytes.size());
}  // namespace
]])
        target_sources(${lib} PRIVATE "${reg}")
        target_include_directories(${lib} PRIVATE ${PROJECT_SOURCE_DIR})
        target_link_libraries(${target} PRIVATE ${lib})
    endif()
endfunction()
