// Text and queue utilities: Base64, character-aware helpers on UTF-8 text,
// the pinyin-initial search matcher of the device tree, a bounded FIFO.
#pragma once

#include "platform/sync.h"
#include "platform/types.h"

#include <string>
#include <string_view>

// Base64 (RFC 4648, "=" padding) of len bytes into out (outSize bytes with
// the terminator). Returns the characters written, or -1 (out = "") when
// out is too small.
int Base64EncodeBuf(const void* data, int len, char* out, int outSize);

// Decodes len characters of text into out (outSize bytes, decoded bytes plus
// a zero byte). Characters outside the alphabet are skipped; decoding stops
// at the first '='. Returns the bytes decoded, or -1 when out is too small.
int Base64DecodeBuf(const char* text, int len, void* out, int outSize);

// Encoded length of len bytes (encoding), else decoded length of len characters.
int Base64Length(int len, bool encoding);

// Characters of UTF-8 text; a malformed byte counts as one character.
int DbcsCharCount(const char* text);
// The first n characters.
std::string DbcsLeft(const char* text, int n);
// 1 when the texts differ byte-wise, 0 when equal.
int IsStrDiffer(const char* a, const char* b);

// True when the GB2312 character (lead, trail) lies in the range of the
// pinyin initial letter (lower case).
bool IsPinyinInitial(unsigned char lead, unsigned char trail, char letter);

// Character-by-character match of a name part and a key part of the same
// length: a Chinese key character must equal the name's; a letter matches a
// Chinese character whose pinyin starts with it, or the same letter in any case.
bool MatchPinyinChars(std::string_view name, std::string_view key);

// The device tree's search: key matches the start of name; "*x" its end;
// "x*y" its start and end; "*x*" something strictly inside it.
bool MatchPinyinKey(const char* name, const char* key, char wildcard = '*');

// Bounded first-in first-out queue (50 items; the oldest is dropped first).
struct BoundedFifoItem {
    BYTE* data = nullptr; // malloc'ed; the queue owns it while it holds the item
    int length = 0;
    int value = 0;
};

struct BoundedFifoNode {
    BoundedFifoItem item;
    BoundedFifoNode* next = nullptr; // newer
    BoundedFifoNode* prev = nullptr; // older
};

struct BoundedFifo {
    BoundedFifoNode* head = nullptr; // oldest
    BoundedFifoNode* tail = nullptr; // newest
    int count = 0;
    int capacity = 50;
    CRITICAL_SECTION cs;
};

int BoundedFifoInit(BoundedFifo* q);
// Takes ownership of item->data; the item's length, or -1 (no data, length 0).
int BoundedFifoPush(BoundedFifo* q, const BoundedFifoItem* item);
// Moves the oldest item to *out (the caller frees out->data); its length, 0 when empty.
int BoundedFifoPop(BoundedFifo* q, BoundedFifoItem* out);
int BoundedFifoCount(BoundedFifo* q);
int BoundedFifoClear(BoundedFifo* q);
int BoundedFifoClearUnlocked(BoundedFifo* q);
