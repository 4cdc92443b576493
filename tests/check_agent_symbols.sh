#!/bin/sh
# The agent's own code allocates nothing on the heap and throws nothing: none of
# its objects may refer to an allocator or to the exception machinery. What the
# system and OpenSSL do inside their own calls is theirs.
set -eu
lib=$1
symbols=$(nm -u -C -A "$lib")
# Guard against a vacuous pass: the library must be the agent's and nm must read it.
nm -C --defined-only "$lib" | grep -q 'omvar::cron::on_tick()' || { echo "no agent code in $lib"; exit 1; }
bad=$(printf '%s\n' "$symbols" | grep -E ' (malloc|calloc|realloc|reallocarray|free|strdup|strndup|asprintf|vasprintf|posix_memalign|aligned_alloc|operator new|operator delete|__cxa_allocate_exception|__cxa_throw)\b' || true)
if [ -n "$bad" ]; then
    echo "heap or exception use in the agent's code:"
    printf '%s\n' "$bad"
    exit 1
fi
echo "no heap allocation or exception in $(printf '%s\n' "$symbols" | cut -d: -f2 | sort -u | wc -l) objects"
