# Driver of the installation tests, run with cmake -P. STEP selects:
#   install   installs BUILD_DIR into PREFIX (cleared first) with
#             `cmake --install` and checks that every installed part is
#             where users look for it;
#   consumer  configures, builds and runs the project in CONSUMER_DIR
#             against PREFIX, found through VARIANT (find_package or
#             pkg-config), in WORK_DIR;
#   tool      runs the installed zep tool: it lists the installed formats
#             and moves an image through both installed modules.
# Every failure ends the script with FATAL_ERROR, which fails the test.

function(run)
  cmake_parse_arguments(R "" "WORKING_DIRECTORY;OUTPUT" "COMMAND" ${ARGN})
  if(NOT R_WORKING_DIRECTORY)
    set(R_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  execute_process(COMMAND ${R_COMMAND} WORKING_DIRECTORY ${R_WORKING_DIRECTORY}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " shown "${R_COMMAND}")
    message(FATAL_ERROR "`${shown}` failed (${rc}):\n${out}\n${err}")
  endif()
  if(R_OUTPUT)
    set(${R_OUTPUT} "${out}" PARENT_SCOPE)
  endif()
endfunction()

# The tool's plug-in search must see the installed modules only.
set(ENV{ZEP_PLUGIN_PATH} "${PREFIX}/${PLUGINDIR}")

if(STEP STREQUAL "install")
  file(REMOVE_RECURSE ${PREFIX})
  run(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX} --config ${CONFIG})
  set(expected
    ${INCLUDEDIR}/zep/zep.h ${INCLUDEDIR}/zep/image.h ${INCLUDEDIR}/zep/rla.h
    ${LIBDIR}/libzep.so ${LIBDIR}/libzep.so.${SOVERSION}
    ${PLUGINDIR}/rla.so ${PLUGINDIR}/rlb.so
    ${LIBDIR}/cmake/zep/zepConfig.cmake ${LIBDIR}/cmake/zep/zepConfigVersion.cmake
    ${LIBDIR}/cmake/zep/zepTargets.cmake ${LIBDIR}/pkgconfig/zep.pc
    ${EXTRA_FILES})
  foreach(f IN LISTS expected)
    if(NOT EXISTS ${PREFIX}/${f})
      message(FATAL_ERROR "not installed: ${f}")
    endif()
  endforeach()
  # Nothing of the source or build tree may leak into what is installed
  # (the prefix itself lies in the build tree).
  foreach(f ${LIBDIR}/pkgconfig/zep.pc ${LIBDIR}/cmake/zep/zepConfig.cmake
      ${LIBDIR}/cmake/zep/zepTargets.cmake)
    file(READ ${PREFIX}/${f} text)
    string(REPLACE "${PREFIX}" "<prefix>" text "${text}")
    foreach(tree ${BUILD_DIR} ${SOURCE_DIR})
      string(FIND "${text}" "${tree}" at)
      if(NOT at EQUAL -1)
        message(FATAL_ERROR "${f} names ${tree}:\n${text}")
      endif()
    endforeach()
  endforeach()
  file(STRINGS ${PREFIX}/${LIBDIR}/pkgconfig/zep.pc prefix_line REGEX "^prefix=")
  if(NOT prefix_line STREQUAL "prefix=${PREFIX}")
    message(FATAL_ERROR "zep.pc has `${prefix_line}`, expected prefix=${PREFIX}")
  endif()

elseif(STEP STREQUAL "consumer")
  file(REMOVE_RECURSE ${WORK_DIR})
  file(MAKE_DIRECTORY ${WORK_DIR})
  set(args -S ${CONSUMER_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=${C_COMPILER} "-DCMAKE_C_FLAGS=${C_FLAGS}"
    -DZEP_CONSUMER=${VARIANT} -DZEP_EXPECTED_PREFIX=${PREFIX}
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
  if(VARIANT STREQUAL "find_package")
    list(APPEND args -DCMAKE_PREFIX_PATH=${PREFIX})
    unset(ENV{PKG_CONFIG_PATH})
  else()
    set(ENV{PKG_CONFIG_PATH} ${PREFIX}/${LIBDIR}/pkgconfig)
  endif()
  unset(ENV{CMAKE_PREFIX_PATH})
  unset(ENV{ZEP_PLUGIN_PATH}) # the consumer names its plug-in folder itself
  run(COMMAND ${CMAKE_COMMAND} ${args})
  run(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
  run(COMMAND ${WORK_DIR}/build/consumer WORKING_DIRECTORY ${WORK_DIR} OUTPUT out)
  message(STATUS "${out}")
  if(NOT out MATCHES "rla: 0 samples differ\nmem: 0 samples differ\nconsumer: ok\n")
    message(FATAL_ERROR "unexpected output of the consumer:\n${out}")
  endif()
  if(NOT EXISTS ${WORK_DIR}/consumer.rla)
    message(FATAL_ERROR "the consumer wrote no RLA file")
  endif()

elseif(STEP STREQUAL "tool")
  run(COMMAND ${PREFIX}/${BINDIR}/zep formats OUTPUT out)
  message(STATUS "${out}")
  foreach(key rla rlb mem pipe)
    if(NOT out MATCHES "(^|\n)[ \t]*${key}[ \t]")
      message(FATAL_ERROR "the installed tool does not list ${key}:\n${out}")
    endif()
  endforeach()
  # An image through both installed modules: written as RLA, converted to
  # the older variant, compared equal (diff exits 0 only then).
  set(dir ${PREFIX}/../tool_work)
  file(REMOVE_RECURSE ${dir})
  file(MAKE_DIRECTORY ${dir})
  run(COMMAND ${PREFIX}/${BINDIR}/zep pattern p.rla WORKING_DIRECTORY ${dir})
  run(COMMAND ${PREFIX}/${BINDIR}/zep convert p.rla p.rlb WORKING_DIRECTORY ${dir})
  run(COMMAND ${PREFIX}/${BINDIR}/zep diff p.rla p.rlb WORKING_DIRECTORY ${dir})

else()
  message(FATAL_ERROR "unknown STEP ${STEP}")
endif()
