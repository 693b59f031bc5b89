# The Java classes of com.ostrel.qel2 and the JNI bridge inside libqel2.
#
# javac -h writes one header per class; the bridge sources include them and
# are compiled with -Werror=missing-declarations, so a native whose Java
# declaration and C++ definition drift apart (types, name, static or not)
# fails the build instead of failing at the first call in a JVM.
#
# Defines qel2_add_jni(target) only when a JDK with JNI headers is found;
# without one the library is built without the bridge.

if(NOT DEFINED JAVA_HOME AND NOT DEFINED ENV{JAVA_HOME}
   AND EXISTS /usr/lib/jvm/java-17-openjdk-amd64/include/jni.h)
  set(JAVA_HOME /usr/lib/jvm/java-17-openjdk-amd64)
endif()
find_package(Java 17 COMPONENTS Development Runtime)
# Only the headers are needed (the library is loaded into a JVM, not linked
# to one); asking for the JVM component spares the AWT library.
find_package(JNI COMPONENTS JVM)
if(NOT Java_Development_FOUND OR NOT JNI_FOUND)
  message(STATUS "qel2: no JDK with JNI found; building libqel2 without the Java bridge")
  return()
endif()

include(UseJava)
set(QEL2_JAVA_DIR ${CMAKE_SOURCE_DIR}/jce/java)
file(GLOB QEL2_JAVA_SOURCES CONFIGURE_DEPENDS ${QEL2_JAVA_DIR}/com/ostrel/qel2/*.java)
set(CMAKE_JAVA_COMPILE_FLAGS -Xlint:all -Werror)
# The jar (build/jce/qel2.jar) is what Java callers put on their class path.
add_jar(qel2_jar
  SOURCES ${QEL2_JAVA_SOURCES}
  OUTPUT_NAME qel2
  OUTPUT_DIR ${CMAKE_BINARY_DIR}/jce
  GENERATE_NATIVE_HEADERS qel2_jni_headers DESTINATION ${CMAKE_BINARY_DIR}/jce/include)
unset(CMAKE_JAVA_COMPILE_FLAGS)
get_target_property(QEL2_JAR qel2_jar JAR_FILE)
install_jar(qel2_jar DESTINATION ${CMAKE_INSTALL_DATADIR}/java)

function(qel2_add_jni target)
  file(GLOB bridge_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/jce/native/*.cpp)
  target_sources(${target} PRIVATE ${bridge_sources})
  set_source_files_properties(${bridge_sources} TARGET_DIRECTORY ${target}
                              PROPERTIES COMPILE_OPTIONS "-Werror=missing-declarations")
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/jce/native ${CMAKE_SOURCE_DIR}/api/src)
  target_link_libraries(${target} PRIVATE qel2_jni_headers OpenSSL::Crypto)
endfunction()
