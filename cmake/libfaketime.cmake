# libfaketime (Debian package faketime) sets the agent's clock in the end-to-end
# tests and the idle benchmark. Found once here: the tests get the path as
# OMVAR_LIBFAKETIME, bench/run reads it from the cache. Not found, the variable
# ends in -NOTFOUND and those tests skip themselves.
find_file(OMVAR_LIBFAKETIME libfaketime.so.1
  PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/faketime /usr/lib/faketime /usr/lib64/faketime
        /usr/local/lib/faketime
  NO_DEFAULT_PATH)
