// The stream pull's packet shaping: access units, parameter sets, ADTS.
#include "controls/stream_shaper.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace qelm {

namespace {

const uint8_t kStartCode[4] = {0, 0, 0, 1};

void Append(std::vector<uint8_t>& out, const uint8_t* p, size_t len)
{
    out.insert(out.end(), kStartCode, kStartCode + 4);
    out.insert(out.end(), p, p + len);
}

const int kAacRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};

} // namespace

std::vector<std::pair<const uint8_t*, size_t>> SplitAnnexB(const uint8_t* d, size_t n)
{
    std::vector<std::pair<const uint8_t*, size_t>> out;
    auto findStart = [&](size_t from, size_t* scLen) -> size_t {
        for (size_t k = from; k + 3 <= n; ++k) {
            if (d[k] == 0 && d[k + 1] == 0) {
                if (d[k + 2] == 1) {
                    *scLen = 3;
                    return k;
                }
                if (k + 4 <= n && d[k + 2] == 0 && d[k + 3] == 1) {
                    *scLen = 4;
                    return k;
                }
            }
        }
        return n;
    };
    size_t sc = 0;
    size_t i = findStart(0, &sc);
    if (i == n) {   // no start code: take the block as one unit
        if (n)
            out.emplace_back(d, n);
        return out;
    }
    while (i < n) {
        size_t begin = i + sc;
        size_t nextSc = 0;
        size_t next = findStart(begin, &nextSc);
        size_t end = next;
        while (end > begin && d[end - 1] == 0 && next != n)   // trailing zeros belong to the next start code
            --end;
        if (end > begin)
            out.emplace_back(d + begin, end - begin);
        i = next;
        sc = nextSc;
    }
    return out;
}

VideoShaper::VideoShaper(PullVideoCodec codec)
    : m_hevc(codec == PullVideoCodec::kH265), m_nal(codec != PullVideoCodec::kOther)
{
}

void VideoShaper::SetExtradata(const uint8_t* d, size_t n)
{
    if (!m_nal || !d || n == 0 || d[0] == 1)   // avcC/hvcC: wait for in-band sets
        return;
    for (auto& [p, len] : SplitAnnexB(d, n))
        Remember(p, len);
}

size_t VideoShaper::Config(uint8_t* out, size_t cap) const
{
    size_t n = 0;
    for (const auto* set : {&m_vps, &m_sps, &m_pps}) {
        if (set->empty())
            continue;
        if (n + 4 + set->size() > cap)
            return 0;
        memcpy(out + n, kStartCode, 4);
        memcpy(out + n + 4, set->data(), set->size());
        n += 4 + set->size();
    }
    return n;
}

bool VideoShaper::Shape(const uint8_t* d, size_t n, std::vector<uint8_t>& out, bool* setsChanged)
{
    out.clear();
    *setsChanged = false;
    if (!m_nal) {
        out.assign(d, d + n);
        return false;
    }
    bool key = false, hasSps = false;
    auto units = SplitAnnexB(d, n);
    for (auto& [p, len] : units) {
        int t = Type(p);
        if (IsSps(t))
            hasSps = true;
        if (IsKey(t))
            key = true;
        if (IsParamSet(t))
            *setsChanged |= Remember(p, len);
    }
    if (key && !hasSps)
        for (const auto* set : {&m_vps, &m_sps, &m_pps})
            if (!set->empty())
                Append(out, set->data(), set->size());
    for (auto& [p, len] : units)
        if (!IsAud(Type(p)))
            Append(out, p, len);
    return key;
}

bool VideoShaper::Remember(const uint8_t* p, size_t len)
{
    int t = Type(p);
    std::vector<uint8_t>* set = nullptr;
    if (m_hevc)
        set = t == 32 ? &m_vps : t == 33 ? &m_sps : t == 34 ? &m_pps : nullptr;
    else
        set = t == 7 ? &m_sps : t == 8 ? &m_pps : nullptr;
    if (!set || len > kMaxParamSet || (set->size() == len && memcmp(set->data(), p, len) == 0))
        return false;
    set->assign(p, p + len);
    return true;
}

void DecodeClock::Reset(int depth, double frameMs)
{
    m_depth = std::clamp(depth, 0, kMaxDepth);
    m_frameMs = frameMs > 0 ? frameMs : 40;
    m_heap.clear();
    m_haveLast = false;
}

double DecodeClock::Offset(double presentationMs)
{
    constexpr double kRestartMs = 1000;   // a stamp this far back: the source restarted
    if (m_haveLast && presentationMs < m_lastDecode - kRestartMs) {
        m_heap.clear();
        m_haveLast = false;
    }
    if (m_haveLast && presentationMs < m_lastDecode && m_depth < kMaxDepth)
        ++m_depth;
    const auto later = std::greater<double>();
    m_heap.push_back(presentationMs);
    std::push_heap(m_heap.begin(), m_heap.end(), later);
    double decode;
    if (m_heap.size() > size_t(m_depth)) {
        std::pop_heap(m_heap.begin(), m_heap.end(), later);
        decode = m_heap.back();
        m_heap.pop_back();
    } else {
        decode = m_heap.front() - double(size_t(m_depth) + 1 - m_heap.size()) * m_frameMs;
    }
    if (m_haveLast && decode <= m_lastDecode)
        decode = std::min(m_lastDecode + m_frameMs / 8, presentationMs);   // decode times only go forward
    m_lastDecode = std::max(decode, m_haveLast ? m_lastDecode : decode);
    m_haveLast = true;
    return std::max(0.0, presentationMs - decode);
}

AccessUnitAssembler::AccessUnitAssembler(PullVideoCodec codec, int tbNum, int tbDen, size_t maxUnit)
    : m_shaper(codec), m_nal(codec != PullVideoCodec::kOther), m_tbNum(tbNum), m_tbDen(tbDen), m_max(maxUnit)
{
}

double AccessUnitAssembler::ToMs(int64_t ts) const
{
    if (ts == kNoTimeStamp || m_tbDen <= 0)
        return m_lastMs;
    return static_cast<double>(ts) * 1000.0 * m_tbNum / m_tbDen;
}

void AccessUnitAssembler::Add(const uint8_t* d, size_t n, int64_t ts, bool keyFlag, Output& out)
{
    if (!d || n == 0)
        return;
    if (ts != kNoTimeStamp && ts != m_auTs) {   // a new unit begins
        if (!m_au.empty())
            Flush(out);
        m_dropping = false;
    }
    if (ts != kNoTimeStamp)
        m_auTs = ts;
    if (m_dropping)
        return;
    if (n > m_max - m_au.size()) {
        // Dropped at once: nothing of it is copied or queued, and the rest
        // of its fragments (same stamp) are skipped as they come.
        size_t reached = m_au.size() + n;
        m_au.clear();
        m_auKey = false;
        m_dropping = m_nal;
        out.Oversized(reached);
        return;
    }
    m_auKey |= keyFlag;
    m_au.insert(m_au.end(), d, d + n);
    if (!m_nal)
        Flush(out);
}

void AccessUnitAssembler::Flush(Output& out)
{
    bool changed = false;
    bool key = m_shaper.Shape(m_au.data(), m_au.size(), m_out, &changed);
    MediaFrameHeader h{};
    h.keyFrame = (key || (!m_nal && m_auKey)) ? 1 : 0;
    h.timeStamp = ToMs(m_auTs);
    m_lastMs = h.timeStamp;
    const double offset = m_clock.Offset(h.timeStamp);
    h.renderOffsetUs = static_cast<int32_t>(std::min(offset * 1000.0 + 0.5, 2.0e9));
    m_au.clear();
    m_auKey = false;
    if (!m_out.empty())   // new sets always come with a unit: they are in it
        out.Unit(m_out.data(), m_out.size(), h, changed);
}

void AdtsFramer::Configure(int objectType, int sampleRate, int channels)
{
    if (objectType < 1 || objectType > 4)
        objectType = 2;
    int rateIndex = 4;
    for (int k = 0; k < 13; ++k)
        if (kAacRates[k] == sampleRate)
            rateIndex = k;
    int ch = std::clamp(channels, 1, 7);
    m_header[0] = 0xFF;
    m_header[1] = 0xF1;
    m_header[2] = static_cast<uint8_t>(((objectType - 1) << 6) | (rateIndex << 2) | (ch >> 2));
    m_header[3] = static_cast<uint8_t>((ch & 3) << 6);
}

bool AdtsFramer::Frame(const uint8_t* d, size_t n, std::vector<uint8_t>& out) const
{
    size_t len = n + 7;
    if (!Enabled() || len >= 0x2000)
        return false;
    out.assign(m_header, m_header + 7);
    out[3] = static_cast<uint8_t>((out[3] & 0xC0) | ((len >> 11) & 3));
    out[4] = static_cast<uint8_t>((len >> 3) & 0xFF);
    out[5] = static_cast<uint8_t>(((len & 7) << 5) | 0x1F);
    out[6] = 0xFC;
    out.insert(out.end(), d, d + n);
    return true;
}

} // namespace qelm
