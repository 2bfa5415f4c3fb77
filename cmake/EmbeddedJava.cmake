# The bridge class and the ready-made program service, compiled here and carried inside the
# program as byte arrays (jvm/embedded_classes.cpp defines them into a VM whose class path lacks
# them). Sets BRONTEL_EMBEDDED_CLASSES_SOURCE, the generated C++ file.
set(embedded_dir ${CMAKE_BINARY_DIR}/embedded)
set(BRONTEL_EMBEDDED_CLASSES_SOURCE ${embedded_dir}/embedded_class_data.cpp)
file(GLOB BRONTEL_EMBEDDED_JAVA CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/java/src/com/vantero/core/orb/*.java)
find_program(BRONTEL_EMBED_JAVAC javac HINTS ${BRONTEL_JAVA_HOME}/bin NO_DEFAULT_PATH)
if(BRONTEL_EMBED_JAVAC AND BRONTEL_EMBEDDED_JAVA)
  add_custom_command(
    OUTPUT ${BRONTEL_EMBEDDED_CLASSES_SOURCE}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${embedded_dir}/classes
    COMMAND ${CMAKE_COMMAND} -E make_directory ${embedded_dir}/classes
    COMMAND ${BRONTEL_EMBED_JAVAC} --release 8 -Xlint:-options -d ${embedded_dir}/classes ${BRONTEL_EMBEDDED_JAVA}
    COMMAND ${CMAKE_COMMAND} -DCLASSES=${embedded_dir}/classes -DOUTPUT=${BRONTEL_EMBEDDED_CLASSES_SOURCE}
            -P ${CMAKE_SOURCE_DIR}/cmake/embed_classes.cmake
    DEPENDS ${BRONTEL_EMBEDDED_JAVA} ${CMAKE_SOURCE_DIR}/cmake/embed_classes.cmake
    COMMENT "Embedding the bridge and program service classes")
else()
  # Without javac the program carries no classes: brontel.jar must then be on the class path.
  message(STATUS "javac not found under ${BRONTEL_JAVA_HOME}: the program carries no Java classes")
  execute_process(COMMAND ${CMAKE_COMMAND} -DCLASSES=${embedded_dir}/none
                  -DOUTPUT=${BRONTEL_EMBEDDED_CLASSES_SOURCE} -P ${CMAKE_SOURCE_DIR}/cmake/embed_classes.cmake)
endif()
