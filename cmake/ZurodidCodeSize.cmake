# Code that runs once or on a click rather than over every row of the diary: compiled for size
# in every build but Debug (the Debian package's included). The agent's executable is resident
# whole from its start (the kernel maps the pages around each one touched), so the size of its
# code is memory the agent holds.
function(zurodid_size_over_speed target)
  target_compile_options(${target} PRIVATE $<$<NOT:$<CONFIG:Debug>>:-Os>)
endfunction()
# The same for the named sources of `target` alone: the rest of it runs over every row.
function(zurodid_size_over_speed_sources target)
  set_source_files_properties(${ARGN} TARGET_DIRECTORY ${target}
                              PROPERTIES COMPILE_OPTIONS $<$<NOT:$<CONFIG:Debug>>:-Os>)
endfunction()
