// A tiny independent box walker for checking the layout of files we wrote.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace boxtest {

struct Box {
    std::string type;
    size_t offset = 0;  // of the header
    uint64_t size = 0;  // whole box
    size_t header = 8;  // 8 or 16
    size_t payload() const { return offset + header; }
    size_t end() const { return size_t(offset + size); }
};

inline uint32_t Be32(const std::vector<uint8_t>& b, size_t p)
{
    return (uint32_t(b[p]) << 24) | (uint32_t(b[p + 1]) << 16) | (uint32_t(b[p + 2]) << 8) | b[p + 3];
}

inline uint64_t Be64(const std::vector<uint8_t>& b, size_t p)
{
    return (uint64_t(Be32(b, p)) << 32) | Be32(b, p + 4);
}

inline void PutBe32(std::vector<uint8_t>& b, size_t p, uint32_t v)
{
    b[p] = uint8_t(v >> 24);
    b[p + 1] = uint8_t(v >> 16);
    b[p + 2] = uint8_t(v >> 8);
    b[p + 3] = uint8_t(v);
}

// The boxes between start and end (stops at anything malformed).
inline std::vector<Box> Children(const std::vector<uint8_t>& b, size_t start, size_t end)
{
    std::vector<Box> out;
    size_t p = start;
    while (p + 8 <= end) {
        Box box;
        box.offset = p;
        box.size = Be32(b, p);
        box.type.assign(reinterpret_cast<const char*>(&b[p + 4]), 4);
        if (box.size == 1) {
            box.size = Be64(b, p + 8);
            box.header = 16;
        } else if (box.size == 0) {
            box.size = end - p;
        }
        if (box.size < box.header || p + box.size > end)
            break;
        out.push_back(box);
        p += size_t(box.size);
    }
    return out;
}

// Bytes between a box's header and its first child box.
inline size_t ChildSkip(const std::string& type)
{
    if (type == "stsd" || type == "dref")
        return 8;
    if (type == "avc1" || type == "hev1" || type == "hvc1")
        return 78;
    if (type == "mp4a" || type == "ulaw")
        return 28;
    return 0;
}

inline std::vector<std::string> Types(const std::vector<Box>& boxes)
{
    std::vector<std::string> t;
    for (const Box& x : boxes)
        t.push_back(x.type);
    return t;
}

inline std::vector<Box> ChildrenOf(const std::vector<uint8_t>& b, const Box& box)
{
    return Children(b, box.payload() + ChildSkip(box.type), box.end());
}

// A box by a path of types from the top ("moov.trak[1].mdia"); size 0 when missing.
inline Box Find(const std::vector<uint8_t>& b, const std::string& path)
{
    std::vector<Box> level = Children(b, 0, b.size());
    Box found;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t dot = path.find('.', pos);
        if (dot == std::string::npos)
            dot = path.size();
        std::string part = path.substr(pos, dot - pos);
        size_t index = 0;
        if (const size_t br = part.find('['); br != std::string::npos) {
            index = std::stoul(part.substr(br + 1));
            part.resize(br);
        }
        bool ok = false;
        for (const Box& x : level)
            if (x.type == part && index-- == 0) {
                found = x;
                ok = true;
                break;
            }
        if (!ok)
            return Box{};
        level = ChildrenOf(b, found);
        pos = dot + 1;
    }
    return found;
}

} // namespace boxtest
