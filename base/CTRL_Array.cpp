#include "base/CTRL_Array.h"


bool CTRL_iResizeByteBuffer(CTRL_Package* package, uint32_t n)
{
    if (!package)
        return false;
    if (n == 0) {
        if (package->owns)
            std::free(package->data);
        package->data = nullptr;
        package->size = package->capacity = 0;
        package->owns = 1;
        return true;
    }
    uint8_t* p;
    if (package->owns) {
        p = static_cast<uint8_t*>(std::realloc(package->data, n));
        if (!p)
            return false;
    } else {
        // Bytes we do not own are copied, never reallocated.
        p = static_cast<uint8_t*>(std::malloc(n));
        if (!p)
            return false;
        if (package->data && package->size)
            std::memcpy(p, package->data, package->size < n ? package->size : n);
        package->owns = 1;
    }
    package->data = p;
    package->size = package->capacity = n;
    return true;
}
