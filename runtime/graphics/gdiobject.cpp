// Registering and freeing the GDI objects that fonts and images hold.
//
// Any thread: the registry's own lock covers each step.
#include <cstring>

#include "graphics_internal.h"

namespace rt {

void* GdiObjectRegister(ObjectRegistry* registry, ObjectId id, const void* object, size_t size) {
    HGDIOBJ handle = *static_cast<HGDIOBJ const*>(object);
    auto* record = static_cast<char*>(RegistryCreate(registry, id));
    if (record == nullptr) {
        DeleteObject(handle);
        return nullptr;
    }
    std::memcpy(record + sizeof(HGDIOBJ), static_cast<const char*>(object) + sizeof(HGDIOBJ),
                size - sizeof(HGDIOBJ));
    RegistryPublish(record, handle);
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
