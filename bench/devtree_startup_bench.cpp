// Benchmark: start-up with 1,000 device rows in DevInfo.xml, from reading the
// file to a filled device tree in the device panel (file load, registration
// with the stand-in controls, two stream sinks per row, the group view).
//   QT_QPA_PLATFORM=offscreen QELM2_LOOPBACK_ONLY=1 devtree_startup_bench [runs]
#include "controls/control_registry.h"
#include "core/config_store.h"
#include "core/devinfo.h"
#include "devices/dev_teardown.h"
#include "devices/dev_tree.h"
#include "devices/device_list_dlg.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <tinyxml.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

std::string Dev(int type, const std::string& id, const std::string& name, const std::string& group, int n,
                int channel)
{
    char ip[32];
    std::snprintf(ip, sizeof ip, "127.0.%d.%d", n / 250, n % 250 + 1);
    return "<Dev><DevType>" + std::to_string(type) + "</DevType><DevId>" + id + "</DevId><DevName>" + name +
           "</DevName><GroupName>" + group + "</GroupName><IPAddr>" + ip +
           "</IPAddr><PtzPort>5000</PtzPort><LoginName>admin</LoginName><LoginPsw>123456</LoginPsw>"
           "<Online>1</Online><CurNVRChannel>" + std::to_string(channel) + "</CurNVRChannel></Dev>\n";
}

// 600 IP cameras, 50 NVRs with four channels, 50 video servers with three
// streams: 1,000 rows in 20 groups.
std::string MakeFile()
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<DevInfo><DevList>\n";
    int n = 0;
    for (int i = 0; i < 600; ++i, ++n)
        xml += Dev(1, "IPC" + std::to_string(i), "Camera " + std::to_string(i), "Group" + std::to_string(i % 20), n, 0);
    for (int i = 0; i < 50; ++i, ++n) {
        std::string id = "NVR" + std::to_string(i), g = "Group" + std::to_string(i % 20);
        xml += Dev(4, id, id, g, n, 0);
        for (int c = 1; c <= 4; ++c)
            xml += Dev(4, id, "Channel-" + std::to_string(c), g, n, c);
    }
    for (int i = 0; i < 50; ++i, ++n) {
        std::string id = "DVS" + std::to_string(i), g = "Group" + std::to_string(i % 20);
        for (int s = 1; s <= 3; ++s)
            xml += Dev(0, id, id + "Stream" + std::to_string(s), g, n, 0);
    }
    xml += "</DevList><GroupList>\n";
    for (int g = 0; g < 20; ++g)
        xml += "<Group><GroupName nType=\"" + std::to_string(g == 0) + "\">Group" + std::to_string(g) +
               "</GroupName></Group>\n";
    return xml + "</GroupList></DevInfo>\n";
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("QELM2_LOOPBACK_ONLY", "1", 0);
    QApplication app(argc, argv);
    int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    QTemporaryDir dir;
    std::string path = dir.filePath("DevInfo.xml").toStdString();
    std::ofstream(path) << MakeFile();
    qelm::RegisterStandInFactories();
    qelm::EnableControlClass(qelm::kClsidAuxPtz);
    qelm::EnableControlClass(qelm::kClsidRtspPull);

    double worst = 0;
    for (int r = 0; r < runs; ++r) {
        CDeviceListDlg panel;
        panel.Create(CDeviceListDlg::IDD, nullptr);
        auto t0 = std::chrono::steady_clock::now();
        TiXmlDocument doc;
        if (qelm::cfg::LoadXmlFile(path, doc) != qelm::cfg::LoadResult::Ok)
            return 1;
        LoadDevList(doc.RootElement()->FirstChildElement("DevList"));
        LoadDevGroupList(doc.RootElement()->FirstChildElement("GroupList"));
        CDevTree::GetInstance()->Init();
        panel.OnBnClickedBtnOrigGroup();
        auto t1 = std::chrono::steady_clock::now();
        double ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
        int items = 0;
        for (QTreeWidgetItemIterator it(panel.Tree()); *it; ++it)
            ++items;
        std::printf("run %d: %zu rows, %d tree items, %.1f ms from file to filled tree\n", r + 1, g_lstDevInfo.size(),
                    items, ms);
        worst = std::max(worst, ms);
        DeleteDeviceSinks();
    }
    std::printf("worst %.1f ms (goal < 2000 ms)\n", worst);
    return 0;
}
