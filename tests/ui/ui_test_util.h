// Helpers of the skinned-widget tests: a window that records what its
// controls send it, the skin folder of the build, and the gallery folder.
#pragma once

#include "platform/wnd.h"
#include "ui/report_ctrl.h"

#include <QDir>
#include <QString>

#include <cstdlib>
#include <string>
#include <vector>

struct RecordedMsg {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class MsgRecorder : public CWnd {
public:
    MsgRecorder() { Create(nullptr, CRect(0, 0, 640, 480)); }
    std::vector<RecordedMsg> msgs;
    int clicks = 0;
    UINT lastClickId = 0;

    int Count(UINT message) const
    {
        int n = 0;
        for (const auto& m : msgs)
            n += m.message == message;
        return n;
    }
    LRESULT OnCheck(WPARAM w, LPARAM l) { msgs.push_back({WM_ON_CHKBOX, w, l}); return 0; }
    LRESULT OnSorted(WPARAM w, LPARAM l) { msgs.push_back({WM_ITEM_SORTED, w, l}); return 0; }
    LRESULT OnEdited(WPARAM w, LPARAM l) { msgs.push_back({WM_ITEM_EDITED, w, l}); return 0; }
    void OnClicked(UINT id) { ++clicks; lastClickId = id; }
    DECLARE_MESSAGE_MAP()
};

// The program folder of the build, where the skin pictures are written.
inline std::string BinDir()
{
    const char* d = std::getenv("QELM2_TEST_BIN_DIR");
    return std::string(d && *d ? d : QELM2_TEST_BIN_DEFAULT) + "/";
}

inline QString GalleryDir()
{
    const char* env = std::getenv("QELM2_GALLERY_DIR");
    const QString dir = env && *env ? QString::fromLocal8Bit(env) : QStringLiteral(QELM2_GALLERY_DEFAULT_DIR);
    QDir().mkpath(dir);
    return dir;
}
