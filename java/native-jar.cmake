# Builds modburn.jar: the classes jar with libmodburn.so added at the entry where the loader of
# Switch looks for this platform's library, which the compiled classes themselves name.
#   cmake -DJAVA=java -DJAR=jar -DCLASSES=modburn-classes.jar -DLIBRARY=libmodburn.so -DOUTPUT=modburn.jar -P native-jar.cmake
execute_process(COMMAND ${JAVA} -cp ${CLASSES} com.corvane.qel.deployer.modburn.NativeLibrary
  OUTPUT_VARIABLE entry OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(stage ${OUTPUT}.stage)
file(REMOVE_RECURSE ${stage})
get_filename_component(folder ${entry} DIRECTORY)
file(MAKE_DIRECTORY ${stage}/${folder})
file(COPY_FILE ${LIBRARY} ${stage}/${entry})
file(COPY_FILE ${CLASSES} ${OUTPUT}.tmp)
execute_process(COMMAND ${JAR} uf ${OUTPUT}.tmp -C ${stage} ${entry} COMMAND_ERROR_IS_FATAL ANY)
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
file(REMOVE_RECURSE ${stage})
