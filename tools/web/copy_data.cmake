# Copies the data set (DATA) into SITE/data and writes SITE/data/files.txt,
# one file name a line, which the page fetches the files by. Run with
# cmake -DDATA=... -DSITE=... -P copy_data.cmake.
file(GLOB names RELATIVE ${DATA} ${DATA}/*)
list(SORT names)
file(REMOVE_RECURSE ${SITE}/data)
file(MAKE_DIRECTORY ${SITE}/data)
set(list "")
foreach(name ${names})
  if(NOT IS_DIRECTORY ${DATA}/${name} AND NOT name MATCHES "^\\.")
    file(COPY ${DATA}/${name} DESTINATION ${SITE}/data)
    string(APPEND list "${name}\n")
  endif()
endforeach()
file(WRITE ${SITE}/data/files.txt "${list}")
