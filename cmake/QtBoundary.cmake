# The image code stays off Qt: imaging, formats and the view's display copies
# (display_copy) reach Qt only through platform, which links it privately.
# This walks the usage requirements a target passes on (its own link
# libraries and, recursively, the interface of each) and stops the
# configuration when a Qt target is among them, so a stray Qt6::Gui or
# Qt6::Widgets on these libraries fails the build at once.
# Link-only dependencies (platform's private Qt) carry no include paths and
# are allowed.

# Adds to OUT_VAR the targets whose usage requirements reach a consumer of
# Target; each target is walked once, so cycles end.
function(imbrel_usage_closure target out_var)
  set(todo ${target})
  set(seen "")
  while(todo)
    list(POP_FRONT todo t)
    if(t IN_LIST seen OR NOT TARGET ${t})
      continue()
    endif()
    list(APPEND seen ${t})
    get_target_property(aliased ${t} ALIASED_TARGET)
    if(aliased)
      list(APPEND todo ${aliased})
    endif()
    set(libs "")
    get_target_property(iface ${t} INTERFACE_LINK_LIBRARIES)
    if(iface)
      list(APPEND libs ${iface})
    endif()
    if(t STREQUAL target)
      # The target's own compile sees its PRIVATE libraries too.
      get_target_property(own ${t} LINK_LIBRARIES)
      if(own)
        list(APPEND libs ${own})
      endif()
    endif()
    foreach(l ${libs})
      # $<LINK_ONLY:x> passes no usage requirements; other generator
      # expressions are taken as written.
      if(l MATCHES "^\\$<LINK_ONLY:")
        continue()
      endif()
      string(REGEX REPLACE "^\\$<[A-Z_]+:(.*)>$" "\\1" l "${l}")
      if(TARGET ${l})
        list(APPEND todo ${l})
      endif()
    endforeach()
  endwhile()
  set(${out_var} ${seen} PARENT_SCOPE)
endfunction()

# Stops the configuration when a Qt target is in the usage closure of Target,
# and when Target does not exist: a renamed or removed library must not turn
# the check off unnoticed.
function(imbrel_forbid_qt target)
  if(NOT TARGET ${target})
    message(FATAL_ERROR
            "imbrel_forbid_qt: there is no target ${target} to keep off Qt; "
            "name the library that replaced it in the top CMakeLists.txt")
  endif()
  imbrel_usage_closure(${target} closure)
  set(found "")
  foreach(t ${closure})
    if(t MATCHES "^Qt[0-9]*::")
      list(APPEND found ${t})
    endif()
  endforeach()
  if(found)
    message(FATAL_ERROR
            "${target} must not reach Qt (Qt belongs to platform/), but its usage requirements "
            "bring: ${found}")
  endif()
endfunction()
