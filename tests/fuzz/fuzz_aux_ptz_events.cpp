// Fuzz target: the device-control event sink. The input is a run of events as
// the device-control component would deliver them (status, PTZ and
// maintenance answers, alarm records, replay and talk media and parameters);
// every payload it posts lands in a window with no handler for it, so the
// window layer must free it. Each event: a kind byte, the device id (small,
// so ids with and without a record both occur), a code, then a payload of
// up to 255 bytes given by a length byte.
#include "core/devinfo.h"
#include "media/aux_ptz_events.h"
#include "media/sink_targets.h"
#include "platform/message.h"
#include "platform/sync.h"
#include "platform/wnd.h"

#include <QApplication>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

class FuzzTargets : public IMediaSinkTargets {
public:
    CWnd wnd;
    HWND MainWnd() override { return wnd.GetSafeHwnd(); }
    HWND PtzPanelWnd() override { return wnd.GetSafeHwnd(); }
    HWND SearchRecWnd() override { return wnd.GetSafeHwnd(); }
    HWND MaintPageWnd() override { return wnd.GetSafeHwnd(); }
    void OnNVRSpeakMediaData(int32_t, const uint8_t* data, int32_t length, const int32_t*) override { Touch(data, length); }
    int OnNVRSpeakParam(int32_t, char* xml) override
    {
        qelm::FreeText(xml);
        return 0;
    }
    void OnMediaDataRecv(int32_t, const uint8_t* data, int32_t length, const int32_t*, int32_t) override
    {
        Touch(data, length);
    }
    void OnMediaParamRecv(int32_t, char* xml, int32_t) override { qelm::FreeText(xml); }
    void OnNVRReplayEnd(int32_t, int32_t, int32_t) override {}
    void OnTimeDownloadProgress(int32_t, int32_t) override {}
    bool IsAlarmPane(CWnd*) override { return false; }
    bool IsMapPane(CWnd*) override { return false; }
    void ResetWatchInfo(CWnd*) override {}

private:
    // Reads every byte the sink claims to hand on, so a length beyond the
    // data shows up as an overflow.
    static void Touch(const uint8_t* data, int32_t length)
    {
        volatile uint8_t sum = 0;
        for (int32_t i = 0; data && i < length; ++i)
            sum = sum + data[i];
    }
};

struct Reader {
    const uint8_t* p;
    size_t n;
    uint8_t Byte() { return n ? (--n, *p++) : 0; }
    int32_t Int()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= uint32_t(Byte()) << (8 * i);
        return int32_t(v);
    }
    std::vector<uint8_t> Bytes()
    {
        size_t len = Byte();
        len = len < n ? len : n;
        std::vector<uint8_t> out(p, p + len);
        p += len;
        n -= len;
        return out;
    }
};

FuzzTargets* g_targets = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "fuzz_aux_ptz_events";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    g_targets = new FuzzTargets;
    g_targets->wnd.Create(nullptr, CRect(0, 0, 10, 10));
    SetMediaSinkTargets(g_targets);
    // Devices 1 and 2 have records; 0 is what an unregistered record holds.
    qelm::CsLock lock(g_csDevList);
    for (int32_t id : {0, 1, 2}) {
        g_lstDevInfo.emplace_back();
        g_lstDevInfo.back().AuxPtzId = id;
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CAuxPTZEvents sink;
    Reader in{data, size};
    while (in.n) {
        const uint8_t kind = in.Byte();
        const int32_t id = int8_t(in.Byte()) % 4;
        const int32_t code = in.Int();
        std::vector<uint8_t> payload = in.Bytes();
        std::string text(payload.begin(), payload.end());
        const char* ctext = (kind & 0x80) ? nullptr : text.c_str();
        switch (kind % 8) {
        case 0: sink.StatusEvent(id, code, ctext); break;
        case 1: sink.PTZResponse(id, code, ctext); break;
        case 2: sink.AUXResponse(id, code, ctext); break;
        case 3: sink.AlarmEvent(id, payload.data(), int32_t(payload.size())); break;
        case 4: {
            const int32_t value = code;
            sink.MediaDataRecv(id, payload.data(), int32_t(payload.size()), (kind & 0x40) ? nullptr : &value,
                               3 + (kind & 1));
            break;
        }
        case 5: sink.MediaParamRecv(id, ctext, code & 7); break;
        case 6: sink.NvrReplayEnd(id, code, int32_t(payload.size())); break;
        default: sink.TimeDownloadProgress(id, code); break;
        }
    }
    // Deliver what was posted: nothing handles it, so the layer frees it.
    QCoreApplication::processEvents();
    return 0;
}
