# One warning level for the whole tree; warnings are errors so that both
# builds stay clean.
function(tarnwick_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                         -Wcast-align -Wunused -Woverloaded-virtual -Wformat=2 -Werror)
endfunction()
