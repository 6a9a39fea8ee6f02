// The hvcC parameter-array property, the hvcC and hev1 boxes, and rebuilding
// a track's parameter arrays from the stream's VPS, SPS and PPS.
#include "media/mp4ext/mp4_hevc.h"

#include "media/mp4ext/nal_units.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace mp4ext {

using namespace mp4;

namespace {

// Version 1; Main profile, level 4 until a VPS or SPS says otherwise; no
// segmentation or parallelism; 4:2:0, 8 bits; one temporal layer, nested;
// 4-byte NAL lengths.
const uint8_t kInitialHeader[kHvcCHeaderSize] = {0x01, 0x01, 0x60, 0x00, 0x00, 0x00, 0x80, 0x00,
                                                 0x00, 0x00, 0x00, 0x00, 0x78, 0xF0, 0x00, 0xFC,
                                                 0xFD, 0xF8, 0xF8, 0x00, 0x00, 0x0F};

std::string Line(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Line(const char* fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof(buf), fmt, ap);
    va_end(ap);
    return std::string(buf) + "\n";
}

} // namespace

MP4H265ParamArraySetProperty::MP4H265ParamArraySetProperty(MP4Atom* parent)
    : MP4BytesProperty(parent, "ParamArraySet", kHvcCHeaderSize)
{
    memset(m_record, 0, sizeof(m_record));
    memcpy(m_record, kInitialHeader, kHvcCHeaderSize);
    m_store = static_cast<HevcParamArraySet*>(calloc(1, sizeof(HevcParamArraySet)));
    if (m_store && HevcParamArraySetReset(m_store) != 0) {
        free(m_store);
        m_store = nullptr;
    }
}

MP4H265ParamArraySetProperty::~MP4H265ParamArraySetProperty()
{
    if (m_store) {
        HevcParamArraySetClear(m_store);
        free(m_store);
    }
}

int MP4H265ParamArraySetProperty::ResetStore()
{
    if (!m_store)
        return -2;
    return HevcParamArraySetReset(m_store);
}

int MP4H265ParamArraySetProperty::AddNalUnit(const uint8_t* unit, uint16_t length)
{
    if (IsImplicit())
        return -1;
    if (!m_store || !m_store->arrays || !unit || length == 0)
        return -2;
    const uint8_t type = uint8_t((unit[0] >> 1) & 0x3F);
    for (uint32_t i = 0; i < HevcParamArraySetCount(m_store); ++i) {
        HevcParamArray* entry = HevcParamArraySetGet(m_store, i);
        HevcNalUnit* first = HevcParamArrayGetUnit(entry, 0);
        if (entry->nalUnitType == type && first && first->length >= length) {
            memcpy(first->bytes, unit, length);
            first->length = length;
            return 0;
        }
    }
    return HevcParamArraySetAddArray(m_store, type, 1, unit, length) ? 0 : -2;
}

void MP4H265ParamArraySetProperty::Write(MP4Output& out)
{
    // The record header as prepared (version 1 always), then the arrays.
    m_record[0] = 1;
    out.WriteBytes(m_record, kHvcCHeaderSize);
    if (!m_store) {
        out.WriteUInt8(0);
        return;
    }
    if (IsImplicit())
        return;
    m_store->layered = 0;
    const uint32_t count = HevcParamArraySetCount(m_store);
    if (count > 255)
        Throw("hvcC: too many parameter arrays");
    out.WriteUInt8(uint8_t(count));
    for (uint32_t i = 0; i < count; ++i) {
        const HevcParamArray* entry = HevcParamArraySetGet(m_store, i);
        out.WriteUInt8(uint8_t(((entry->completeness & 1) << 7) | (entry->nalUnitType & 0x3F)));
        const uint32_t units = HevcPtrArrayCount(entry->units);
        out.WriteUInt16(uint16_t(units));
        for (uint32_t k = 0; k < units; ++k) {
            const HevcNalUnit* unit = HevcParamArrayGetUnit(entry, k);
            out.WriteUInt16(unit->length);
            out.WriteBytes(unit->bytes, unit->length);
        }
    }
}

void MP4H265ParamArraySetProperty::Read(MP4Input& in)
{
    if (IsImplicit() || !m_store)
        return;
    in.ReadBytes(m_record, kHvcCHeaderSize);
    if (m_store->layered) {
        m_store->completeRepresentation = uint8_t(in.ReadBits(1));
        m_store->nonHevcBaseLayer = uint8_t(in.ReadBits(1));
        m_store->numLayers = uint8_t(in.ReadBits(6) + 1);
        m_store->scalabilityMask = uint16_t(in.ReadBits(16));
    }
    if (HevcParamArraySetReset(m_store) != 0)
        Throw("hvcC: out of memory");
    const unsigned arrays = in.ReadUInt8();
    for (unsigned i = 0; i < arrays; ++i) {
        const uint8_t b = in.ReadUInt8();
        HevcParamArray* entry = HevcParamArraySetAddArray(m_store, uint8_t(b & 0x3F), uint8_t(b >> 7), nullptr, 0);
        if (!entry)
            Throw("hvcC: out of memory");
        const unsigned units = in.ReadUInt16();
        for (unsigned k = 0; k < units; ++k) {
            const uint16_t len = in.ReadUInt16();
            if (len > in.Remaining())
                Throw("hvcC: NAL unit of %u bytes runs past the box", len);
            if (HevcParamArrayAddUnit(entry, in.Current(), len) != 0)
                Throw("hvcC: out of memory");
            in.Skip(len);
        }
    }
}

void MP4H265ParamArraySetProperty::Dump(std::string& out, int indent, bool dumpImplicits) const
{
    if (IsImplicit() && !dumpImplicits)
        return;
    const std::string pad(size_t(indent) * 2, ' ');
    const char* file = m_parent ? m_parent->GetFile().GetFilename().c_str() : "";
    if (GetValueSize() == 0) {
        out += pad + Line("\"%s\": %s = <%u bytes>", file, GetName(), GetValueSize());
        return;
    }
    if (m_store && m_store->layered) {
        out += pad + Line("is_shvc==true\r\n\"%s\": %s .complete_representation= <%d>", file, GetName(),
                          m_store->completeRepresentation);
        out += pad + Line("\"%s\": %s.non_hevc_base_layer = <%d>", file, GetName(), m_store->nonHevcBaseLayer);
        out += pad + Line("\"%s\": %s.num_layers = <%d>", file, GetName(), m_store->numLayers);
        out += pad + Line("\"%s\": %s.scalability_mask= <%d>", file, GetName(), m_store->scalabilityMask);
    }
    out += pad + Line("\"%s\": %s.param_array cound = <%d>", file, GetName(), int(HevcParamArraySetCount(m_store)));
}

MP4HvcCAtom::MP4HvcCAtom(MP4File& file) : MP4Atom(file, "hvcC")
{
    m_prop = AddProperty(new MP4H265ParamArraySetProperty(this));
}

void MP4HvcCAtom::Read(MP4Input& in, int)
{
    m_prop->Read(in);
    in.Skip(in.Remaining());
}

void MP4Hev1Atom::Generate()
{
    MP4VisualSampleEntryAtom::Generate();
    AddNewChildAtom("hvcC");
}

int AddH265ParameterArraySet(MP4File& file, MP4TrackId trackId, const uint8_t* buffer,
                             const NalPositions* positions, int count)
{
    MP4Track* track = file.GetTrack(trackId);
    MP4Atom* entry = track->GetSampleEntry();
    if (!entry || !entry->IsType("hev1"))
        return -1;
    auto* hvcc = dynamic_cast<MP4HvcCAtom*>(file.FindTrackAtom(trackId, "mdia.minf.stbl.stsd.hev1.hvcC"));
    if (!hvcc)
        return -5;
    MP4Property* found = nullptr;
    MP4H265ParamArraySetProperty* prop = nullptr;
    if (hvcc->FindProperty("ParamArraySet", &found))
        prop = dynamic_cast<MP4H265ParamArraySetProperty*>(found);
    if (!prop) {
        Log(MP4_LOG_ERROR, "%s: \"%s\": Could not find hvcC numOfParamArraySet", "MP4AddH265ParameterArraySet",
            file.GetFilename().c_str());
        return -3;
    }
    if (!buffer || !positions)
        Throw("no parameter sets");
    if (prop->ResetStore() != 0)
        Throw("out of memory");

    nal::HevcHeaderInfo info;
    int added = 0;
    for (int i = 0; i < count && i < 3; ++i) {
        const int32_t offset = positions->nal[i].offset;
        const int32_t length = positions->nal[i].length;
        if (offset < 0 || length <= 0 || length > 0xFFFF)
            continue;
        const uint8_t* unit = buffer + offset;
        const int type = nal::H265Type(unit[0]);
        if (type == nal::kH265Vps && length > 15)
            nal::ParseHevcVps(unit, size_t(length), info);
        else if (type == nal::kH265Sps)
            nal::ParseHevcSps(unit, size_t(length), info);
        if (prop->AddNalUnit(unit, uint16_t(length)) == 0)
            ++added;
    }

    uint8_t* header = prop->Header();
    if (info.hasPtl)
        memcpy(header + 1, info.ptl, 12);
    if (info.hasSps) {
        header[16] = uint8_t(0xFC | info.chromaFormat);
        header[17] = uint8_t(0xF8 | info.bitDepthLumaMinus8);
        header[18] = uint8_t(0xF8 | info.bitDepthChromaMinus8);
    }
    header[21] = uint8_t(((info.numTemporalLayers & 7) << 3) | ((info.temporalIdNested & 1) << 2) | 3);
    file.ConfigChanged();
    return added;
}

} // namespace mp4ext
