# Builds modburn.jar: the classes jar with libmodburn.so added at the entry where the loader of
# Switch looks for this platform's library, which the compiled classes themselves name. With
# STRIP, the jar's copy goes without debugging information (a build's own library keeps it).
#   cmake -DJAVA=java -DJAR=jar -DCLASSES=modburn-classes.jar -DLIBRARY=libmodburn.so -DOUTPUT=modburn.jar
#         [-DSTRIP=strip] -P native-jar.cmake
execute_process(COMMAND ${JAVA} -cp ${CLASSES} com.corvane.qel.deployer.modburn.NativeLibrary
  OUTPUT_VARIABLE entry OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(stage ${OUTPUT}.stage)
file(REMOVE_RECURSE ${stage})
get_filename_component(folder ${entry} DIRECTORY)
file(MAKE_DIRECTORY ${stage}/${folder})
if(STRIP)
  execute_process(COMMAND ${STRIP} --strip-debug -o ${stage}/${entry} ${LIBRARY} COMMAND_ERROR_IS_FATAL ANY)
else()
  file(COPY_FILE ${LIBRARY} ${stage}/${entry})
endif()
file(COPY_FILE ${CLASSES} ${OUTPUT}.tmp)
execute_process(COMMAND ${JAR} uf ${OUTPUT}.tmp -C ${stage} ${entry} COMMAND_ERROR_IS_FATAL ANY)
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
file(REMOVE_RECURSE ${stage})
