// Registering and freeing the GDI objects that fonts and images hold.
//
// Any thread: the registry's own lock covers each step.
#include "graphics_internal.h"

namespace rt {

void* GdiObjectRegister(ObjectRegistry* registry, ObjectId id, HGDIOBJ handle) {
    auto* record = static_cast<HGDIOBJ*>(RegistryCreate(registry, id));
    if (record == nullptr) {
        DeleteObject(handle);
        return nullptr;
    }
    *record = handle;
    return record;
}

int64_t GdiObjectResult(ObjectId id, void* record) {
    if (record == nullptr) {
        return 0;
    }
    return id == DYNAMIC_ID ? reinterpret_cast<int64_t>(record)
                            : reinterpret_cast<int64_t>(*static_cast<HGDIOBJ*>(record));
}

void GdiObjectFree(ObjectRegistry* registry, ObjectId id) {
    auto* record = static_cast<HGDIOBJ*>(RegistryLookup(registry, id));
    if (record == nullptr) {
        return;
    }
    DeleteObject(*record);
    RegistryFree(registry, id);
}

}  // namespace rt
