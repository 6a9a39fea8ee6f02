// The H.265 boxes added to the MP4 library: the "hvcC" parameter-array
// property, the "hvcC" box and the "hev1" visual sample entry.
#pragma once

#include "media/mp4ext/hevc_param_arrays.h"
#include "media/mp4ext/mp4ext.h"
#include "mp4/mp4_file.h"

namespace mp4ext {

inline constexpr size_t kHvcCRecordArea = 2048;
inline constexpr size_t kHvcCHeaderSize = 22;

// The property "ParamArraySet" of an hvcC box: the 22-byte header of the
// HEVC decoder configuration record and the store of parameter arrays.
class MP4H265ParamArraySetProperty : public mp4::MP4BytesProperty {
public:
    explicit MP4H265ParamArraySetProperty(mp4::MP4Atom* parent);
    ~MP4H265ParamArraySetProperty() override;

    HevcParamArraySet* GetStore() const { return m_store; }
    uint8_t* Header() { return m_record; }
    const uint8_t* Header() const { return m_record; }

    // Adds one unit (type from its first byte): replaces the first unit of an
    // entry of that type that is at least as long, else appends a new entry
    // (completeness 1). -1 implicit property, -2 no store or no memory.
    int AddNalUnit(const uint8_t* unit, uint16_t length);
    // Clears the store and gives it a new, empty entry list. -2 when out of memory.
    int ResetStore();

    void Read(mp4::MP4Input& in) override;
    void Write(mp4::MP4Output& out) override;
    void Dump(std::string& out, int indent, bool dumpImplicits) const override;

private:
    HevcParamArraySet* m_store;
    uint8_t m_record[kHvcCRecordArea];
};

class MP4HvcCAtom : public mp4::MP4Atom {
public:
    explicit MP4HvcCAtom(mp4::MP4File& file);
    MP4H265ParamArraySetProperty* GetParamArraySet() const { return m_prop; }
    void Read(mp4::MP4Input& in, int depth) override;

private:
    MP4H265ParamArraySetProperty* m_prop;
};

// Laid out as "avc1", with one mandatory "hvcC" child.
class MP4Hev1Atom : public mp4::MP4VisualSampleEntryAtom {
public:
    MP4Hev1Atom(mp4::MP4File& file, const char* type) : MP4VisualSampleEntryAtom(file, type) {}
    void Generate() override;
};

// Behind MP4AddH265ParameterArraySet (same results).
int AddH265ParameterArraySet(mp4::MP4File& file, MP4TrackId trackId, const uint8_t* buffer,
                             const NalPositions* positions, int count);

} // namespace mp4ext
