// The device form's reactions to source, type and access mode, and what the
// display operations show for each kind of record.
#include "devcfg_host.h"

namespace {

using devcfgtest::PageTest;
using devcfgtest::Row;
using Dlg = CSettingDevInfoDlg;

using FormTest = PageTest;

TEST_F(FormTest, TypeChoiceBySource)
{
    struct Case {
        UINT radio;
        int type;
        const char* videoPort;
        const char* ptzPort;
        bool videoEnabled, visitEnabled, groupEnabled, streamEnabled;
        unsigned ptzLabel;
        int streamCount;
    };
    const Case cases[] = {
        {Dlg::IDC_RADIO_LOCAL, 1, "554", "8091", true, true, true, true, 574, 2},
        {Dlg::IDC_RADIO_LOCAL, 0, "554", "8091", true, true, true, false, 574, 6},
        {Dlg::IDC_RADIO_LOCAL, 2, "", "8091", false, true, true, false, 574, 2},
        {Dlg::IDC_RADIO_LOCAL, 3, "8899", "8091", true, false, false, false, 574, 0},
        {Dlg::IDC_RADIO_LOCAL, 4, "555", "556", true, false, true, true, 1445, 2},
        {Dlg::IDC_RADIO_LOCAL, 5, "555", "556", true, false, true, true, 1445, 2},
        {Dlg::IDC_RADIO_P2P, 4, "556", "556", true, false, true, true, 1445, 2},
        {Dlg::IDC_RADIO_ONVIF, 5, "556", "556", true, false, true, true, 1445, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.radio) + " type " + std::to_string(c.type));
        Click(Dlg::IDC_RADIO_LOCAL);
        Choose(Dlg::IDC_COMBO_DEVTYPE, 1); // from a camera each time
        Type(Dlg::IDC_EDIT_PTZPORT, "8091");
        Click(c.radio);
        Choose(Dlg::IDC_COMBO_DEVTYPE, c.type);
        EXPECT_EQ(Field(Dlg::IDC_EDIT_VIDEOPORT), c.videoPort);
        EXPECT_EQ(Field(Dlg::IDC_EDIT_PTZPORT), c.ptzPort);
        EXPECT_EQ(Enabled(Dlg::IDC_EDIT_VIDEOPORT), c.videoEnabled);
        EXPECT_EQ(Enabled(Dlg::IDC_COMBO_VISITMOD), c.visitEnabled);
        EXPECT_EQ(Enabled(Dlg::IDC_COMBO_GROUP), c.groupEnabled);
        EXPECT_EQ(Enabled(Dlg::IDC_COMBO_STREAM), c.streamEnabled);
        EXPECT_EQ(Field(Dlg::IDC_STATIC_PTZPORT), Str(c.ptzLabel));
        EXPECT_EQ(Combo(Dlg::IDC_COMBO_STREAM)->count(), c.streamCount);
        if (c.type == 4 || c.type == 5) {
            EXPECT_EQ(Combo(Dlg::IDC_COMBO_VISITMOD)->currentIndex(), 1);
            EXPECT_EQ(Combo(Dlg::IDC_COMBO_PROTOCOL)->currentText().toStdString(), "TCP");
            EXPECT_FALSE(Enabled(Dlg::IDC_COMBO_PROTOCOL));
        }
    }
}

TEST_F(FormTest, SourceRadios)
{
    struct Case {
        UINT radio;
        int source;
        bool nameEnabled, portEnabled;
        unsigned addrLabel;
        const char* login;
    };
    const Case cases[] = {
        {Dlg::IDC_RADIO_P2P, 1, false, false, 1430, "admin"},
        {Dlg::IDC_RADIO_ONVIF, 2, true, false, 1430, "admin"},
        {Dlg::IDC_RADIO_LOCAL, 0, true, true, 572, "admin"}, // login left as it was
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        Click(c.radio);
        EXPECT_EQ(page->GetDevSource(), c.source);
        EXPECT_EQ(Enabled(Dlg::IDC_EDIT_DEVNAME), c.nameEnabled);
        EXPECT_EQ(Enabled(Dlg::IDC_EDIT_VIDEOPORT), c.portEnabled);
        EXPECT_EQ(Enabled(Dlg::IDC_COMBO_DEVTYPE), c.portEnabled);
        EXPECT_EQ(Field(Dlg::IDC_STATIC_ADDR), Str(c.addrLabel));
        EXPECT_EQ(Field(Dlg::IDC_EDIT_LOGIN), c.login);
        EXPECT_EQ(page->IsDlgButtonChecked(c.radio), 1u);
    }
    EXPECT_EQ(Field(Dlg::IDC_EDIT_PSW), "580317");
}

TEST_F(FormTest, AccessModeKeepsTcpElseFirstEntry)
{
    struct Case {
        int before; // protocol entry chosen before
        int mode;
        std::vector<std::string> entries;
        const char* chosen;
    };
    const Case cases[] = {
        {1, 1, {"unicast", "multicast", "TCP"}, "TCP"},
        {0, 1, {"unicast", "multicast", "TCP"}, "unicast"},
        {2, 0, {"UDP", "TCP"}, "TCP"},
        {0, 0, {"UDP", "TCP"}, "UDP"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chosen);
        Choose(Dlg::IDC_COMBO_VISITMOD, c.mode == 1 ? 0 : 1); // the other list first
        Combo(Dlg::IDC_COMBO_PROTOCOL)->setCurrentIndex(c.before);
        Choose(Dlg::IDC_COMBO_VISITMOD, c.mode);
        std::vector<std::string> entries;
        for (int i = 0; i < Combo(Dlg::IDC_COMBO_PROTOCOL)->count(); ++i)
            entries.push_back(Combo(Dlg::IDC_COMBO_PROTOCOL)->itemText(i).toStdString());
        EXPECT_EQ(entries, c.entries);
        EXPECT_EQ(Combo(Dlg::IDC_COMBO_PROTOCOL)->currentText().toStdString(), c.chosen);
    }
}

TEST_F(FormTest, DisplayDevInfoPerKind)
{
    struct Case {
        const char* label;
        DeviceInfo dev;
        int typeIndex;
        const char* addr;
        const char* videoPort;
        const char* ptzPort;
        unsigned ptzLabel;
        std::string streamText;
        bool streamEnabled, videoEnabled;
        UINT radio;
    };
    DeviceInfo dvs = Row("Yard", "D", "D-Stream1", 0);
    DeviceInfo nvr = Row("Yard", "N", "N", 4, "127.0.0.4", 9000, 9001);
    nvr.CfgPort = 8000;
    nvr.DovraNvr = 1;
    nvr.VisitMod = 1;
    nvr.RtpOverRtsp = 2;
    DeviceInfo decoder = Row("Yard", "X", "X", 2);
    DeviceInfo multi = Row("Yard", "M", "M", 5);
    DeviceInfo serial = Row("Yard", "S", "S", 1);
    serial.VisitMod = 2;
    std::strcpy(serial.DevSN, "SN-77");
    DeviceInfo mainStream = Row("Yard", "C", "C", 1);
    mainStream.DefRes[0] = 0;
    mainStream.VideoPort = 0;
    DeviceInfo cloud = Row("Yard", "P1", "P1", 1);
    cloud.nPltDev = 1;
    std::strcpy(cloud.DevDomainName, "P1.cloud.test");
    DeviceInfo onvif = Row("Yard", "127.0.0.8", "Cam", 1, "127.0.0.8");
    onvif.OnvifDev = 1;
    const Case cases[] = {
        {"video server", dvs, 0, "127.0.0.1", "554", "8091", 574, "All", false, true, Dlg::IDC_RADIO_LOCAL},
        {"DOVRA recorder", nvr, 5, "127.0.0.4", "9000", "8000", 1445, "Sub Stream", true, true, Dlg::IDC_RADIO_LOCAL},
        {"decoder", decoder, 2, "127.0.0.1", "", "8091", 574, "Sub Stream", false, false, Dlg::IDC_RADIO_LOCAL},
        {"multi decoder", multi, 5, "127.0.0.1", "", "8091", 574, "Sub Stream", false, false, Dlg::IDC_RADIO_LOCAL},
        {"by serial", serial, 1, "SN-77", "554", "8091", 574, "Sub Stream", true, true, Dlg::IDC_RADIO_LOCAL},
        {"main stream", mainStream, 1, "127.0.0.1", "554", "8091", 574, "Main Stream", true, true,
         Dlg::IDC_RADIO_LOCAL},
        {"cloud", cloud, -2, "P1.cloud.test", nullptr, nullptr, 0, "", false, false, Dlg::IDC_RADIO_P2P},
        {"onvif", onvif, -2, "127.0.0.8", nullptr, nullptr, 0, "", false, false, Dlg::IDC_RADIO_ONVIF},
    };
    page->FillGroupCombo();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        page->DisplayDevInfo(nullptr);
        page->DisplayDevInfo(&c.dev);
        EXPECT_EQ(Field(Dlg::IDC_EDIT_ADDR), c.addr);
        EXPECT_EQ(page->IsDlgButtonChecked(c.radio), 1u);
        EXPECT_EQ(Combo(Dlg::IDC_COMBO_GROUP)->currentText().toStdString(), "Yard");
        if (c.typeIndex == -2) {
            EXPECT_FALSE(Enabled(Dlg::IDC_COMBO_DEVTYPE));
            continue;
        }
        EXPECT_EQ(Combo(Dlg::IDC_COMBO_DEVTYPE)->currentIndex(), c.typeIndex);
        EXPECT_EQ(Field(Dlg::IDC_EDIT_VIDEOPORT), c.videoPort);
        EXPECT_EQ(Field(Dlg::IDC_EDIT_PTZPORT), c.ptzPort);
        EXPECT_EQ(Field(Dlg::IDC_STATIC_PTZPORT), Str(c.ptzLabel));
        EXPECT_EQ(Combo(Dlg::IDC_COMBO_STREAM)->currentText().toStdString(), c.streamText);
        EXPECT_EQ(Enabled(Dlg::IDC_COMBO_STREAM), c.streamEnabled);
        EXPECT_EQ(Enabled(Dlg::IDC_EDIT_VIDEOPORT), c.videoEnabled);
    }
    // The recorder shown in the relay protocol's list.
    page->DisplayDevInfo(&nvr);
    EXPECT_EQ(Combo(Dlg::IDC_COMBO_PROTOCOL)->currentText().toStdString(), "TCP");
    EXPECT_EQ(Combo(Dlg::IDC_COMBO_PROTOCOL)->count(), 3);
    EXPECT_FALSE(Enabled(Dlg::IDC_COMBO_VISITMOD));
}

TEST_F(FormTest, VssAndClearKeepOrEmptyTheFields)
{
    Qelm2Node s;
    std::strcpy(s.DevName, "Parent");
    std::strcpy(s.IPAddr, "relay.test");
    std::strcpy(s.LoginName, "op");
    std::strcpy(s.Password, "ABCDEF");
    s.nPort = 8899;
    g_lstRelayServer.push_back(s);
    Type(Dlg::IDC_EDIT_DEVNAME, "typed");
    page->DisplayVssInfo("nobody");
    EXPECT_EQ(Combo(Dlg::IDC_COMBO_DEVTYPE)->currentIndex(), 3);
    EXPECT_EQ(Field(Dlg::IDC_EDIT_DEVNAME), "typed");
    EXPECT_FALSE(Enabled(Dlg::IDC_COMBO_VISITMOD));
    EXPECT_TRUE(Enabled(Dlg::IDC_EDIT_ADDR));

    page->DisplayVssInfo("Parent");
    EXPECT_EQ(Field(Dlg::IDC_EDIT_ADDR), "relay.test");
    EXPECT_EQ(Field(Dlg::IDC_EDIT_VIDEOPORT), "8899");
    EXPECT_EQ(Field(Dlg::IDC_EDIT_PSW), "ABCDEF");
    EXPECT_FALSE(Enabled(Dlg::IDC_EDIT_ADDR));

    page->ClearDevInfo();
    for (UINT id : {Dlg::IDC_EDIT_DEVNAME, Dlg::IDC_EDIT_ADDR, Dlg::IDC_EDIT_VIDEOPORT, Dlg::IDC_EDIT_LOGIN})
        EXPECT_EQ(Field(id), "");
    EXPECT_TRUE(Enabled(Dlg::IDC_EDIT_ADDR));
    EXPECT_FALSE(Enabled(Dlg::IDC_COMBO_GROUP));
}

TEST_F(FormTest, EnterEscAndAltF4CloseNothing)
{
    for (auto key : {std::pair<UINT, WPARAM>{WM_KEYDOWN, VK_RETURN}, {WM_KEYDOWN, VK_ESCAPE}, {WM_SYSKEYDOWN, 0x73}}) {
        MSG m{};
        m.message = key.first;
        m.wParam = key.second;
        m.hwnd = qelm::HandleOf(page->GetDlgItem(Dlg::IDC_EDIT_DEVNAME));
        EXPECT_TRUE(page->PreTranslateMessage(&m));
    }
    EXPECT_TRUE(page->isVisible());
}

} // namespace
