# Installed layout. Every program looks for DefaultCfg/ and help/ in its own folder (the
# folder of /proc/self/exe), so all programs go into one program folder together with
# those two folders, as in the build tree's bin/. The commands users type are symbolic
# links in the binary folder; /proc/self/exe names the link's target, so a program
# started through its link still finds its folder.
include(GNUInstallDirs)

set(VELLUMARK_INSTALL_DIR lib/vellumark CACHE STRING
  "Program folder, relative to the install prefix: the programs, DefaultCfg/ and help/")

set(link_dir ${CMAKE_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${link_dir})
file(RELATIVE_PATH link_to_program_dir
  ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${VELLUMARK_INSTALL_DIR})

# Installs a program into the program folder; with LINK also a link to it in the binary folder.
function(vellumark_install_program target)
  cmake_parse_arguments(P "LINK" "" "" ${ARGN})
  if(NOT TARGET ${target})
    return()
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${VELLUMARK_INSTALL_DIR})
  if(P_LINK)
    file(CREATE_LINK ${link_to_program_dir}/${target} ${link_dir}/${target} SYMBOLIC)
    install(FILES ${link_dir}/${target} DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endfunction()

# The engine is started by the other programs only, so it gets no link of its own.
vellumark_install_program(rastrix)
vellumark_install_program(vellumark-batch LINK)
vellumark_install_program(vellumark-service LINK)
vellumark_install_program(vellumark LINK)
vellumark_install_program(vellumark-support LINK)

# The shipped defaults as the build assembled them (with the built reference database).
install(DIRECTORY ${VELLUMARK_PROGRAM_DIR}/DefaultCfg
  DESTINATION ${VELLUMARK_INSTALL_DIR}
  PATTERN .stamp EXCLUDE)

# The HTML help, when the source tree has it.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/help DESTINATION ${VELLUMARK_INSTALL_DIR} OPTIONAL)

# The Slurm scripts that run a backlog as a job array (docs/farm.md).
install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/slurm/submit-farm.sh ${CMAKE_SOURCE_DIR}/scripts/slurm/vellumark-farm.sbatch
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/vellumark/slurm)

file(GLOB docs ${CMAKE_SOURCE_DIR}/docs/*.md)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${docs} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vellumark)
