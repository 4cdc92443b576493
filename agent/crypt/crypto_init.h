// Initialising the cipher library before its first use.
#pragma once

namespace omvar::crypt {

// Initialises libcrypto once per process without reading any configuration
// file: neither the system's openssl.cnf nor one named by OPENSSL_CONF may load
// providers or engines (shared objects) into the agent. 0, or -1 when the library
// cannot be initialised; then no cipher or random call may be made, since the
// library would initialise itself with the configuration on that call.
int crypto_library_init();

}  // namespace omvar::crypt
