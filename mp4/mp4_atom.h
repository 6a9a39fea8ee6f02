// Boxes ("atoms") and their named properties: the tree that a movie box is
// built from, read into and looked up by name, and the box factory that the
// system's extensions add their own box types to.
#pragma once

#include "mp4/mp4_io.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mp4 {

class MP4Atom;
class MP4File;

enum class MP4PropertyType { Integer, Bytes, String, Other };

class MP4Property {
public:
    MP4Property(MP4Atom* parent, const char* name) : m_parent(parent), m_name(name) {}
    virtual ~MP4Property() = default;
    MP4Property(const MP4Property&) = delete;
    MP4Property& operator=(const MP4Property&) = delete;

    const char* GetName() const { return m_name.c_str(); }
    MP4Atom* GetParentAtom() const { return m_parent; }
    virtual MP4PropertyType GetType() const = 0;
    // Implicit properties are computed from other data and not read or written here.
    bool IsImplicit() const { return m_implicit; }
    void SetImplicit(bool on = true) { m_implicit = on; }

    virtual void Read(MP4Input& in) = 0;
    virtual void Write(MP4Output& out) = 0;
    // Appends "name = value" lines, indented.
    virtual void Dump(std::string& out, int indent, bool dumpImplicits) const = 0;

protected:
    MP4Atom* m_parent;
    std::string m_name;
    bool m_implicit = false;
};

// An unsigned integer of 1..64 bits. Widths that are not whole bytes are bit
// fields and go through the bit reader/writer (a run of them fills whole bytes).
class MP4IntegerProperty : public MP4Property {
public:
    MP4IntegerProperty(MP4Atom* parent, const char* name, unsigned bits, uint64_t value = 0);
    MP4PropertyType GetType() const override { return MP4PropertyType::Integer; }
    unsigned GetBits() const { return m_bits; }
    uint64_t GetValue() const { return m_value; }
    void SetValue(uint64_t v);
    void Read(MP4Input& in) override;
    void Write(MP4Output& out) override;
    void Dump(std::string& out, int indent, bool dumpImplicits) const override;

private:
    unsigned m_bits;
    uint64_t m_value;
};

// A byte string. A fixed size reads exactly that many bytes; size 0 reads the
// rest of the box. Like mp4v2's, it keeps one value per index (rows of a
// table) and a default value size for new rows.
class MP4BytesProperty : public MP4Property {
public:
    MP4BytesProperty(MP4Atom* parent, const char* name, uint32_t fixedSize = 0);
    MP4PropertyType GetType() const override { return MP4PropertyType::Bytes; }

    uint32_t GetCount() const { return uint32_t(m_values.size()); }
    void SetCount(uint32_t count);
    const std::vector<uint8_t>& Value(uint32_t index = 0) const;
    uint32_t GetValueSize(uint32_t index = 0) const { return uint32_t(Value(index).size()); }
    void SetValue(const uint8_t* data, uint32_t size, uint32_t index = 0);
    // Throws "can't change size of fixed sized property" for a fixed size.
    void SetValueSize(uint32_t size, uint32_t index = 0);
    uint32_t GetFixedSize() const { return m_fixedSize; }
    void SetFixedSize(uint32_t size);
    uint32_t GetDefaultSize() const { return m_defaultSize; }

    void Read(MP4Input& in) override;
    void Write(MP4Output& out) override;
    void Dump(std::string& out, int indent, bool dumpImplicits) const override;

protected:
    std::vector<std::vector<uint8_t>> m_values;
    uint32_t m_fixedSize;
    uint32_t m_defaultSize;
};

// A text. Fixed(n): exactly n bytes, zero-padded (four-character codes).
// Counted(n): a length byte and the text in n bytes (compressor names).
// Terminated: up to a zero byte or the end of the box.
class MP4StringProperty : public MP4Property {
public:
    enum class Form { Fixed, Counted, Terminated };
    MP4StringProperty(MP4Atom* parent, const char* name, Form form, uint32_t size = 0,
                      const char* value = "");
    MP4PropertyType GetType() const override { return MP4PropertyType::String; }
    const std::string& GetValue() const { return m_value; }
    void SetValue(const std::string& v);
    void Read(MP4Input& in) override;
    void Write(MP4Output& out) override;
    void Dump(std::string& out, int indent, bool dumpImplicits) const override;

private:
    Form m_form;
    uint32_t m_size;
    std::string m_value;
};

using MP4AtomCreator = MP4Atom* (*)(MP4File& file, const char* type);

class MP4Atom {
public:
    MP4Atom(MP4File& file, const char* type);
    virtual ~MP4Atom();
    MP4Atom(const MP4Atom&) = delete;
    MP4Atom& operator=(const MP4Atom&) = delete;

    // The box factory: a registered creator for the type, else a built-in
    // class, else a box kept as raw bytes.
    static MP4Atom* CreateAtom(MP4File& file, MP4Atom* parent, const char* type);
    // Adds (or replaces) the creator of a type. Any thread, any time.
    static void RegisterType(const char* type, MP4AtomCreator creator);

    const char* GetType() const { return m_type; }
    bool IsType(const char* type) const;
    MP4File& GetFile() const { return m_file; }
    MP4Atom* GetParentAtom() const { return m_parent; }

    size_t GetNumberOfChildAtoms() const { return m_children.size(); }
    MP4Atom* GetChildAtom(size_t index) const;
    // Takes ownership.
    void AddChildAtom(MP4Atom* child);
    void InsertChildAtom(MP4Atom* child, size_t index);
    // Creates a child of the type through the factory, generates it and adds it.
    MP4Atom* AddNewChildAtom(const char* type, size_t index = size_t(-1));
    void DeleteChildAtom(MP4Atom* child);

    // A path of box types below this box ("mdia.minf", "trak[1]"; "*" is any box).
    MP4Atom* FindChildAtom(const char* name);
    // Like FindChildAtom, but the path starts with this box's own type.
    MP4Atom* FindAtom(const char* name);
    // A property of this box (its full name) or, along a path of box types, of
    // a box below it ("mdia.minf.stbl.stsd.mp4a.channels").
    bool FindProperty(const char* name, MP4Property** ppProperty, uint32_t* pIndex = nullptr);

    size_t GetNumberOfProperties() const { return m_props.size(); }
    MP4Property* GetProperty(size_t index) const;
    MP4Property* FindOwnProperty(const char* name) const;
    // Takes ownership; returns the property.
    template <class P> P* AddProperty(P* property)
    {
        m_props.emplace_back(property);
        return property;
    }
    void AddVersionAndFlags();
    uint8_t GetVersion() const;
    void SetVersion(uint8_t version);
    uint32_t GetFlags() const;
    void SetFlags(uint32_t flags);

    // A new box: default values and mandatory children.
    virtual void Generate();
    // Reads the payload (everything after the box header).
    virtual void Read(MP4Input& in, int depth);
    // Writes the whole box, header included.
    void Write(MP4Output& out);
    virtual void Dump(std::string& out, int indent, bool dumpImplicits) const;

protected:
    virtual void ReadProperties(MP4Input& in);
    void ReadChildAtoms(MP4Input& in, int depth);
    virtual void WritePayload(MP4Output& out);
    void WriteChildAtoms(MP4Output& out);

    MP4File& m_file;
    char m_type[5];
    MP4Atom* m_parent = nullptr;
    std::vector<std::unique_ptr<MP4Property>> m_props;
    std::vector<std::unique_ptr<MP4Atom>> m_children;
};

// Boxes deeper than this are refused on reading.
inline constexpr int kMaxAtomDepth = 24;

// A box whose payload the library does not interpret: kept as bytes and
// written back unchanged.
class MP4RawAtom : public MP4Atom {
public:
    MP4RawAtom(MP4File& file, const char* type) : MP4Atom(file, type) {}
    void Read(MP4Input& in, int depth) override;
    const std::vector<uint8_t>& Payload() const { return m_payload; }

protected:
    void WritePayload(MP4Output& out) override;

private:
    std::vector<uint8_t> m_payload;
};

// A box of boxes (moov, trak, mdia, minf, dinf, stbl, edts, udta, ...).
class MP4ContainerAtom : public MP4Atom {
public:
    MP4ContainerAtom(MP4File& file, const char* type) : MP4Atom(file, type) {}
};

// The visual sample entry ("avc1" and its kind): reserved1 (6 bytes),
// dataReferenceIndex, reserved2 (16 bytes), width, height, reserved3 (14
// bytes), compressorName (counted, 32 bytes), reserved4 (4 bytes), children.
class MP4VisualSampleEntryAtom : public MP4Atom {
public:
    MP4VisualSampleEntryAtom(MP4File& file, const char* type);
    void Generate() override;
};

// The sound sample entry ("mp4a", "ulaw", ...): reserved1 (6), dataReferenceIndex,
// soundVersion, reserved2 (6), channels, sampleSize, compressionId, packetSize,
// timeScale (the integer part of the rate), reserved3; version 1 and 2 fields; children.
class MP4SoundAtom : public MP4Atom {
public:
    MP4SoundAtom(MP4File& file, const char* type);
    void Generate() override;
    void Read(MP4Input& in, int depth) override;

protected:
    void WritePayload(MP4Output& out) override;

private:
    std::vector<uint8_t> m_versionFields; // 16 (version 1) or 36 (version 2) bytes
};

// --- sample tables: compact arrays, not property objects ---

class MP4SttsAtom : public MP4Atom {
public:
    struct Entry {
        uint32_t count;
        uint32_t delta;
    };
    MP4SttsAtom(MP4File& file) : MP4Atom(file, "stts") { AddVersionAndFlags(); }
    std::vector<Entry> entries;
    void Read(MP4Input& in, int depth) override;

protected:
    void WritePayload(MP4Output& out) override;
};

class MP4CttsAtom : public MP4Atom {
public:
    struct Entry {
        uint32_t count;
        int32_t offset;
    };
    MP4CttsAtom(MP4File& file) : MP4Atom(file, "ctts") { AddVersionAndFlags(); }
    std::vector<Entry> entries;
    void Read(MP4Input& in, int depth) override;

protected:
    void WritePayload(MP4Output& out) override;
};

class MP4StssAtom : public MP4Atom {
public:
    MP4StssAtom(MP4File& file) : MP4Atom(file, "stss") { AddVersionAndFlags(); }
    std::vector<uint32_t> ids; // ascending sample ids
    void Read(MP4Input& in, int depth) override;

protected:
    void WritePayload(MP4Output& out) override;
};

class MP4StszAtom : public MP4Atom {
public:
    MP4StszAtom(MP4File& file, const char* type) : MP4Atom(file, type) { AddVersionAndFlags(); }
    uint32_t sampleSize = 0;  // all samples this size when non-zero
    uint32_t sampleCount = 0; // used with sampleSize
    std::vector<uint32_t> sizes;
    uint32_t Count() const { return sampleSize ? sampleCount : uint32_t(sizes.size()); }
    uint32_t SizeOf(uint32_t index) const { return sampleSize ? sampleSize : sizes[index]; }
    void Read(MP4Input& in, int depth) override;

protected:
    void WritePayload(MP4Output& out) override;
};

class MP4StscAtom : public MP4Atom {
public:
    struct Entry {
        uint32_t firstChunk;
        uint32_t samplesPerChunk;
        uint32_t sampleDescriptionIndex;
    };
    MP4StscAtom(MP4File& file) : MP4Atom(file, "stsc") { AddVersionAndFlags(); }
    std::vector<Entry> entries;
    void Read(MP4Input& in, int depth) override;

protected:
    void WritePayload(MP4Output& out) override;
};

// "stco" (32-bit offsets) or "co64".
class MP4ChunkOffsetAtom : public MP4Atom {
public:
    MP4ChunkOffsetAtom(MP4File& file, const char* type) : MP4Atom(file, type) { AddVersionAndFlags(); }
    std::vector<uint64_t> offsets;
    bool Is64() const { return IsType("co64"); }
    void Read(MP4Input& in, int depth) override;

protected:
    void WritePayload(MP4Output& out) override;
};

// "avcC": the AVC decoder configuration record.
class MP4AvcCAtom : public MP4Atom {
public:
    explicit MP4AvcCAtom(MP4File& file);
    void Generate() override;
    void Read(MP4Input& in, int depth) override;
    std::vector<std::vector<uint8_t>> sequenceParameterSets;
    std::vector<std::vector<uint8_t>> pictureParameterSets;

protected:
    void WritePayload(MP4Output& out) override;
    void Dump(std::string& out, int indent, bool dumpImplicits) const override;

private:
    std::vector<uint8_t> m_extension; // bytes after the parameter sets, kept as read
};

// "esds": an ES_Descriptor with its decoder configuration. Properties:
// "ESID", "decConfigDescr.objectTypeId", "decConfigDescr.streamType",
// "decConfigDescr.bufferSizeDB", "decConfigDescr.maxBitrate",
// "decConfigDescr.avgBitrate", "decConfigDescr.decSpecificInfo.info" (bytes),
// "slConfigDescr.predefined".
class MP4EsdsAtom : public MP4Atom {
public:
    explicit MP4EsdsAtom(MP4File& file);
    void Generate() override;
    void Read(MP4Input& in, int depth) override;
    uint64_t Get(const char* name) const;
    void Set(const char* name, uint64_t value);
    MP4BytesProperty* DecoderSpecificInfo() const { return m_info; }
    bool HasDecoderSpecificInfo() const { return m_hasInfo; }
    void SetDecoderSpecificInfo(const uint8_t* data, uint32_t size);

protected:
    void WritePayload(MP4Output& out) override;

private:
    MP4BytesProperty* m_info;
    bool m_hasInfo = false;
};

// "iods": the initial object descriptor with its profile levels and the
// ES_ID_Inc of each track. Properties: "ODProfileLevelId",
// "sceneProfileLevelId", "audioProfileLevelId", "visualProfileLevelId",
// "graphicsProfileLevelId".
class MP4IodsAtom : public MP4Atom {
public:
    explicit MP4IodsAtom(MP4File& file);
    void Generate() override;
    void Read(MP4Input& in, int depth) override;
    std::vector<uint32_t> trackIds;

protected:
    void WritePayload(MP4Output& out) override;
};

// "ftyp": major brand, minor version and compatible brands.
class MP4FtypAtom : public MP4Atom {
public:
    explicit MP4FtypAtom(MP4File& file);
    void Generate() override;
    void Read(MP4Input& in, int depth) override;
    std::vector<std::string> compatibleBrands;

protected:
    void WritePayload(MP4Output& out) override;
};

// Small helpers for property access by name on one box (throw when missing).
uint64_t GetIntegerProperty(MP4Atom* atom, const char* name);
void SetIntegerProperty(MP4Atom* atom, const char* name, uint64_t value);
// Sets a time or duration of mvhd, tkhd or mdhd, moving the box to version 1
// (64-bit fields) when the value needs it.
void SetHeaderTime(MP4Atom* atom, const char* name, uint64_t value);

} // namespace mp4
