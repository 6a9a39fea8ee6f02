// Pictures of every skinned widget in its states, and a sheet of the skin's
// pictures, written to the gallery folder for a reviewer to look at.
#include "core/helpers.h"
#include "res/resources.h"
#include "res/strings.h"
#include "ui/gdip_button.h"
#include "ui/report_ctrl.h"
#include "ui/res_msg_dlg.h"
#include "ui/skin_draw.h"
#include "ui/skin_widgets.h"
#include "ui_test_util.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>

#include <utility>

namespace {

// Pictures side by side with a caption under each.
class Sheet {
public:
    void Add(const QString& caption, const QImage& img) { m_items.push_back({caption, img}); }
    // Left to right, wrapping at maxWidth.
    QImage Render(int maxWidth = 1200) const
    {
        const int pad = 12, capH = 18;
        const QFontMetrics fm{QFont()};
        struct Place {
            int x, y, w;
        };
        std::vector<Place> places;
        int x = pad, y = pad, rowH = 0, width = 0;
        for (const auto& [cap, img] : m_items) {
            const int w = std::max(img.width(), fm.horizontalAdvance(cap));
            if (x > pad && x + w > maxWidth) {
                x = pad;
                y += rowH + capH + pad;
                rowH = 0;
            }
            places.push_back({x, y, w});
            rowH = std::max(rowH, img.height());
            x += w + pad;
            width = std::max(width, x);
        }
        QImage out(std::max(width, 2 * pad), y + rowH + capH + pad, QImage::Format_RGB32);
        out.fill(QColor(0xDD, 0xE1, 0xE6));
        QPainter p(&out);
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            p.drawImage(places[i].x, places[i].y, m_items[i].second);
            p.setPen(QColor(0x33, 0x33, 0x33));
            p.drawText(QRect(places[i].x, places[i].y + m_items[i].second.height() + 2, places[i].w, capH),
                       Qt::AlignLeft | Qt::AlignTop, m_items[i].first);
        }
        return out;
    }

private:
    std::vector<std::pair<QString, QImage>> m_items;
};

bool Save(const QImage& img, const QString& name)
{
    const QString path = GalleryDir() + QLatin1Char('/') + name;
    return img.save(path);
}

// A window whose background is a skin picture, painted the way the dialogs do.
class SkinnedHost : public CWnd {
public:
    explicit SkinnedHost(const std::string& picture) : m_picture(picture) { Create(nullptr, CRect(0, 0, 10, 10)); }
    void OnPaint() override
    {
        QPainter p(this);
        m_gdi.DrawImageFile(m_picture.c_str(), CRect(rect()), &p);
    }

private:
    CGdiManger m_gdi;
    std::string m_picture;
};

TEST(WidgetGallery, ImageButtons)
{
    SetBuiltinLanguage(ResLanguage::English);
    Sheet sheet;
    SkinnedHost bar(BinDir() + "Images/VideoTablebk.png");
    bar.resize(420, 42);
    struct Btn {
        UINT id;
        const char* what;
    };
    const Btn toolbar[] = {{294, "pointer"}, {293, "move"}, {292, "zoom in"}, {295, "zoom out"}, {343, "separator"},
                           {188, "full screen"}, {187, "stream"}, {175, "capture"}, {177, "talk"}, {211, "talking"},
                           {176, "sound"}, {212, "sound on"}, {967, "broadcast"}, {968, "broadcasting"},
                           {276, "record"}, {275, "recording"}};
    int x = 8;
    for (const Btn& b : toolbar) {
        auto* btn = new CGdipButton(&bar);
        btn->setGeometry(x, 10, b.id == 343 ? 7 : 22, 22);
        btn->LoadImageResource(b.id, "PNG");
        btn->show();
        x += b.id == 343 ? 12 : 25;
    }
    bar.show();
    sheet.Add(QStringLiteral("video toolbar, normal faces"), bar.grab().toImage());

    // One button in its states.
    SkinnedHost host(BinDir() + "Images/Pagebk.jpg");
    host.resize(110, 40);
    auto* btn = new CGdipButton(&host);
    btn->setGeometry(15, 6, 80, 28);
    btn->LoadImageResource(190, "PNG");
    btn->SetButtonTextW(LoadResStringW(461).c_str());
    btn->show();
    host.show();
    sheet.Add(QStringLiteral("captioned, normal"), host.grab().toImage());
    btn->OnMouseHover();
    sheet.Add(QStringLiteral("hot (caption orange)"), host.grab().toImage());
    btn->setDown(true);
    sheet.Add(QStringLiteral("pressed (1 px up-left)"), host.grab().toImage());
    btn->setDown(false);
    btn->OnMouseLeave();
    btn->SetTextColor(kSelectedCaptionColor);
    sheet.Add(QStringLiteral("selected (fixed orange)"), host.grab().toImage());
    btn->SetTextColor(0);
    btn->setEnabled(false);
    sheet.Add(QStringLiteral("disabled (same face)"), host.grab().toImage());
    sheet.Add(QStringLiteral("grey face (prepared, unused)"), btn->GetFace(CGdipButton::FaceGrey));

    auto* talk = new CGdipButton(&host);
    talk->setGeometry(44, 9, 22, 22);
    btn->hide();
    talk->LoadImageResource(177, "PNG");
    talk->show();
    sheet.Add(QStringLiteral("talk 177 normal"), host.grab().toImage());
    talk->OnMouseHover();
    sheet.Add(QStringLiteral("talk 177 hot"), host.grab().toImage());
    talk->setDown(true);
    sheet.Add(QStringLiteral("talk 177 pressed"), host.grab().toImage());
    EXPECT_TRUE(Save(sheet.Render(), QStringLiteral("gdip_button.png")));
}

TEST(WidgetGallery, ReportList)
{
    SetBuiltinLanguage(ResLanguage::English);
    MsgRecorder parent;
    parent.resize(640, 230);
    auto* list = new CReportCtrl(&parent);
    list->setGeometry(0, 0, 640, 230);
    list->show();
    const std::string layout = LoadResString(400) + ",150;" + LoadResString(401) + ",150;" + LoadResString(402) +
                               ",170;Size,70,2;%,60,1";
    list->SetColumnLayout(layout.c_str());
    list->SetCheckboxMode(RC_CHKBOX_NORMAL);
    list->SetGridLines(TRUE);
    const char* rows[][5] = {
        {"Gate-North", "Motion Detect", "2024-05-01 08:12:44", "1A", "12.5%"},
        {"Lobby", "Video lost", "2024-05-01 07:59:02", "9", "3%"},
        {"Parking-2", "Alarm input low to high", "2024-04-30 23:01:10", "10", "100%"},
        {"Warehouse", "Disk Full", "2024-05-02 00:00:00", "-1", "0.5%"},
        {"门口摄像机", "视频遮挡", "2024-05-01 12:00:00", "B", "50%"},
    };
    for (const auto& r : rows) {
        const int row = list->InsertItem(list->GetItemCount(), r[0]);
        for (int c = 1; c < 5; ++c)
            list->SetItemText(row, c, r[c]);
    }
    list->SetItemTextColor(1, -1, RGB(224, 62, 68), FALSE);
    list->SetItemBkColor(3, -1, RGB(255, 244, 214), FALSE);
    list->SetCheck(0, TRUE);
    list->SetCheck(3, TRUE);
    parent.show();
    Sheet sheet;
    sheet.Add(QStringLiteral("as filled: check boxes, a red row, a tinted row, grid lines"), parent.grab().toImage());
    list->SortItems(2, TRUE);
    sheet.Add(QStringLiteral("sorted by time, ascending"), parent.grab().toImage());
    list->SortItems(3, TRUE);
    sheet.Add(QStringLiteral("sorted by the hex column: 9, B, 10, 1A, -1"), parent.grab().toImage());
    list->SortItems(4, FALSE);
    list->SetItemStates(1, RC_ITEM_SELECTED | RC_ITEM_FOCUSED);
    list->SetEditable(TRUE);
    list->StartEdit(1, 0);
    list->GetEditControl()->setText(QStringLiteral("Lobby-East"));
    sheet.Add(QStringLiteral("sorted by percent, descending; editing a cell"), parent.grab().toImage());
    list->SetCheckboxMode(RC_CHKBOX_DISABLED);
    sheet.Add(QStringLiteral("read-only check boxes"), parent.grab().toImage());
    EXPECT_TRUE(Save(sheet.Render(700), QStringLiteral("report_ctrl.png")));
}

TEST(WidgetGallery, MessageBox)
{
    Sheet sheet;
    MsgRecorder owner;
    owner.resize(400, 300);
    owner.show();
    for (ResLanguage lang : {ResLanguage::English, ResLanguage::Chinese}) {
        SetBuiltinLanguage(lang);
        CResMsgDlg box;
        box.Create(CResMsgDlg::IDD, &owner);
        const QString tag = lang == ResLanguage::English ? QStringLiteral("en") : QStringLiteral("zh");
        box.ShowMsgW(LoadResStringW(330).c_str(), 2);
        sheet.Add(tag + QStringLiteral(", mode 2 (string 330)"), box.grab().toImage());
        box.ShowMsgW(LoadResStringW(319).c_str(), 9);
        sheet.Add(tag + QStringLiteral(", mode 9 (string 319)"), box.grab().toImage());
        box.ShowMsgW(LoadResStringW(968).c_str(), 2);
        sheet.Add(tag + QStringLiteral(", three lines (string 968)"), box.grab().toImage());
    }
    SetBuiltinLanguage(ResLanguage::English);
    EXPECT_TRUE(Save(sheet.Render(), QStringLiteral("res_msg_dlg.png")));
}

TEST(WidgetGallery, SmallWidgets)
{
    SetBuiltinLanguage(ResLanguage::English);
    Sheet sheet;
    // Sliders: the skin's bar, and the platform's look without it.
    for (int value : {0, 30, 100}) {
        CSkinSlider s;
        s.LoadBarBitmap((BinDir() + "Images/bar.bmp").c_str());
        s.setRange(0, 100);
        s.setValue(value);
        s.resize(300, 18);
        sheet.Add(QStringLiteral("slider at %1").arg(value), s.grab().toImage());
    }
    {
        CSkinSlider s;
        s.LoadBarBitmap((BinDir() + "Images/bar.bmp").c_str());
        s.resize(300, 18);
        s.ShowThumb(FALSE);
        sheet.Add(QStringLiteral("slider, thumb hidden"), s.grab().toImage());
        s.LoadBarBitmap("/no/bar.bmp");
        sheet.Add(QStringLiteral("slider without bar.bmp"), s.grab().toImage());
    }
    // Group boxes and statics on the page background.
    SkinnedHost page(BinDir() + "Images/Pagebk.jpg");
    page.resize(300, 90);
    auto* g = new CTGroupBox(&page);
    g->setGeometry(10, 6, 280, 76);
    g->setTitle(QString::fromStdString(LoadResString(810)));
    auto* t = new CTransparentStatic(&page);
    t->setGeometry(24, 30, 250, 20);
    t->SetText((LoadResString(848) + " : 1024(MB)").c_str());
    auto* k = new CSkinStatic(&page);
    k->setGeometry(24, 54, 120, 18);
    k->setText(QStringLiteral("08:30:00"));
    for (QWidget* w : {static_cast<QWidget*>(g), static_cast<QWidget*>(t), static_cast<QWidget*>(k)})
        w->show();
    page.show();
    sheet.Add(QStringLiteral("group box, transparent static, skin static"), page.grab().toImage());
    g->SetStyle(BS_CENTER);
    sheet.Add(QStringLiteral("group box, centred caption"), page.grab().toImage());
    g->SetStyle(BS_RIGHT | BS_FLAT);
    sheet.Add(QStringLiteral("group box, flat, right caption"), page.grab().toImage());
    g->SetStyle(0);
    g->setEnabled(false);
    sheet.Add(QStringLiteral("group box, disabled"), page.grab().toImage());
    g->setTitle(QString());
    g->setEnabled(true);
    sheet.Add(QStringLiteral("group box, empty caption"), page.grab().toImage());
    EXPECT_TRUE(Save(sheet.Render(700), QStringLiteral("small_widgets.png")));
}

TEST(WidgetGallery, TabBar)
{
    // The page tab bar as its Part lays it out: edges, separators and tabs.
    Sheet sheet;
    for (ResLanguage lang : {ResLanguage::English, ResLanguage::Chinese}) {
        SetBuiltinLanguage(lang);
        for (int current = 0; current < 4; ++current) {
            QWidget bar;
            bar.setAutoFillBackground(true);
            bar.setPalette(QPalette(QColor(0x1B, 0x26, 0x38)));
            bar.resize(7 + 29 * 5 + 136 * 4 + 7, 31);
            int x = 7;
            auto add = [&](const std::string& pic, int w, const std::wstring& caption, bool selected) {
                auto* b = new CXImageButton(&bar);
                b->setGeometry(x, 0, w, 31);
                b->SetImagePath((BinDir() + "Images/" + pic).c_str());
                if (!caption.empty()) {
                    b->SetButtonTextW(caption.c_str());
                    b->SetTextColor(selected ? kSelectedCaptionColor : 0);
                }
                x += w;
            };
            add(current == 0 ? "tab1.png" : "tab8.png", 29, L"", false);
            for (int i = 0; i < 4; ++i) {
                add(i == current ? "tab2.png" : "tab4.png", 136, LoadResStringW(280 + i), i == current);
                if (i < 3)
                    add(current == i + 1 ? "tab7.png" : current == i ? "tab3.png" : "tab5.png", 29, L"", false);
            }
            add(current == 3 ? "tab9.png" : "tab6.png", 29, L"", false);
            bar.show();
            sheet.Add(QStringLiteral("tab %1 current").arg(current + 1), bar.grab().toImage());
        }
    }
    SetBuiltinLanguage(ResLanguage::English);
    EXPECT_TRUE(Save(sheet.Render(700), QStringLiteral("tab_bar.png")));
}

TEST(WidgetGallery, SkinPictures)
{
    // Every compiled-in picture, three times its size.
    Sheet faces;
    for (std::size_t i = 0; i < qelm::res::detail::kResourceCount; ++i) {
        const auto& e = qelm::res::detail::kResources[i];
        QImage img;
        ASSERT_TRUE(img.loadFromData(e.data.data, static_cast<int>(e.data.size))) << e.id;
        QImage shown(img.size() * 3, QImage::Format_ARGB32);
        shown.fill(QColor(0xF6, 0xF6, 0xF6));
        QPainter p(&shown);
        if (e.id == 150 || e.id == 151 || e.id == 152 || e.id == 368)
            p.fillRect(shown.rect(), QColor(0x1B, 0x26, 0x38)); // they sit on the dark header
        p.drawImage(shown.rect(), img);
        p.end();
        faces.Add(QStringLiteral("%1 %2").arg(QString::fromLatin1(e.type)).arg(e.id), shown);
    }
    EXPECT_TRUE(Save(faces.Render(1000), QStringLiteral("skin_resources.png")));

    Sheet files;
    const QDir images(QString::fromStdString(BinDir() + "Images"));
    for (const QString& name : images.entryList(QDir::Files, QDir::Name)) {
        QImage img(images.filePath(name));
        if (name.endsWith(QLatin1String(".cur")))
            img = img.scaled(img.size() * 2);
        ASSERT_FALSE(img.isNull()) << name.toStdString();
        if (img.width() > 400)
            img = img.scaledToWidth(400, Qt::SmoothTransformation);
        if (name == QLatin1String("bar.bmp"))
            img = img.scaled(img.size() * 4);
        files.Add(name, img);
    }
    const QDir mapData(QString::fromStdString(BinDir() + "MapData"));
    for (const QString& name : mapData.entryList(QDir::Files, QDir::Name))
        files.Add(QStringLiteral("MapData/") + name, QImage(mapData.filePath(name)).scaled(56, 56));
    EXPECT_TRUE(Save(files.Render(1300), QStringLiteral("skin_files.png")));
}

} // namespace
