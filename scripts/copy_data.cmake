# Copies the loose data files (everything but the folders) from SRC to DST.
file(GLOB entries "${SRC}/*")
foreach(entry IN LISTS entries)
  if(NOT IS_DIRECTORY "${entry}")
    file(COPY "${entry}" DESTINATION "${DST}")
  endif()
endforeach()
