// The parameter arrays of an "hvcC" box: a growable pointer array and the
// store of array entries (NAL unit type, completeness, units) built on it.
#pragma once

#include <cstdint>

// A growable array of pointers; it never owns the items.
struct HevcPtrArray {
    void** items;
    uint32_t count;
    uint32_t capacity;
};

// An empty array without an item array; null when out of memory.
HevcPtrArray* HevcPtrArrayCreate();
// 0, or -2 when the item array cannot grow (capacity 10 first, then x 3 / 2).
int HevcPtrArrayPush(HevcPtrArray* a, void* item);
// Null outside 0..count-1 and for a null array.
void* HevcPtrArrayGet(const HevcPtrArray* a, uint32_t index);
uint32_t HevcPtrArrayCount(const HevcPtrArray* a);
// Later items move down; -1 for a null or empty array or an index outside it.
int HevcPtrArrayRemove(HevcPtrArray* a, uint32_t index);
// Frees the item array and the array, not the items.
void HevcPtrArrayFree(HevcPtrArray* a);

struct HevcNalUnit {
    uint16_t length;
    uint8_t* bytes; // owned
};

struct HevcParamArray {
    uint8_t nalUnitType;   // 6 bits used
    uint8_t completeness;  // 1 for every array the system adds
    HevcPtrArray* units;   // of HevcNalUnit*
};

struct HevcParamArraySet {
    HevcPtrArray* arrays; // of HevcParamArray*; null when cleared
    // The layered form of the record (never set by this system).
    uint8_t layered;
    uint8_t completeRepresentation;
    uint8_t nonHevcBaseLayer;
    uint8_t numLayers;
    uint16_t scalabilityMask;
};

// Frees every unit's bytes, every unit, every array entry and the entry list;
// the set itself stays, with no entry list.
void HevcParamArraySetClear(HevcParamArraySet* set);
// A new, empty entry list (after clearing). 0, or -2 when out of memory.
int HevcParamArraySetReset(HevcParamArraySet* set);
// Appends an entry (type, completeness) holding a copy of one unit, or with
// no unit when bytes is null. Returns the entry or null when out of memory.
HevcParamArray* HevcParamArraySetAddArray(HevcParamArraySet* set, uint8_t type, uint8_t completeness,
                                          const uint8_t* bytes, uint16_t length);
// Appends a copy of a unit to an entry. 0, or -2 when out of memory.
int HevcParamArrayAddUnit(HevcParamArray* array, const uint8_t* bytes, uint16_t length);
uint32_t HevcParamArraySetCount(const HevcParamArraySet* set);
HevcParamArray* HevcParamArraySetGet(const HevcParamArraySet* set, uint32_t index);
HevcNalUnit* HevcParamArrayGetUnit(const HevcParamArray* array, uint32_t index);
