# Windows resources for the tree's programs.
#
#   vzr_add_windows_resources(TARGET DESCRIPTION "text"
#                             [ICON file.ico] [ICON_ID n] [GUI])
#
# gives TARGET a version resource from the project's version, an application
# manifest (UTF-8 code page, long paths, Windows 10 and 11) and, with ICON,
# that icon (id ICON_ID, 1 unless given; the lowest id is the one Explorer
# shows). GUI adds the common controls v6 and per-monitor DPI awareness to
# the manifest. Outside a Windows build it does nothing, so a CMakeLists can
# call it unconditionally.
# (CMake enables the resource compiler, windres, by itself in a mingw-w64
# build.)
include_guard(GLOBAL)
set(VZR_WINDOWS_DIR ${CMAKE_CURRENT_LIST_DIR})

function(vzr_add_windows_resources target)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 1 arg "GUI" "DESCRIPTION;ICON;ICON_ID" "")
  if(NOT arg_DESCRIPTION)
    message(FATAL_ERROR "vzr_add_windows_resources(${target}): DESCRIPTION is required")
  endif()
  get_target_property(VZR_RC_NAME ${target} OUTPUT_NAME)
  if(NOT VZR_RC_NAME)
    set(VZR_RC_NAME ${target})
  endif()

  # A version such as 2.05 becomes 2,5,0,0 in the binary fields; the strings
  # keep it as written.
  set(parts)
  foreach(part IN ITEMS MAJOR MINOR PATCH TWEAK)
    set(value "${PROJECT_VERSION_${part}}")
    if(value STREQUAL "")
      set(value 0)
    endif()
    math(EXPR value "${value} + 0")
    list(APPEND parts ${value})
  endforeach()
  list(JOIN parts "," VZR_RC_VERSION_COMMAS)
  list(JOIN parts "." VZR_MANIFEST_VERSION)

  set(VZR_MANIFEST_NAME ${VZR_RC_NAME})
  set(VZR_MANIFEST_DESCRIPTION "${arg_DESCRIPTION}")
  set(VZR_MANIFEST_GUI_SETTINGS "")
  set(VZR_MANIFEST_GUI_DEPENDENCY "")
  if(arg_GUI)
    set(VZR_MANIFEST_GUI_SETTINGS
"      <dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>
      <dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, PerMonitor</dpiAwareness>")
    set(VZR_MANIFEST_GUI_DEPENDENCY
"  <dependency>
    <dependentAssembly>
      <assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"
                        processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>
    </dependentAssembly>
  </dependency>")
  endif()
  set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
  configure_file(${VZR_WINDOWS_DIR}/app.manifest.in ${manifest} @ONLY)

  set(VZR_RC_DESCRIPTION "${arg_DESCRIPTION}")
  set(VZR_RC_MANIFEST ${manifest})
  set(VZR_RC_ICON_LINE "")
  set(depends ${manifest})
  if(arg_ICON)
    if(NOT arg_ICON_ID)
      set(arg_ICON_ID 1)
    endif()
    set(VZR_RC_ICON_LINE "${arg_ICON_ID} ICON \"${arg_ICON}\"")
    list(APPEND depends ${arg_ICON})
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.rc)
  configure_file(${VZR_WINDOWS_DIR}/vzr.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  # windres reads the manifest and icon itself: a change to either rebuilds.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${depends}")
endfunction()
