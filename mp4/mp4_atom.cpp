// Boxes and properties: reading, writing, lookup by name and the box factory.
#include "mp4/mp4_atom.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <shared_mutex>

namespace mp4 {

namespace {

std::string Indent(int n)
{
    return std::string(size_t(n) * 2, ' ');
}

void AppendLine(std::string& out, int indent, const std::string& text)
{
    out += Indent(indent);
    out += text;
    out += '\n';
}

// One path component: "trak[1]" -> ("trak", 1); "*" matches any type.
struct PathPart {
    std::string type;
    uint32_t index = 0;
    std::string rest; // after the first '.', empty when none
    bool hasRest = false;
};

PathPart SplitPath(const char* name)
{
    PathPart p;
    const char* dot = strchr(name, '.');
    std::string first = dot ? std::string(name, size_t(dot - name)) : std::string(name);
    if (dot) {
        p.rest = dot + 1;
        p.hasRest = true;
    }
    const size_t br = first.find('[');
    if (br != std::string::npos) {
        p.index = uint32_t(strtoul(first.c_str() + br + 1, nullptr, 10));
        first.resize(br);
    }
    p.type = first;
    return p;
}

bool TypeMatches(const MP4Atom* atom, const std::string& type)
{
    return type == "*" || (type.size() == 4 && memcmp(atom->GetType(), type.data(), 4) == 0);
}

std::shared_mutex g_factoryMutex;
std::map<std::string, MP4AtomCreator>& Registry()
{
    static std::map<std::string, MP4AtomCreator> registry;
    return registry;
}

const uint8_t kIdentityMatrix[36] = {0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1,
                                     0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0};

} // namespace

// --- properties ---

MP4IntegerProperty::MP4IntegerProperty(MP4Atom* parent, const char* name, unsigned bits, uint64_t value)
    : MP4Property(parent, name), m_bits(bits), m_value(0)
{
    if (bits == 0 || bits > 64)
        Throw("bad integer width %u", bits);
    SetValue(value);
}

void MP4IntegerProperty::SetValue(uint64_t v)
{
    m_value = m_bits == 64 ? v : (v & ((uint64_t(1) << m_bits) - 1));
}

void MP4IntegerProperty::Read(MP4Input& in)
{
    if (m_implicit)
        return;
    switch (m_bits) {
    case 8: m_value = in.ReadUInt8(); break;
    case 16: m_value = in.ReadUInt16(); break;
    case 24: m_value = in.ReadUInt24(); break;
    case 32: m_value = in.ReadUInt32(); break;
    case 64: m_value = in.ReadUInt64(); break;
    default: m_value = in.ReadBits(m_bits); break;
    }
}

void MP4IntegerProperty::Write(MP4Output& out)
{
    if (m_implicit)
        return;
    switch (m_bits) {
    case 8: out.WriteUInt8(uint8_t(m_value)); break;
    case 16: out.WriteUInt16(uint16_t(m_value)); break;
    case 24: out.WriteUInt24(uint32_t(m_value)); break;
    case 32: out.WriteUInt32(uint32_t(m_value)); break;
    case 64: out.WriteUInt64(m_value); break;
    default:
        out.WriteBits(m_value, m_bits);
        break;
    }
}

void MP4IntegerProperty::Dump(std::string& out, int indent, bool dumpImplicits) const
{
    if (m_implicit && !dumpImplicits)
        return;
    AppendLine(out, indent, m_name + " = " + std::to_string(m_value));
}

MP4BytesProperty::MP4BytesProperty(MP4Atom* parent, const char* name, uint32_t fixedSize)
    : MP4Property(parent, name), m_values(1, std::vector<uint8_t>(fixedSize, 0)),
      m_fixedSize(fixedSize), m_defaultSize(fixedSize)
{
}

void MP4BytesProperty::SetCount(uint32_t count)
{
    m_values.resize(count, std::vector<uint8_t>(m_defaultSize, 0));
}

const std::vector<uint8_t>& MP4BytesProperty::Value(uint32_t index) const
{
    if (index >= m_values.size())
        Throw("property %s: index %u out of range", m_name.c_str(), index);
    return m_values[index];
}

void MP4BytesProperty::SetValue(const uint8_t* data, uint32_t size, uint32_t index)
{
    if (index >= m_values.size())
        Throw("property %s: index %u out of range", m_name.c_str(), index);
    if (m_fixedSize && size != m_fixedSize)
        Throw("can't change size of fixed sized property");
    m_values[index].assign(data, data + size);
}

void MP4BytesProperty::SetValueSize(uint32_t size, uint32_t index)
{
    if (m_fixedSize)
        Throw("can't change size of fixed sized property");
    if (index >= m_values.size())
        Throw("property %s: index %u out of range", m_name.c_str(), index);
    m_values[index].resize(size, 0);
}

void MP4BytesProperty::SetFixedSize(uint32_t size)
{
    m_fixedSize = size;
    m_defaultSize = size;
    for (auto& v : m_values)
        v.resize(size, 0);
}

void MP4BytesProperty::Read(MP4Input& in)
{
    if (m_implicit)
        return;
    const size_t size = m_fixedSize ? m_fixedSize : in.Remaining();
    m_values.assign(1, std::vector<uint8_t>(size));
    in.ReadBytes(m_values[0].data(), size);
}

void MP4BytesProperty::Write(MP4Output& out)
{
    if (m_implicit)
        return;
    for (const auto& v : m_values)
        out.WriteBytes(v.data(), v.size());
}

void MP4BytesProperty::Dump(std::string& out, int indent, bool dumpImplicits) const
{
    if (m_implicit && !dumpImplicits)
        return;
    static const char hex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < m_values.size(); ++i) {
        std::string text = m_name + " = <" + std::to_string(m_values[i].size()) + " bytes>";
        const size_t shown = std::min<size_t>(m_values[i].size(), 32);
        for (size_t k = 0; k < shown; ++k) {
            text += ' ';
            text += hex[m_values[i][k] >> 4];
            text += hex[m_values[i][k] & 15];
        }
        AppendLine(out, indent, text);
    }
}

MP4StringProperty::MP4StringProperty(MP4Atom* parent, const char* name, Form form, uint32_t size,
                                     const char* value)
    : MP4Property(parent, name), m_form(form), m_size(size)
{
    SetValue(value);
}

void MP4StringProperty::SetValue(const std::string& v)
{
    m_value = v;
    if (m_form == Form::Fixed && m_value.size() > m_size)
        m_value.resize(m_size);
    if (m_form == Form::Counted && m_size > 0 && m_value.size() > m_size - 1)
        m_value.resize(m_size - 1);
}

void MP4StringProperty::Read(MP4Input& in)
{
    if (m_implicit)
        return;
    switch (m_form) {
    case Form::Fixed: {
        std::string s(m_size, '\0');
        in.ReadBytes(s.data(), m_size);
        m_value = s;
        break;
    }
    case Form::Counted: {
        std::string s(m_size, '\0');
        in.ReadBytes(s.data(), m_size);
        const size_t len = std::min<size_t>(uint8_t(s[0]), m_size ? m_size - 1 : 0);
        m_value = s.substr(1, len);
        break;
    }
    case Form::Terminated: {
        const uint8_t* p = in.Current();
        const size_t n = in.Remaining();
        const void* z = memchr(p, 0, n);
        const size_t len = z ? size_t(static_cast<const uint8_t*>(z) - p) : n;
        m_value.assign(reinterpret_cast<const char*>(p), len);
        in.Skip(z ? len + 1 : len);
        break;
    }
    }
}

void MP4StringProperty::Write(MP4Output& out)
{
    if (m_implicit)
        return;
    switch (m_form) {
    case Form::Fixed:
        out.WriteBytes(m_value.data(), m_value.size());
        out.WriteZeros(m_size - m_value.size());
        break;
    case Form::Counted:
        if (m_size == 0)
            break;
        out.WriteUInt8(uint8_t(m_value.size()));
        out.WriteBytes(m_value.data(), m_value.size());
        out.WriteZeros(m_size - 1 - m_value.size());
        break;
    case Form::Terminated:
        out.WriteBytes(m_value.data(), m_value.size());
        out.WriteUInt8(0);
        break;
    }
}

void MP4StringProperty::Dump(std::string& out, int indent, bool dumpImplicits) const
{
    if (m_implicit && !dumpImplicits)
        return;
    AppendLine(out, indent, m_name + " = \"" + m_value + "\"");
}

// --- MP4Atom ---

MP4Atom::MP4Atom(MP4File& file, const char* type) : m_file(file)
{
    memset(m_type, 0, sizeof(m_type));
    if (type)
        memcpy(m_type, type, strnlen(type, 4));
}

MP4Atom::~MP4Atom() = default;

bool MP4Atom::IsType(const char* type) const
{
    return memcmp(m_type, type, 4) == 0;
}

MP4Atom* MP4Atom::GetChildAtom(size_t index) const
{
    return index < m_children.size() ? m_children[index].get() : nullptr;
}

void MP4Atom::AddChildAtom(MP4Atom* child)
{
    InsertChildAtom(child, m_children.size());
}

void MP4Atom::InsertChildAtom(MP4Atom* child, size_t index)
{
    child->m_parent = this;
    index = std::min(index, m_children.size());
    m_children.insert(m_children.begin() + std::ptrdiff_t(index), std::unique_ptr<MP4Atom>(child));
}

MP4Atom* MP4Atom::AddNewChildAtom(const char* type, size_t index)
{
    MP4Atom* child = CreateAtom(m_file, this, type);
    InsertChildAtom(child, index);
    child->Generate();
    return child;
}

void MP4Atom::DeleteChildAtom(MP4Atom* child)
{
    m_children.erase(std::remove_if(m_children.begin(), m_children.end(),
                                    [&](const std::unique_ptr<MP4Atom>& c) { return c.get() == child; }),
                     m_children.end());
}

MP4Atom* MP4Atom::FindChildAtom(const char* name)
{
    if (!name || !*name)
        return this;
    const PathPart part = SplitPath(name);
    uint32_t seen = 0;
    for (auto& child : m_children) {
        if (!TypeMatches(child.get(), part.type))
            continue;
        if (seen++ != part.index)
            continue;
        return part.hasRest ? child->FindChildAtom(part.rest.c_str()) : child.get();
    }
    return nullptr;
}

MP4Atom* MP4Atom::FindAtom(const char* name)
{
    if (!name)
        return nullptr;
    const PathPart part = SplitPath(name);
    if (!TypeMatches(this, part.type))
        return nullptr;
    return part.hasRest ? FindChildAtom(part.rest.c_str()) : this;
}

MP4Property* MP4Atom::FindOwnProperty(const char* name) const
{
    for (const auto& p : m_props)
        if (strcmp(p->GetName(), name) == 0)
            return p.get();
    return nullptr;
}

bool MP4Atom::FindProperty(const char* name, MP4Property** ppProperty, uint32_t* pIndex)
{
    if (!name || !*name)
        return false;
    if (MP4Property* p = FindOwnProperty(name)) {
        if (ppProperty)
            *ppProperty = p;
        if (pIndex)
            *pIndex = 0;
        return true;
    }
    const PathPart part = SplitPath(name);
    if (!part.hasRest)
        return false;
    uint32_t seen = 0;
    for (auto& child : m_children) {
        if (!TypeMatches(child.get(), part.type))
            continue;
        if (seen++ != part.index)
            continue;
        if (child->FindProperty(part.rest.c_str(), ppProperty, pIndex))
            return true;
        if (part.type != "*")
            return false;
    }
    return false;
}

MP4Property* MP4Atom::GetProperty(size_t index) const
{
    return index < m_props.size() ? m_props[index].get() : nullptr;
}

void MP4Atom::AddVersionAndFlags()
{
    AddProperty(new MP4IntegerProperty(this, "version", 8));
    AddProperty(new MP4IntegerProperty(this, "flags", 24));
}

namespace {

// The "version" and "flags" properties; a box without them reads 0 and ignores a set.
uint64_t OwnIntegerValue(const MP4Atom* atom, const char* name)
{
    auto* p = dynamic_cast<MP4IntegerProperty*>(atom->FindOwnProperty(name));
    return p ? p->GetValue() : 0;
}

void SetOwnInteger(MP4Atom* atom, const char* name, uint64_t value)
{
    if (auto* p = dynamic_cast<MP4IntegerProperty*>(atom->FindOwnProperty(name)))
        p->SetValue(value);
}

} // namespace

uint8_t MP4Atom::GetVersion() const
{
    return uint8_t(OwnIntegerValue(this, "version"));
}

void MP4Atom::SetVersion(uint8_t version)
{
    SetOwnInteger(this, "version", version);
}

uint32_t MP4Atom::GetFlags() const
{
    return uint32_t(OwnIntegerValue(this, "flags"));
}

void MP4Atom::SetFlags(uint32_t flags)
{
    SetOwnInteger(this, "flags", flags);
}

void MP4Atom::Generate()
{
}

void MP4Atom::Read(MP4Input& in, int depth)
{
    ReadProperties(in);
    ReadChildAtoms(in, depth);
}

void MP4Atom::ReadProperties(MP4Input& in)
{
    for (auto& p : m_props)
        p->Read(in);
    in.AlignBits();
}

void MP4Atom::ReadChildAtoms(MP4Input& in, int depth)
{
    while (in.Remaining() >= 8) {
        const size_t start = in.Position();
        uint64_t size = in.ReadUInt32();
        char type[5] = {};
        in.ReadBytes(type, 4);
        size_t header = 8;
        if (size == 1) {
            size = in.ReadUInt64();
            header = 16;
        } else if (size == 0) {
            size = header + in.Remaining();
        }
        if (size < header || size - header > in.Remaining())
            Throw("box \"%s\" at %zu: size %llu runs past its parent", FourCCText(type).c_str(), start,
                  static_cast<unsigned long long>(size));
        if (depth >= kMaxAtomDepth)
            Throw("boxes nested too deeply");
        MP4Input payload = in.Sub(size_t(size - header));
        MP4Atom* child = CreateAtom(m_file, this, type);
        AddChildAtom(child);
        child->Read(payload, depth + 1);
    }
    // A few writers end a box with up to 7 bytes of padding.
    in.Skip(in.Remaining());
}

void MP4Atom::Write(MP4Output& out)
{
    const size_t start = out.Position();
    out.WriteUInt32(0);
    out.WriteBytes(m_type, 4);
    WritePayload(out);
    out.FlushBits();
    const size_t size = out.Position() - start;
    if (size > 0xFFFFFFFFu)
        Throw("box \"%s\" too large", m_type);
    out.PatchUInt32(start, uint32_t(size));
}

void MP4Atom::WritePayload(MP4Output& out)
{
    for (auto& p : m_props)
        p->Write(out);
    out.FlushBits();
    WriteChildAtoms(out);
}

void MP4Atom::WriteChildAtoms(MP4Output& out)
{
    for (auto& c : m_children)
        c->Write(out);
}

void MP4Atom::Dump(std::string& out, int indent, bool dumpImplicits) const
{
    AppendLine(out, indent, std::string("type ") + FourCCText(m_type));
    for (const auto& p : m_props)
        p->Dump(out, indent + 1, dumpImplicits);
    for (const auto& c : m_children)
        c->Dump(out, indent + 1, dumpImplicits);
}

// --- raw boxes ---

void MP4RawAtom::Read(MP4Input& in, int)
{
    m_payload.assign(in.Current(), in.Current() + in.Remaining());
    in.Skip(in.Remaining());
}

void MP4RawAtom::WritePayload(MP4Output& out)
{
    out.WriteBytes(m_payload.data(), m_payload.size());
}

// --- headers with 32- or 64-bit times (mvhd, tkhd, mdhd) ---

namespace {

// Version 0 has 32-bit times and durations, version 1 64-bit ones. The
// properties are rebuilt when the version changes, keeping their values.
class MP4TimedHeaderAtom : public MP4Atom {
public:
    MP4TimedHeaderAtom(MP4File& file, const char* type) : MP4Atom(file, type) {}

    void Read(MP4Input& in, int depth) override
    {
        const uint8_t version = in.ReadUInt8();
        const uint32_t flags = in.ReadUInt24();
        Build(version);
        SetFlags(flags);
        for (size_t i = 2; i < m_props.size(); ++i)
            m_props[i]->Read(in);
        in.AlignBits();
        ReadChildAtoms(in, depth);
    }

    void SetTime(const char* name, uint64_t value)
    {
        auto* p = dynamic_cast<MP4IntegerProperty*>(FindOwnProperty(name));
        if (!p)
            return;
        if (value > 0xFFFFFFFFu && p->GetBits() < 64) {
            Build(1);
            p = dynamic_cast<MP4IntegerProperty*>(FindOwnProperty(name));
        }
        p->SetValue(value);
    }

    void Build(uint8_t version)
    {
        std::map<std::string, uint64_t> ints;
        std::map<std::string, std::vector<uint8_t>> bytes;
        for (auto& p : m_props) {
            if (auto* i = dynamic_cast<MP4IntegerProperty*>(p.get()))
                ints[i->GetName()] = i->GetValue();
            else if (auto* b = dynamic_cast<MP4BytesProperty*>(p.get()))
                bytes[b->GetName()] = b->Value();
        }
        m_props.clear();
        AddVersionAndFlags();
        AddFields(version ? 64 : 32);
        for (auto& p : m_props) {
            if (auto* i = dynamic_cast<MP4IntegerProperty*>(p.get())) {
                auto it = ints.find(i->GetName());
                if (it != ints.end())
                    i->SetValue(it->second);
            } else if (auto* b = dynamic_cast<MP4BytesProperty*>(p.get())) {
                auto it = bytes.find(b->GetName());
                if (it != bytes.end() && it->second.size() == b->GetFixedSize())
                    b->SetValue(it->second.data(), uint32_t(it->second.size()));
            }
        }
        SetVersion(version ? 1 : 0);
    }

protected:
    virtual void AddFields(unsigned timeBits) = 0;
};

class MP4MvhdAtom : public MP4TimedHeaderAtom {
public:
    explicit MP4MvhdAtom(MP4File& file) : MP4TimedHeaderAtom(file, "mvhd") { Build(0); }
    void Generate() override
    {
        SetIntegerProperty(this, "timeScale", 1000);
        SetIntegerProperty(this, "rate", 0x00010000);
        SetIntegerProperty(this, "volume", 0x0100);
        static_cast<MP4BytesProperty*>(FindOwnProperty("matrix"))->SetValue(kIdentityMatrix, 36);
        SetIntegerProperty(this, "nextTrackId", 1);
    }

protected:
    void AddFields(unsigned timeBits) override
    {
        AddProperty(new MP4IntegerProperty(this, "creationTime", timeBits));
        AddProperty(new MP4IntegerProperty(this, "modificationTime", timeBits));
        AddProperty(new MP4IntegerProperty(this, "timeScale", 32));
        AddProperty(new MP4IntegerProperty(this, "duration", timeBits));
        AddProperty(new MP4IntegerProperty(this, "rate", 32));
        AddProperty(new MP4IntegerProperty(this, "volume", 16));
        AddProperty(new MP4BytesProperty(this, "reserved", 10));
        AddProperty(new MP4BytesProperty(this, "matrix", 36));
        AddProperty(new MP4BytesProperty(this, "predefined", 24));
        AddProperty(new MP4IntegerProperty(this, "nextTrackId", 32));
    }
};

class MP4TkhdAtom : public MP4TimedHeaderAtom {
public:
    explicit MP4TkhdAtom(MP4File& file) : MP4TimedHeaderAtom(file, "tkhd") { Build(0); }
    void Generate() override
    {
        SetFlags(3); // enabled, in movie
        static_cast<MP4BytesProperty*>(FindOwnProperty("matrix"))->SetValue(kIdentityMatrix, 36);
    }

protected:
    void AddFields(unsigned timeBits) override
    {
        AddProperty(new MP4IntegerProperty(this, "creationTime", timeBits));
        AddProperty(new MP4IntegerProperty(this, "modificationTime", timeBits));
        AddProperty(new MP4IntegerProperty(this, "trackId", 32));
        AddProperty(new MP4IntegerProperty(this, "reserved1", 32));
        AddProperty(new MP4IntegerProperty(this, "duration", timeBits));
        AddProperty(new MP4BytesProperty(this, "reserved2", 8));
        AddProperty(new MP4IntegerProperty(this, "layer", 16));
        AddProperty(new MP4IntegerProperty(this, "alternate_group", 16));
        AddProperty(new MP4IntegerProperty(this, "volume", 16));
        AddProperty(new MP4IntegerProperty(this, "reserved3", 16));
        AddProperty(new MP4BytesProperty(this, "matrix", 36));
        AddProperty(new MP4IntegerProperty(this, "width", 32));  // 16.16
        AddProperty(new MP4IntegerProperty(this, "height", 32)); // 16.16
    }
};

class MP4MdhdAtom : public MP4TimedHeaderAtom {
public:
    explicit MP4MdhdAtom(MP4File& file) : MP4TimedHeaderAtom(file, "mdhd") { Build(0); }
    void Generate() override
    {
        // "und": each letter - 0x60 in 5 bits.
        SetIntegerProperty(this, "language", ((('u' - 0x60) << 10) | (('n' - 0x60) << 5) | ('d' - 0x60)));
    }

protected:
    void AddFields(unsigned timeBits) override
    {
        AddProperty(new MP4IntegerProperty(this, "creationTime", timeBits));
        AddProperty(new MP4IntegerProperty(this, "modificationTime", timeBits));
        AddProperty(new MP4IntegerProperty(this, "timeScale", 32));
        AddProperty(new MP4IntegerProperty(this, "duration", timeBits));
        AddProperty(new MP4IntegerProperty(this, "language", 16));
        AddProperty(new MP4IntegerProperty(this, "quality", 16));
    }
};

class MP4HdlrAtom : public MP4Atom {
public:
    explicit MP4HdlrAtom(MP4File& file) : MP4Atom(file, "hdlr")
    {
        AddVersionAndFlags();
        AddProperty(new MP4IntegerProperty(this, "predefined", 32));
        AddProperty(new MP4StringProperty(this, "handlerType", MP4StringProperty::Form::Fixed, 4));
        AddProperty(new MP4BytesProperty(this, "reserved", 12));
        AddProperty(new MP4StringProperty(this, "name", MP4StringProperty::Form::Terminated));
    }
    void Read(MP4Input& in, int) override
    {
        for (size_t i = 0; i + 1 < m_props.size(); ++i)
            m_props[i]->Read(in);
        if (in.Remaining())
            m_props.back()->Read(in);
        in.Skip(in.Remaining());
    }
};

class MP4VmhdAtom : public MP4Atom {
public:
    explicit MP4VmhdAtom(MP4File& file) : MP4Atom(file, "vmhd")
    {
        AddVersionAndFlags();
        AddProperty(new MP4IntegerProperty(this, "graphicsMode", 16));
        AddProperty(new MP4BytesProperty(this, "opColor", 6));
    }
    void Generate() override { SetFlags(1); }
};

class MP4SmhdAtom : public MP4Atom {
public:
    explicit MP4SmhdAtom(MP4File& file) : MP4Atom(file, "smhd")
    {
        AddVersionAndFlags();
        AddProperty(new MP4IntegerProperty(this, "balance", 16));
        AddProperty(new MP4IntegerProperty(this, "reserved", 16));
    }
};

// stsd and dref: version, flags and an entry count before their child boxes;
// the count written is the number of children.
class MP4EntryListAtom : public MP4Atom {
public:
    MP4EntryListAtom(MP4File& file, const char* type) : MP4Atom(file, type)
    {
        AddVersionAndFlags();
        AddProperty(new MP4IntegerProperty(this, "entryCount", 32));
    }
    void Generate() override
    {
        if (IsType("dref")) {
            MP4Atom* url = AddNewChildAtom("url ");
            url->SetFlags(1); // media data in this file
        }
    }

protected:
    void WritePayload(MP4Output& out) override
    {
        SetIntegerProperty(this, "entryCount", m_children.size());
        MP4Atom::WritePayload(out);
    }
};

class MP4UrlAtom : public MP4Atom {
public:
    MP4UrlAtom(MP4File& file, const char* type) : MP4Atom(file, type)
    {
        AddVersionAndFlags();
        AddProperty(new MP4StringProperty(this, "location", MP4StringProperty::Form::Terminated));
    }
    void Read(MP4Input& in, int) override
    {
        m_props[0]->Read(in);
        m_props[1]->Read(in);
        if (in.Remaining())
            m_props[2]->Read(in);
        in.Skip(in.Remaining());
    }

protected:
    void WritePayload(MP4Output& out) override
    {
        m_props[0]->Write(out);
        m_props[1]->Write(out);
        if (!static_cast<MP4StringProperty*>(m_props[2].get())->GetValue().empty())
            m_props[2]->Write(out);
    }
};

template <class T> MP4Atom* Make(MP4File& file, const char*)
{
    return new T(file);
}
template <class T> MP4Atom* MakeTyped(MP4File& file, const char* type)
{
    return new T(file, type);
}

struct BuiltIn {
    const char* type;
    MP4AtomCreator create;
};

const BuiltIn kBuiltIns[] = {
    {"moov", MakeTyped<MP4ContainerAtom>}, {"trak", MakeTyped<MP4ContainerAtom>},
    {"mdia", MakeTyped<MP4ContainerAtom>}, {"minf", MakeTyped<MP4ContainerAtom>},
    {"dinf", MakeTyped<MP4ContainerAtom>}, {"stbl", MakeTyped<MP4ContainerAtom>},
    {"mvhd", Make<MP4MvhdAtom>},           {"tkhd", Make<MP4TkhdAtom>},
    {"mdhd", Make<MP4MdhdAtom>},           {"hdlr", Make<MP4HdlrAtom>},
    {"vmhd", Make<MP4VmhdAtom>},           {"smhd", Make<MP4SmhdAtom>},
    {"dref", MakeTyped<MP4EntryListAtom>}, {"stsd", MakeTyped<MP4EntryListAtom>},
    {"url ", MakeTyped<MP4UrlAtom>},       {"stts", Make<MP4SttsAtom>},
    {"ctts", Make<MP4CttsAtom>},           {"stss", Make<MP4StssAtom>},
    {"stsz", MakeTyped<MP4StszAtom>},      {"stz2", MakeTyped<MP4StszAtom>},
    {"stsc", Make<MP4StscAtom>},           {"stco", MakeTyped<MP4ChunkOffsetAtom>},
    {"co64", MakeTyped<MP4ChunkOffsetAtom>}, {"avcC", Make<MP4AvcCAtom>},
    {"esds", Make<MP4EsdsAtom>},           {"iods", Make<MP4IodsAtom>},
    {"ftyp", Make<MP4FtypAtom>},           {"avc1", MakeTyped<MP4VisualSampleEntryAtom>},
    {"avc3", MakeTyped<MP4VisualSampleEntryAtom>}, {"mp4a", MakeTyped<MP4SoundAtom>},
    {"ulaw", MakeTyped<MP4SoundAtom>},     {"alaw", MakeTyped<MP4SoundAtom>},
    {"sowt", MakeTyped<MP4SoundAtom>},     {"twos", MakeTyped<MP4SoundAtom>},
    {"lpcm", MakeTyped<MP4SoundAtom>},     {".mp3", MakeTyped<MP4SoundAtom>},
    {"Opus", MakeTyped<MP4SoundAtom>},     {"ac-3", MakeTyped<MP4SoundAtom>},
};

} // namespace

MP4Atom* MP4Atom::CreateAtom(MP4File& file, MP4Atom* /*parent*/, const char* type)
{
    char t[5] = {};
    if (type)
        memcpy(t, type, strnlen(type, 4));
    {
        std::shared_lock lock(g_factoryMutex);
        auto& reg = Registry();
        auto it = reg.find(std::string(t, 4));
        if (it != reg.end())
            return it->second(file, t);
    }
    for (const BuiltIn& b : kBuiltIns)
        if (memcmp(b.type, t, 4) == 0)
            return b.create(file, t);
    return new MP4RawAtom(file, t);
}

void MP4Atom::RegisterType(const char* type, MP4AtomCreator creator)
{
    char t[5] = {};
    memcpy(t, type, strnlen(type, 4));
    std::unique_lock lock(g_factoryMutex);
    Registry()[std::string(t, 4)] = creator;
}

// --- sample entries ---

MP4VisualSampleEntryAtom::MP4VisualSampleEntryAtom(MP4File& file, const char* type) : MP4Atom(file, type)
{
    AddProperty(new MP4BytesProperty(this, "reserved1", 6));
    AddProperty(new MP4IntegerProperty(this, "dataReferenceIndex", 16));
    AddProperty(new MP4BytesProperty(this, "reserved2", 16));
    AddProperty(new MP4IntegerProperty(this, "width", 16));
    AddProperty(new MP4IntegerProperty(this, "height", 16));
    AddProperty(new MP4BytesProperty(this, "reserved3", 14));
    AddProperty(new MP4StringProperty(this, "compressorName", MP4StringProperty::Form::Counted, 32));
    AddProperty(new MP4BytesProperty(this, "reserved4", 4));
}

void MP4VisualSampleEntryAtom::Generate()
{
    SetIntegerProperty(this, "dataReferenceIndex", 1);
    static const uint8_t reserved3[14] = {0x00, 0x48, 0x00, 0x00, 0x00, 0x48, 0x00,
                                          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
    static_cast<MP4BytesProperty*>(FindOwnProperty("reserved3"))->SetValue(reserved3, 14);
    static const uint8_t reserved4[4] = {0x00, 0x18, 0xFF, 0xFF};
    static_cast<MP4BytesProperty*>(FindOwnProperty("reserved4"))->SetValue(reserved4, 4);
    if (IsType("avc1") || IsType("avc3"))
        AddNewChildAtom("avcC");
}

MP4SoundAtom::MP4SoundAtom(MP4File& file, const char* type) : MP4Atom(file, type)
{
    AddProperty(new MP4BytesProperty(this, "reserved1", 6));
    AddProperty(new MP4IntegerProperty(this, "dataReferenceIndex", 16));
    AddProperty(new MP4IntegerProperty(this, "soundVersion", 16));
    AddProperty(new MP4BytesProperty(this, "reserved2", 6));
    AddProperty(new MP4IntegerProperty(this, "channels", 16));
    AddProperty(new MP4IntegerProperty(this, "sampleSize", 16));
    AddProperty(new MP4IntegerProperty(this, "compressionId", 16));
    AddProperty(new MP4IntegerProperty(this, "packetSize", 16));
    AddProperty(new MP4IntegerProperty(this, "timeScale", 16));
    AddProperty(new MP4IntegerProperty(this, "reserved3", 16));
}

void MP4SoundAtom::Generate()
{
    SetIntegerProperty(this, "dataReferenceIndex", 1);
    SetIntegerProperty(this, "channels", 2);
    SetIntegerProperty(this, "sampleSize", 16);
    if (IsType("mp4a"))
        AddNewChildAtom("esds");
}

void MP4SoundAtom::Read(MP4Input& in, int depth)
{
    ReadProperties(in);
    const uint64_t version = GetIntegerProperty(this, "soundVersion");
    const size_t extra = version == 1 ? 16 : version == 2 ? 36 : 0;
    m_versionFields.resize(extra);
    in.ReadBytes(m_versionFields.data(), extra);
    ReadChildAtoms(in, depth);
}

void MP4SoundAtom::WritePayload(MP4Output& out)
{
    for (auto& p : m_props)
        p->Write(out);
    out.WriteBytes(m_versionFields.data(), m_versionFields.size());
    WriteChildAtoms(out);
}

// --- sample tables ---

namespace {

// Reads version, flags and an entry count, and checks that the entries fit.
uint32_t ReadTableHead(MP4Atom* atom, MP4Input& in, size_t entrySize)
{
    const uint8_t version = in.ReadUInt8();
    const uint32_t flags = in.ReadUInt24();
    atom->SetVersion(version);
    atom->SetFlags(flags);
    const uint32_t count = in.ReadUInt32();
    if (uint64_t(count) * entrySize > in.Remaining())
        Throw("box \"%s\": %u entries do not fit in %zu bytes", atom->GetType(), count, in.Remaining());
    return count;
}

void WriteTableHead(MP4Atom* atom, MP4Output& out, uint32_t count)
{
    out.WriteUInt8(atom->GetVersion());
    out.WriteUInt24(atom->GetFlags());
    out.WriteUInt32(count);
}

// A table of fixed-size entries: head, entries, then any trailing bytes skipped.
template <class T, class ReadEntry>
void ReadTable(MP4Atom* atom, MP4Input& in, size_t entrySize, std::vector<T>& table, ReadEntry readEntry)
{
    const uint32_t n = ReadTableHead(atom, in, entrySize);
    table.resize(n);
    for (auto& e : table)
        readEntry(e);
    in.Skip(in.Remaining());
}

// A config-only output gets the head with no entries.
template <class T, class WriteEntry>
void WriteTable(MP4Atom* atom, MP4Output& out, const std::vector<T>& table, WriteEntry writeEntry)
{
    const uint32_t n = out.configOnly ? 0 : uint32_t(table.size());
    WriteTableHead(atom, out, n);
    for (uint32_t i = 0; i < n; ++i)
        writeEntry(table[i]);
}

} // namespace

void MP4SttsAtom::Read(MP4Input& in, int)
{
    ReadTable(this, in, 8, entries, [&](Entry& e) {
        e.count = in.ReadUInt32();
        e.delta = in.ReadUInt32();
    });
}

void MP4SttsAtom::WritePayload(MP4Output& out)
{
    WriteTable(this, out, entries, [&](const Entry& e) {
        out.WriteUInt32(e.count);
        out.WriteUInt32(e.delta);
    });
}

void MP4CttsAtom::Read(MP4Input& in, int)
{
    ReadTable(this, in, 8, entries, [&](Entry& e) {
        e.count = in.ReadUInt32();
        e.offset = int32_t(in.ReadUInt32());
    });
}

void MP4CttsAtom::WritePayload(MP4Output& out)
{
    // Version 1 when an offset written is negative.
    bool negative = false;
    if (!out.configOnly)
        for (const Entry& e : entries)
            negative |= e.offset < 0;
    SetVersion(negative ? 1 : 0);
    WriteTable(this, out, entries, [&](const Entry& e) {
        out.WriteUInt32(e.count);
        out.WriteUInt32(uint32_t(e.offset));
    });
}

void MP4StssAtom::Read(MP4Input& in, int)
{
    ReadTable(this, in, 4, ids, [&](uint32_t& id) { id = in.ReadUInt32(); });
}

void MP4StssAtom::WritePayload(MP4Output& out)
{
    WriteTable(this, out, ids, [&](uint32_t id) { out.WriteUInt32(id); });
}

void MP4StszAtom::Read(MP4Input& in, int)
{
    SetVersion(in.ReadUInt8());
    SetFlags(in.ReadUInt24());
    if (IsType("stz2")) {
        in.Skip(3);
        const unsigned fieldSize = in.ReadUInt8();
        const uint32_t n = in.ReadUInt32();
        if (fieldSize != 4 && fieldSize != 8 && fieldSize != 16)
            Throw("stz2: bad field size %u", fieldSize);
        if ((uint64_t(n) * fieldSize + 7) / 8 > in.Remaining())
            Throw("stz2: %u entries do not fit", n);
        sampleSize = 0;
        sizes.resize(n);
        for (auto& s : sizes)
            s = uint32_t(in.ReadBits(fieldSize));
        in.AlignBits();
        in.Skip(in.Remaining());
        return;
    }
    sampleSize = in.ReadUInt32();
    const uint32_t n = in.ReadUInt32();
    sizes.clear();
    sampleCount = n;
    if (sampleSize == 0) {
        if (uint64_t(n) * 4 > in.Remaining())
            Throw("stsz: %u entries do not fit in %zu bytes", n, in.Remaining());
        sizes.resize(n);
        for (auto& s : sizes)
            s = in.ReadUInt32();
    }
    in.Skip(in.Remaining());
}

void MP4StszAtom::WritePayload(MP4Output& out)
{
    out.WriteUInt8(GetVersion());
    out.WriteUInt24(GetFlags());
    if (out.configOnly) {
        out.WriteUInt32(0);
        out.WriteUInt32(0);
        return;
    }
    out.WriteUInt32(sampleSize);
    out.WriteUInt32(Count());
    if (sampleSize == 0)
        for (uint32_t s : sizes)
            out.WriteUInt32(s);
}

void MP4StscAtom::Read(MP4Input& in, int)
{
    ReadTable(this, in, 12, entries, [&](Entry& e) {
        e.firstChunk = in.ReadUInt32();
        e.samplesPerChunk = in.ReadUInt32();
        e.sampleDescriptionIndex = in.ReadUInt32();
    });
}

void MP4StscAtom::WritePayload(MP4Output& out)
{
    WriteTable(this, out, entries, [&](const Entry& e) {
        out.WriteUInt32(e.firstChunk);
        out.WriteUInt32(e.samplesPerChunk);
        out.WriteUInt32(e.sampleDescriptionIndex);
    });
}

void MP4ChunkOffsetAtom::Read(MP4Input& in, int)
{
    const bool wide = Is64();
    ReadTable(this, in, wide ? 8 : 4, offsets, [&](uint64_t& o) { o = wide ? in.ReadUInt64() : in.ReadUInt32(); });
}

void MP4ChunkOffsetAtom::WritePayload(MP4Output& out)
{
    const bool wide = Is64();
    WriteTable(this, out, offsets, [&](uint64_t o) {
        if (wide)
            out.WriteUInt64(o);
        else if (o > 0xFFFFFFFFu)
            Throw("chunk offset %llu needs co64", static_cast<unsigned long long>(o));
        else
            out.WriteUInt32(uint32_t(o));
    });
}

// --- avcC ---

namespace {

// Each parameter set is a 16-bit length and its bytes.
void ReadParameterSets(MP4Input& in, unsigned count, std::vector<std::vector<uint8_t>>& sets)
{
    for (unsigned i = 0; i < count; ++i) {
        const uint16_t len = in.ReadUInt16();
        std::vector<uint8_t> nal(len);
        in.ReadBytes(nal.data(), len);
        sets.push_back(std::move(nal));
    }
}

void WriteParameterSets(MP4Output& out, size_t count, const std::vector<std::vector<uint8_t>>& sets)
{
    for (size_t i = 0; i < count; ++i) {
        out.WriteUInt16(uint16_t(sets[i].size()));
        out.WriteBytes(sets[i].data(), sets[i].size());
    }
}

} // namespace

MP4AvcCAtom::MP4AvcCAtom(MP4File& file) : MP4Atom(file, "avcC")
{
    AddProperty(new MP4IntegerProperty(this, "configurationVersion", 8, 1));
    AddProperty(new MP4IntegerProperty(this, "AVCProfileIndication", 8));
    AddProperty(new MP4IntegerProperty(this, "profile_compatibility", 8));
    AddProperty(new MP4IntegerProperty(this, "AVCLevelIndication", 8));
    AddProperty(new MP4IntegerProperty(this, "reserved", 6, 0x3F));
    AddProperty(new MP4IntegerProperty(this, "lengthSizeMinusOne", 2, 3));
}

void MP4AvcCAtom::Generate()
{
    SetIntegerProperty(this, "configurationVersion", 1);
}

void MP4AvcCAtom::Read(MP4Input& in, int)
{
    ReadProperties(in);
    sequenceParameterSets.clear();
    pictureParameterSets.clear();
    m_extension.clear();
    if (in.Remaining() == 0)
        return;
    ReadParameterSets(in, in.ReadUInt8() & 0x1F, sequenceParameterSets);
    ReadParameterSets(in, in.ReadUInt8(), pictureParameterSets);
    m_extension.assign(in.Current(), in.Current() + in.Remaining());
    in.Skip(in.Remaining());
}

void MP4AvcCAtom::WritePayload(MP4Output& out)
{
    for (auto& p : m_props)
        p->Write(out);
    out.FlushBits();
    const size_t numSps = std::min<size_t>(sequenceParameterSets.size(), 31);
    out.WriteUInt8(uint8_t(0xE0 | numSps));
    WriteParameterSets(out, numSps, sequenceParameterSets);
    const size_t numPps = std::min<size_t>(pictureParameterSets.size(), 255);
    out.WriteUInt8(uint8_t(numPps));
    WriteParameterSets(out, numPps, pictureParameterSets);
    out.WriteBytes(m_extension.data(), m_extension.size());
}

void MP4AvcCAtom::Dump(std::string& out, int indent, bool dumpImplicits) const
{
    MP4Atom::Dump(out, indent, dumpImplicits);
    AppendLine(out, indent + 1, "numOfSequenceParameterSets = " + std::to_string(sequenceParameterSets.size()));
    AppendLine(out, indent + 1, "numOfPictureParameterSets = " + std::to_string(pictureParameterSets.size()));
}

// --- esds ---

namespace {

constexpr uint8_t kESDescrTag = 0x03;
constexpr uint8_t kDecConfigDescrTag = 0x04;
constexpr uint8_t kDecSpecificDescrTag = 0x05;
constexpr uint8_t kSLConfigDescrTag = 0x06;
constexpr uint8_t kIODescrTag = 0x10;
constexpr uint8_t kMP4IODescrTag = 0x02;
constexpr uint8_t kESIDIncDescrTag = 0x0E;

// A descriptor: its tag and its body as an input of its own.
MP4Input ReadDescriptor(MP4Input& in, uint8_t* tag)
{
    *tag = in.ReadUInt8();
    uint32_t len = 0;
    for (int i = 0; i < 4; ++i) {
        const uint8_t b = in.ReadUInt8();
        len = (len << 7) | (b & 0x7F);
        if (!(b & 0x80))
            break;
    }
    if (len > in.Remaining())
        Throw("descriptor 0x%02X: length %u runs past its box", *tag, len);
    return in.Sub(len);
}

void WriteDescriptorHead(MP4Output& out, uint8_t tag, size_t len)
{
    out.WriteUInt8(tag);
    if (len > 0x0FFFFFFF)
        Throw("descriptor too large");
    uint8_t bytes[4];
    int n = 0;
    do {
        bytes[n++] = uint8_t(len & 0x7F);
        len >>= 7;
    } while (len && n < 4);
    while (n-- > 0)
        out.WriteUInt8(uint8_t(bytes[n] | (n ? 0x80 : 0)));
}

} // namespace

MP4EsdsAtom::MP4EsdsAtom(MP4File& file) : MP4Atom(file, "esds")
{
    AddVersionAndFlags();
    AddProperty(new MP4IntegerProperty(this, "ESID", 16));
    AddProperty(new MP4IntegerProperty(this, "decConfigDescr.objectTypeId", 8));
    AddProperty(new MP4IntegerProperty(this, "decConfigDescr.streamType", 6));
    AddProperty(new MP4IntegerProperty(this, "decConfigDescr.upStream", 1));
    AddProperty(new MP4IntegerProperty(this, "decConfigDescr.bufferSizeDB", 24));
    AddProperty(new MP4IntegerProperty(this, "decConfigDescr.maxBitrate", 32));
    AddProperty(new MP4IntegerProperty(this, "decConfigDescr.avgBitrate", 32));
    m_info = AddProperty(new MP4BytesProperty(this, "decConfigDescr.decSpecificInfo.info"));
    AddProperty(new MP4IntegerProperty(this, "slConfigDescr.predefined", 8, 2));
}

void MP4EsdsAtom::Generate()
{
    Set("decConfigDescr.objectTypeId", MP4_MPEG4_AUDIO_TYPE);
    Set("decConfigDescr.streamType", 5); // audio
    Set("slConfigDescr.predefined", 2);
}

uint64_t MP4EsdsAtom::Get(const char* name) const
{
    return static_cast<MP4IntegerProperty*>(FindOwnProperty(name))->GetValue();
}

void MP4EsdsAtom::Set(const char* name, uint64_t value)
{
    static_cast<MP4IntegerProperty*>(FindOwnProperty(name))->SetValue(value);
}

void MP4EsdsAtom::SetDecoderSpecificInfo(const uint8_t* data, uint32_t size)
{
    m_info->SetValue(data, size);
    m_hasInfo = size > 0;
}

void MP4EsdsAtom::Read(MP4Input& in, int)
{
    SetVersion(in.ReadUInt8());
    SetFlags(in.ReadUInt24());
    uint8_t tag = 0;
    MP4Input es = ReadDescriptor(in, &tag);
    if (tag != kESDescrTag)
        Throw("esds: no ES descriptor (tag 0x%02X)", tag);
    Set("ESID", es.ReadUInt16());
    const uint8_t esFlags = es.ReadUInt8();
    if (esFlags & 0x80)
        es.Skip(2); // dependsOn_ES_ID
    if (esFlags & 0x40)
        es.Skip(es.ReadUInt8()); // URL
    if (esFlags & 0x20)
        es.Skip(2); // OCR_ES_Id
    while (es.Remaining() >= 2) {
        MP4Input d = ReadDescriptor(es, &tag);
        if (tag == kDecConfigDescrTag) {
            Set("decConfigDescr.objectTypeId", d.ReadUInt8());
            const uint8_t st = d.ReadUInt8();
            Set("decConfigDescr.streamType", st >> 2);
            Set("decConfigDescr.upStream", (st >> 1) & 1);
            Set("decConfigDescr.bufferSizeDB", d.ReadUInt24());
            Set("decConfigDescr.maxBitrate", d.ReadUInt32());
            Set("decConfigDescr.avgBitrate", d.ReadUInt32());
            while (d.Remaining() >= 2) {
                MP4Input sub = ReadDescriptor(d, &tag);
                if (tag == kDecSpecificDescrTag && !m_hasInfo) {
                    m_info->SetValue(sub.Current(), uint32_t(sub.Remaining()));
                    m_hasInfo = true;
                }
            }
        } else if (tag == kSLConfigDescrTag && d.Remaining() >= 1) {
            Set("slConfigDescr.predefined", d.ReadUInt8());
        }
    }
    in.Skip(in.Remaining());
}

void MP4EsdsAtom::WritePayload(MP4Output& out)
{
    out.WriteUInt8(GetVersion());
    out.WriteUInt24(GetFlags());

    MP4Output dec;
    dec.WriteUInt8(uint8_t(Get("decConfigDescr.objectTypeId")));
    dec.WriteUInt8(uint8_t((Get("decConfigDescr.streamType") << 2) | (Get("decConfigDescr.upStream") << 1) | 1));
    dec.WriteUInt24(uint32_t(Get("decConfigDescr.bufferSizeDB")));
    dec.WriteUInt32(uint32_t(Get("decConfigDescr.maxBitrate")));
    dec.WriteUInt32(uint32_t(Get("decConfigDescr.avgBitrate")));
    if (m_hasInfo) {
        const auto& info = m_info->Value();
        WriteDescriptorHead(dec, kDecSpecificDescrTag, info.size());
        dec.WriteBytes(info.data(), info.size());
    }

    MP4Output es;
    es.WriteUInt16(uint16_t(Get("ESID")));
    es.WriteUInt8(0);
    WriteDescriptorHead(es, kDecConfigDescrTag, dec.Position());
    es.WriteBytes(dec.Bytes().data(), dec.Position());
    WriteDescriptorHead(es, kSLConfigDescrTag, 1);
    es.WriteUInt8(uint8_t(Get("slConfigDescr.predefined")));

    WriteDescriptorHead(out, kESDescrTag, es.Position());
    out.WriteBytes(es.Bytes().data(), es.Position());
}

// --- iods ---

MP4IodsAtom::MP4IodsAtom(MP4File& file) : MP4Atom(file, "iods")
{
    AddVersionAndFlags();
    AddProperty(new MP4IntegerProperty(this, "ODProfileLevelId", 8, 0xFF));
    AddProperty(new MP4IntegerProperty(this, "sceneProfileLevelId", 8, 0xFF));
    AddProperty(new MP4IntegerProperty(this, "audioProfileLevelId", 8, 0xFF));
    AddProperty(new MP4IntegerProperty(this, "visualProfileLevelId", 8, 0xFF));
    AddProperty(new MP4IntegerProperty(this, "graphicsProfileLevelId", 8, 0xFF));
}

void MP4IodsAtom::Generate()
{
}

void MP4IodsAtom::Read(MP4Input& in, int)
{
    SetVersion(in.ReadUInt8());
    SetFlags(in.ReadUInt24());
    trackIds.clear();
    if (in.Remaining() < 2) {
        in.Skip(in.Remaining());
        return;
    }
    uint8_t tag = 0;
    MP4Input od = ReadDescriptor(in, &tag);
    in.Skip(in.Remaining());
    if (tag != kIODescrTag && tag != kMP4IODescrTag)
        return;
    const uint16_t head = od.ReadUInt16();
    if (head & 0x20) { // URL_Flag: no profile levels follow
        od.Skip(od.Remaining());
        return;
    }
    if (od.Remaining() < 5)
        return;
    for (const char* n : {"ODProfileLevelId", "sceneProfileLevelId", "audioProfileLevelId",
                          "visualProfileLevelId", "graphicsProfileLevelId"})
        SetIntegerProperty(this, n, od.ReadUInt8());
    while (od.Remaining() >= 2) {
        MP4Input d = ReadDescriptor(od, &tag);
        if (tag == kESIDIncDescrTag && d.Remaining() >= 4)
            trackIds.push_back(d.ReadUInt32());
    }
}

void MP4IodsAtom::WritePayload(MP4Output& out)
{
    out.WriteUInt8(GetVersion());
    out.WriteUInt24(GetFlags());
    MP4Output od;
    od.WriteUInt16(0x004F); // ObjectDescriptorID 1, no URL, no inline profiles, reserved bits
    for (const char* n : {"ODProfileLevelId", "sceneProfileLevelId", "audioProfileLevelId",
                          "visualProfileLevelId", "graphicsProfileLevelId"})
        od.WriteUInt8(uint8_t(GetIntegerProperty(this, n)));
    for (uint32_t id : trackIds) {
        WriteDescriptorHead(od, kESIDIncDescrTag, 4);
        od.WriteUInt32(id);
    }
    WriteDescriptorHead(out, kIODescrTag, od.Position());
    out.WriteBytes(od.Bytes().data(), od.Position());
}

// --- ftyp ---

MP4FtypAtom::MP4FtypAtom(MP4File& file) : MP4Atom(file, "ftyp")
{
    AddProperty(new MP4StringProperty(this, "majorBrand", MP4StringProperty::Form::Fixed, 4));
    AddProperty(new MP4IntegerProperty(this, "minorVersion", 32));
}

void MP4FtypAtom::Generate()
{
    static_cast<MP4StringProperty*>(FindOwnProperty("majorBrand"))->SetValue("mp42");
    compatibleBrands = {"mp42", "isom"};
}

void MP4FtypAtom::Read(MP4Input& in, int)
{
    ReadProperties(in);
    compatibleBrands.clear();
    while (in.Remaining() >= 4) {
        std::string b(4, '\0');
        in.ReadBytes(b.data(), 4);
        compatibleBrands.push_back(b);
    }
    in.Skip(in.Remaining());
}

void MP4FtypAtom::WritePayload(MP4Output& out)
{
    for (auto& p : m_props)
        p->Write(out);
    for (const std::string& b : compatibleBrands) {
        char t[4] = {};
        memcpy(t, b.data(), std::min<size_t>(b.size(), 4));
        out.WriteBytes(t, 4);
    }
}

// --- helpers ---

void SetHeaderTime(MP4Atom* atom, const char* name, uint64_t value)
{
    if (auto* timed = dynamic_cast<MP4TimedHeaderAtom*>(atom))
        timed->SetTime(name, value);
    else
        SetIntegerProperty(atom, name, value);
}

uint64_t GetIntegerProperty(MP4Atom* atom, const char* name)
{
    MP4Property* p = nullptr;
    if (!atom || !atom->FindProperty(name, &p) || p->GetType() != MP4PropertyType::Integer)
        Throw("no such property - %s", name);
    return static_cast<MP4IntegerProperty*>(p)->GetValue();
}

void SetIntegerProperty(MP4Atom* atom, const char* name, uint64_t value)
{
    MP4Property* p = nullptr;
    if (!atom || !atom->FindProperty(name, &p) || p->GetType() != MP4PropertyType::Integer)
        Throw("no such property - %s", name);
    static_cast<MP4IntegerProperty*>(p)->SetValue(value);
}

} // namespace mp4
