# Fails when an object file of the models refers to a C library function
# that the models replace with their own (fixed_exp, fixed_log, fixed_pow):
# those give different last bits on different platforms and processors.
#   cmake -DNM=<nm> -DOBJECTS=<a|b|...> -P no_library_math.cmake
string(REPLACE "|" ";" objects "${OBJECTS}")
set(checked 0)
foreach(object IN LISTS objects)
  if(NOT object MATCHES "/(models|estimate)/")
    continue()
  endif()
  execute_process(COMMAND "${NM}" -u "${object}" OUTPUT_VARIABLE undefined
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${object}")
  endif()
  math(EXPR checked "${checked} + 1")
  string(REGEX MATCHALL "[ \t]U (exp|log|pow|__exp_finite|__log_finite|__pow_finite)[@\n]" found
         "${undefined}\n")
  if(found)
    message(SEND_ERROR "${object} calls the C library's ${found}")
  endif()
endforeach()
if(checked LESS 10)
  message(FATAL_ERROR "only ${checked} model objects found")
endif()
message(STATUS "${checked} model objects call none of exp, log and pow of the C library")
