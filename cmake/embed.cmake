# Embeds the status page and the brand icon into the program.
#
# Include from the top-level CMakeLists.txt:
#
#   include(cmake/embed.cmake)
#   nerova_embed_assets(nerova_assets)   # static library behind src/assets/assets.h
#   nerova_add_windows_resources(<exe>)  # Windows only: icon-group 1, manifest, version
#
# nerova_embed_assets(<target>) makes a static library <target> whose one
# generated source holds, as byte arrays:
#   assets/status.html  with @NEROVA_MAIN_SITE_URL@ replaced -> status_page_html()
#   assets/icon-256.png                                      -> icon_png()
#   assets/brand.ico                                         -> brand_ico()
#   the value of NEROVA_MAIN_SITE_URL                        -> main_site_url()
# The library puts src/ on its users' include path (#include "assets/assets.h").
# The source is regenerated at build time whenever an asset changes.
#
# nerova_add_windows_resources(<target>) adds assets/brand.rc to a Windows
# executable: the brand icon, the application manifest and a version resource
# that carries the project's version (project(... VERSION ...)). The top level
# must have enabled the RC language (enable_language(RC)) in the Windows build.
#
# Run as a script (cmake -P embed.cmake, which the build does) it writes that
# source; the inputs come in as -D variables, see _nerova_write_assets_source.
# Only CMake itself reads the files, so no xxd or host tool is needed and the
# same step serves native and cross builds.

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.18)
else()
  set(NEROVA_MAIN_SITE_URL "https://nerova.example.com" CACHE STRING
      "Address of the product's main web site, linked from the status page and the tray menu")
endif()

function(nerova_embed_assets target)
  get_filename_component(root "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/.." ABSOLUTE)
  set(gen_dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_gen")

  # The address lands in an HTML attribute and a C++ array; refuse anything
  # that would need escaping in either rather than escape it.
  if(NOT NEROVA_MAIN_SITE_URL MATCHES "^https?://[^\"'<>&\\\\ \t\r\n]+$")
    message(FATAL_ERROR "NEROVA_MAIN_SITE_URL must be a plain http(s) URL, got '${NEROVA_MAIN_SITE_URL}'")
  endif()

  # configure_file and file(CONFIGURE) rewrite only on change, so a new
  # address rebuilds the library and an unchanged one does not.
  configure_file("${root}/assets/status.html" "${gen_dir}/status.html" @ONLY)
  file(CONFIGURE OUTPUT "${gen_dir}/main_site_url.txt" CONTENT "@NEROVA_MAIN_SITE_URL@" @ONLY)

  set(inputs
    "${gen_dir}/status.html"
    "${root}/assets/icon-256.png"
    "${root}/assets/brand.ico"
    "${gen_dir}/main_site_url.txt")
  set(output "${gen_dir}/assets_data.cpp")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND "${CMAKE_COMMAND}"
      "-DNEROVA_EMBED_OUTPUT=${output}"
      "-DNEROVA_EMBED_HTML=${gen_dir}/status.html"
      "-DNEROVA_EMBED_PNG=${root}/assets/icon-256.png"
      "-DNEROVA_EMBED_ICO=${root}/assets/brand.ico"
      "-DNEROVA_EMBED_URL=${gen_dir}/main_site_url.txt"
      -P "${CMAKE_CURRENT_FUNCTION_LIST_FILE}"
    DEPENDS ${inputs} "${CMAKE_CURRENT_FUNCTION_LIST_FILE}"
    COMMENT "Embedding the status page and the brand icon"
    VERBATIM)

  add_library(${target} STATIC "${output}" "${root}/src/assets/assets.h")
  target_include_directories(${target} PUBLIC "${root}/src")
  target_compile_features(${target} PUBLIC cxx_std_17)
endfunction()

function(nerova_add_windows_resources target)
  if(NOT WIN32)
    return()
  endif()
  get_filename_component(root "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/.." ABSOLUTE)
  set(gen_dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources")
  set(NEROVA_MANIFEST_FILE "${gen_dir}/NerovaBridge.exe.manifest")
  configure_file("${root}/assets/NerovaBridge.exe.manifest" "${NEROVA_MANIFEST_FILE}" @ONLY)
  configure_file("${root}/assets/nerova_version.h.in" "${gen_dir}/nerova_version.h" @ONLY)
  target_sources(${target} PRIVATE "${root}/assets/brand.rc")
  target_include_directories(${target} PRIVATE "${gen_dir}")
  # windres finds brand.ico beside the script, but no dependency scanner sees an ICON or a
  # manifest statement: say it here so a redrawn icon or a new version relinks the program.
  set_source_files_properties("${root}/assets/brand.rc" TARGET_DIRECTORY ${target}
    PROPERTIES OBJECT_DEPENDS "${root}/assets/brand.ico;${NEROVA_MANIFEST_FILE};${gen_dir}/nerova_version.h")
endfunction()

# Appends to `out_var` a C++ array definition `name` holding the bytes of
# `file` plus a trailing NUL (so no array is ever empty); sets `size_var` to
# the byte count without that NUL.
function(_nerova_append_array out_var size_var name file)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # CMake regexes have no {n}: spell out sixteen bytes a line.
  string(REPEAT "0x..," 16 line)
  string(REGEX REPLACE "(${line})" "\\1\n" bytes "${bytes}")
  set(${out_var} "${${out_var}}const unsigned char ${name}[${size} + 1] = {\n${bytes}0x00};\n\n" PARENT_SCOPE)
  set(${size_var} ${size} PARENT_SCOPE)
endfunction()

function(_nerova_write_assets_source)
  foreach(var NEROVA_EMBED_OUTPUT NEROVA_EMBED_HTML NEROVA_EMBED_PNG NEROVA_EMBED_ICO NEROVA_EMBED_URL)
    if(NOT DEFINED ${var})
      message(FATAL_ERROR "embed.cmake: ${var} is not set")
    endif()
  endforeach()

  set(arrays "")
  _nerova_append_array(arrays html_size STATUS_PAGE_BYTES "${NEROVA_EMBED_HTML}")
  _nerova_append_array(arrays png_size ICON_PNG_BYTES "${NEROVA_EMBED_PNG}")
  _nerova_append_array(arrays ico_size BRAND_ICO_BYTES "${NEROVA_EMBED_ICO}")
  _nerova_append_array(arrays url_size MAIN_SITE_URL_BYTES "${NEROVA_EMBED_URL}")

  set(source "// Generated by cmake/embed.cmake from assets/. Do not edit.
#include \"assets/assets.h\"

#include <cstddef>

namespace nerova::assets {
namespace {

${arrays}std::string_view view_of(const unsigned char* bytes, std::size_t size) {
    return {reinterpret_cast<const char*>(bytes), size};
}

}  // namespace

std::string_view status_page_html() { return view_of(STATUS_PAGE_BYTES, ${html_size}); }
std::string_view icon_png() { return view_of(ICON_PNG_BYTES, ${png_size}); }
std::string_view brand_ico() { return view_of(BRAND_ICO_BYTES, ${ico_size}); }
std::string_view main_site_url() { return view_of(MAIN_SITE_URL_BYTES, ${url_size}); }

}  // namespace nerova::assets
")
  # Write through a temporary name so an interrupted run leaves no half file.
  file(WRITE "${NEROVA_EMBED_OUTPUT}.tmp" "${source}")
  file(RENAME "${NEROVA_EMBED_OUTPUT}.tmp" "${NEROVA_EMBED_OUTPUT}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  _nerova_write_assets_source()
endif()
