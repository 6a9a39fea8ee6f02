// Pictures of the recording and users pages in the manager's page area of a
// 1920x1080 and a 1024x768 screen, for looking at; saved only when
// QELM2_SETTINGS_SHOTS names a folder. Without it the pages are still laid
// out and grabbed, and the places that the layout fixes are checked.
#include "settings_test_util.h"

#include "core/app_init.h"
#include "platform/monitor.h"
#include "settings/setting_record_dlg.h"
#include "settings/setting_user_info_dlg.h"

#include <QImage>

#include <cstdlib>

namespace {

using settest::MakeDevice;

class PageShots : public settest::PageTest {
protected:
    void Save(QWidget* w, const std::string& name)
    {
        const QImage img = w->grab().toImage();
        EXPECT_FALSE(img.isNull());
        if (const char* dir = std::getenv("QELM2_SETTINGS_SHOTS"))
            img.save(QString::fromStdString(std::string(dir) + "/" + name + ".png"));
    }
};

TEST_F(PageShots, BothPagesAtTwoScreenSizes)
{
    {
        qelm::CsLock lock(g_csDevList);
        g_lstDevInfo.push_back(MakeDevice("C1", "Gate"));
        g_lstDevInfo.push_back(MakeDevice("NVR", "NVR", 4, 0));
        g_lstDevInfo.push_back(MakeDevice("NVR", "Channel-1", 4, 1));
        g_lstDevInfo.front().Online = 1;
    }
    struct Screen {
        int width, height; // screen
        int pageW, pageH;  // the manager's page area on it
    };
    const Screen screens[] = {{1920, 1080, 1650, 940}, {1024, 768, 800, 640}};
    const int savedWidth = g_nScreenWidth;
    for (const Screen& s : screens) {
        g_nScreenWidth = s.width;
        host->resize(s.pageW, s.pageH);
        host->show();

        auto* rec = new CSettingRecordDlg(host.get());
        rec->Create(CSettingRecordDlg::IDD, host.get());
        rec->MoveWindow(0, 0, s.pageW, s.pageH);
        rec->ShowWindow(SW_SHOW);
        rec->FillAllDevTree();
        QApplication::processEvents();
        // The page keeps the template's places whatever its size.
        const CRect modify = qelm::DialogUnitsToPixels(CRect(142, 362, 142 + 61, 362 + 14));
        EXPECT_EQ(rec->GetDlgItem(CSettingRecordDlg::IDC_BTN_MODIFY)->geometry(),
                  QRect(modify.left, modify.top, modify.Width(), modify.Height()));
        Save(rec, "record_page_" + std::to_string(s.width) + "x" + std::to_string(s.height));
        delete rec;

        auto* users = new CSettingUserInfoDlg(host.get());
        users->Create(CSettingUserInfoDlg::IDD, host.get());
        users->MoveWindow(0, 0, s.pageW, s.pageH);
        users->ShowWindow(SW_SHOW);
        QApplication::processEvents();
        const int W = s.pageW, H = s.pageH;
        const int B = (2 * H - 110) / 4, C = (3 * H - 165) / 4;
        EXPECT_EQ(users->GetDlgItem(1048)->geometry(), QRect(95, C + 105, W - 170, 23));
        EXPECT_EQ(users->GetDlgItem(1352)->geometry(), QRect(W - 70, C + 105, 50, 23));
        // The rights row: wide places from a 1280-pixel screen on.
        const QRect alarm = users->GetDlgItem(1090)->geometry();
        EXPECT_EQ(alarm, s.width >= 1280 ? QRect(470, B + 110, 150, 23) : QRect(320, B + 110, 100, 23));
        Save(users, "user_page_" + std::to_string(s.width) + "x" + std::to_string(s.height));
        delete users;
    }
    g_nScreenWidth = savedWidth;
}

} // namespace
