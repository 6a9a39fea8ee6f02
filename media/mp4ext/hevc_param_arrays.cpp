// The growable pointer array and the hvcC parameter-array store.
#include "media/mp4ext/hevc_param_arrays.h"

#include <cstdlib>
#include <cstring>

HevcPtrArray* HevcPtrArrayCreate()
{
    auto* a = static_cast<HevcPtrArray*>(calloc(1, sizeof(HevcPtrArray)));
    return a;
}

int HevcPtrArrayPush(HevcPtrArray* a, void* item)
{
    if (!a)
        return -1;
    if (a->count == a->capacity) {
        const uint32_t capacity = a->capacity == 0 ? 10 : a->capacity * 3 / 2;
        if (capacity <= a->capacity)
            return -2;
        void* items = realloc(a->items, size_t(capacity) * sizeof(void*));
        if (!items)
            return -2;
        a->items = static_cast<void**>(items);
        a->capacity = capacity;
    }
    a->items[a->count++] = item;
    return 0;
}

void* HevcPtrArrayGet(const HevcPtrArray* a, uint32_t index)
{
    if (!a || index >= a->count)
        return nullptr;
    return a->items[index];
}

uint32_t HevcPtrArrayCount(const HevcPtrArray* a)
{
    return a ? a->count : 0;
}

int HevcPtrArrayRemove(HevcPtrArray* a, uint32_t index)
{
    if (!a || a->count == 0 || index >= a->count)
        return -1;
    memmove(a->items + index, a->items + index + 1, size_t(a->count - index - 1) * sizeof(void*));
    --a->count;
    return 0;
}

void HevcPtrArrayFree(HevcPtrArray* a)
{
    if (!a)
        return;
    free(a->items);
    free(a);
}

void HevcParamArraySetClear(HevcParamArraySet* set)
{
    if (!set || !set->arrays)
        return;
    for (uint32_t i = 0; i < set->arrays->count; ++i) {
        auto* entry = static_cast<HevcParamArray*>(set->arrays->items[i]);
        if (!entry)
            continue;
        for (uint32_t k = 0; k < HevcPtrArrayCount(entry->units); ++k) {
            auto* unit = static_cast<HevcNalUnit*>(entry->units->items[k]);
            if (unit)
                free(unit->bytes);
            free(unit);
        }
        HevcPtrArrayFree(entry->units);
        free(entry);
    }
    HevcPtrArrayFree(set->arrays);
    set->arrays = nullptr;
}

int HevcParamArraySetReset(HevcParamArraySet* set)
{
    if (!set)
        return -1;
    HevcParamArraySetClear(set);
    set->arrays = HevcPtrArrayCreate();
    return set->arrays ? 0 : -2;
}

int HevcParamArrayAddUnit(HevcParamArray* array, const uint8_t* bytes, uint16_t length)
{
    if (!array || (!bytes && length))
        return -1;
    auto* unit = static_cast<HevcNalUnit*>(calloc(1, sizeof(HevcNalUnit)));
    if (!unit)
        return -2;
    unit->bytes = static_cast<uint8_t*>(malloc(length ? length : 1));
    if (!unit->bytes || HevcPtrArrayPush(array->units, unit) != 0) {
        free(unit->bytes);
        free(unit);
        return -2;
    }
    if (length)
        memcpy(unit->bytes, bytes, length);
    unit->length = length;
    return 0;
}

HevcParamArray* HevcParamArraySetAddArray(HevcParamArraySet* set, uint8_t type, uint8_t completeness,
                                          const uint8_t* bytes, uint16_t length)
{
    if (!set || !set->arrays)
        return nullptr;
    auto* entry = static_cast<HevcParamArray*>(calloc(1, sizeof(HevcParamArray)));
    if (!entry)
        return nullptr;
    entry->nalUnitType = uint8_t(type & 0x3F);
    entry->completeness = completeness;
    entry->units = HevcPtrArrayCreate();
    if (!entry->units || (bytes && HevcParamArrayAddUnit(entry, bytes, length) != 0) ||
        HevcPtrArrayPush(set->arrays, entry) != 0) {
        for (uint32_t k = 0; k < HevcPtrArrayCount(entry->units); ++k) {
            auto* unit = static_cast<HevcNalUnit*>(entry->units->items[k]);
            free(unit->bytes);
            free(unit);
        }
        HevcPtrArrayFree(entry->units);
        free(entry);
        return nullptr;
    }
    return entry;
}

uint32_t HevcParamArraySetCount(const HevcParamArraySet* set)
{
    return set ? HevcPtrArrayCount(set->arrays) : 0;
}

HevcParamArray* HevcParamArraySetGet(const HevcParamArraySet* set, uint32_t index)
{
    return set ? static_cast<HevcParamArray*>(HevcPtrArrayGet(set->arrays, index)) : nullptr;
}

HevcNalUnit* HevcParamArrayGetUnit(const HevcParamArray* array, uint32_t index)
{
    return array ? static_cast<HevcNalUnit*>(HevcPtrArrayGet(array->units, index)) : nullptr;
}
