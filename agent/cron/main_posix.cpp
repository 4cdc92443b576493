#include "agent/cron/entry_posix.h"

int main(int argc, char** argv) { return omvar::cron::posix_main(argc, argv, OMVAR_VERSION); }
