#include "resources/resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE declares a function at the point of use, which must be outside a namespace.
static void register_images() {
    Q_INIT_RESOURCE(sealprint_resources);
}

void init_sealprint_resources() {
    static const bool registered = (register_images(), true);
    (void)registered;
}
