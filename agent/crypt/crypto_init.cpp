#include "agent/crypt/crypto_init.h"

#include <openssl/crypto.h>

namespace omvar::crypt {

namespace {

bool initialised = false;

}  // namespace

int crypto_library_init() {
    if (!initialised) {
        // The first initialisation decides: once it has run without the
        // configuration, later implicit ones do not load it either.
        if (OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) != 1) {
            return -1;
        }
        initialised = true;
    }
    return 0;
}

}  // namespace omvar::crypt
