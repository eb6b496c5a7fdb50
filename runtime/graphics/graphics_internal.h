// Helpers shared by the graphics libraries whose objects are GDI objects (fonts, images). Their
// records start with the object's handle, which marks the record live.
#pragma once

#include "graphics.h"

namespace rt {

// Records `object`, `size` bytes that start with its handle, under `id` in `registry` (the caller
// has freed any object the number held), the handle published last: the record, or null when no
// record can be had (the handle is then deleted).
void* GdiObjectRegister(ObjectRegistry* registry, ObjectId id, const void* object, size_t size);
// What a create returns for the record GdiObjectRegister gave: the handle for a number, the
// record's address for DYNAMIC_ID, 0 for no record.
int64_t GdiObjectResult(ObjectId id, void* record);
// Deletes the GDI object of `id` and gives its record back; nothing for a number that holds
// nothing.
void GdiObjectFree(ObjectRegistry* registry, ObjectId id);

}  // namespace rt
