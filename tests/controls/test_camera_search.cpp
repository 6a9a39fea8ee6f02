// Tests of the camera search stand-in: the configured list, records and
// network changes.
#include "controls/camera_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class CameraSearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SimFoundDevice a;
        a.serial = "QA0001";
        a.model = "IPC-2M";
        a.mac = "00:11:22:33:44:55";
        a.address = "127.0.0.1";
        a.user = "admin";
        a.status = std::string(5000, 's');  // longer than its field
        SimFoundDevice b = a;
        b.serial = "QA0002";
        b.mac = "00:11:22:33:44:66";
        b.address = "127.0.0.2";
        DeviceSimulator::Instance().Clear();
        DeviceSimulator::Instance().SetFoundDevices({a, b});
    }
    void TearDown() override { DeviceSimulator::Instance().Clear(); }
};

TEST_F(CameraSearchTest, SearchReportsTheConfiguredDevices)
{
    CameraSearch search;
    EXPECT_EQ(search.GetDeviceCount(), 0);
    search.StartSearch();
    ASSERT_EQ(search.GetDeviceCount(), 2);
    search.StopSearch();
    EXPECT_EQ(search.GetDeviceCount(), 2);  // results stay after the stop

    IpcSearchInfo info;
    memset(&info, 0xAB, sizeof(info));
    ASSERT_EQ(search.GetDevice(1, reinterpret_cast<uint8_t*>(&info), CameraSearch::kRecordSize), 0);
    EXPECT_STREQ(info.serial, "QA0002");
    EXPECT_STREQ(info.model, "IPC-2M");
    EXPECT_STREQ(info.address, "127.0.0.2");
    EXPECT_STREQ(info.mask, "255.255.255.0");
    EXPECT_EQ(info.ptzPort, 5000);
    EXPECT_EQ(strlen(info.status), sizeof(info.status) - 1);

    EXPECT_NE(search.GetDevice(2, reinterpret_cast<uint8_t*>(&info), CameraSearch::kRecordSize), 0);
    EXPECT_NE(search.GetDevice(-1, reinterpret_cast<uint8_t*>(&info), CameraSearch::kRecordSize), 0);
    EXPECT_NE(search.GetDevice(0, reinterpret_cast<uint8_t*>(&info), 100), 0);
}

TEST_F(CameraSearchTest, NetworkChangeIsKeptForTheNextSearch)
{
    CameraSearch search;
    search.StartSearch();
    IpcSearchInfo info{};
    ASSERT_EQ(search.GetDevice(0, reinterpret_cast<uint8_t*>(&info), CameraSearch::kRecordSize), 0);
    strcpy(info.address, "127.0.0.50");
    strcpy(info.gateway, "127.0.0.254");
    EXPECT_EQ(search.SetNetParam(0, reinterpret_cast<uint8_t*>(&info), CameraSearch::kRecordSize), 0);
    EXPECT_EQ(search.ModifyDevice(0, reinterpret_cast<uint8_t*>(&info), CameraSearch::kRecordSize), 0);
    EXPECT_NE(search.ModifyDevice(7, reinterpret_cast<uint8_t*>(&info), CameraSearch::kRecordSize), 0);

    CameraSearch again;
    again.StartSearch();
    IpcSearchInfo info2{};
    ASSERT_EQ(again.GetDevice(0, reinterpret_cast<uint8_t*>(&info2), CameraSearch::kRecordSize), 0);
    EXPECT_STREQ(info2.address, "127.0.0.50");
    EXPECT_STREQ(info2.gateway, "127.0.0.254");
    EXPECT_FALSE(again.GetLocalNetInfo().empty());
}

} // namespace
