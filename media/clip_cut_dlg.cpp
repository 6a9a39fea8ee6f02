// The clip cutting dialog: source and output choice, the time range, and the
// copy of the range's chunks from the reader into a new clip.
#include "media/clip_cut_dlg.h"

#include "controls/avi_file.h"
#include "core/helpers.h"
#include "core/log.h"
#include "media/avi_reader.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "res/strings.h"
#include "ui/res_msg_dlg.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kMaxPath = 259;

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

int Seconds(const QTimeEdit* t)
{
    const QTime v = t->time();
    return v.hour() * 3600 + v.minute() * 60 + v.second();
}

QTime TimeOfDay(int seconds)
{
    seconds %= 86400;
    return QTime(seconds / 3600, seconds / 60 % 60, seconds % 60);
}

} // namespace

BEGIN_MESSAGE_MAP(CCropDlg, CDialog)
    ON_BN_CLICKED(CCropDlg::IDC_BTN_BROWSE_SRC, &CCropDlg::OnBnClickedBtnBrowseSrc)
    ON_BN_CLICKED(CCropDlg::IDC_BTN_BROWSE_DIR, &CCropDlg::OnBnClickedBtnBrowseDir)
    ON_BN_CLICKED(CCropDlg::IDC_BTN_CUT, &CCropDlg::OnBnClickedBtnCut)
END_MESSAGE_MAP()

CCropDlg::CCropDlg(CWnd* pParent) : CDialog(IDD, pParent) {}

CCropDlg::~CCropDlg()
{
    delete m_pMsgDlg;
}

int CCropDlg::SetSourceFile(const char* path)
{
    if (!path || !*path || strlen(path) > kMaxPath)
        return -1;
    m_strSource = path;
    return 0;
}

void CCropDlg::CreateControls()
{
    resize(420, 300);
    auto label = [this](UINT id, int x, int y, int w, int h) {
        auto* l = new QLabel(this);
        l->setGeometry(x, y, w, h);
        qelm::SetControlId(l, id);
        return l;
    };
    auto button = [this](UINT id, int x, int y, int w, int h) {
        auto* b = new QPushButton(this);
        b->setGeometry(x, y, w, h);
        qelm::SetControlId(b, id);
        return b;
    };
    auto edit = [this](UINT id, int x, int y, int w, int h) {
        auto* e = new QLineEdit(this);
        e->setGeometry(x, y, w, h);
        qelm::SetControlId(e, id);
        return e;
    };
    auto picker = [this](UINT id, int x, int y) {
        auto* t = new QTimeEdit(this);
        t->setGeometry(x, y, 110, 24);
        t->setDisplayFormat(QStringLiteral("HH:mm:ss"));
        qelm::SetControlId(t, id);
        return t;
    };

    auto* src = new QGroupBox(this);
    src->setGeometry(10, 8, 400, 92);
    qelm::SetControlId(src, IDC_STATIC_SRC_GROUP);
    label(IDC_STATIC_PATH, 22, 32, 80, 24);
    edit(IDC_EDIT_SRC, 104, 32, 260, 24)->setReadOnly(true);
    button(IDC_BTN_BROWSE_SRC, 370, 32, 30, 24)->setText(QStringLiteral("..."));
    label(IDC_STATIC_DURATION, 22, 64, 80, 24);
    label(IDC_STATIC_DURATION_VALUE, 104, 64, 120, 24);

    auto* dst = new QGroupBox(this);
    dst->setGeometry(10, 108, 400, 124);
    qelm::SetControlId(dst, IDC_STATIC_DST_GROUP);
    label(IDC_STATIC_OUTDIR, 22, 132, 80, 24);
    edit(IDC_EDIT_OUTDIR, 104, 132, 260, 24);
    button(IDC_BTN_BROWSE_DIR, 370, 132, 30, 24)->setText(QStringLiteral("..."));
    label(IDC_STATIC_START, 22, 164, 80, 24);
    m_pStart = picker(IDC_TIME_START, 104, 164);
    label(IDC_STATIC_END, 22, 196, 80, 24);
    m_pEnd = picker(IDC_TIME_END, 104, 196);

    button(IDC_BTN_CUT, 230, 252, 80, 28);
    auto* cancel = button(IDCANCEL, 320, 252, 80, 28);
    QObject::connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });
}

BOOL CCropDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetWindowText(LoadResString(1531).c_str());
    SetDlgItemText(IDC_BTN_CUT, LoadResString(1531).c_str());
    SetDlgItemText(IDC_STATIC_SRC_GROUP, LoadResString(1532).c_str());
    SetDlgItemText(IDC_STATIC_PATH, LoadResString(1533).c_str());
    SetDlgItemText(IDC_STATIC_DURATION, LoadResString(1534).c_str());
    SetDlgItemText(IDC_STATIC_DST_GROUP, LoadResString(1535).c_str());
    SetDlgItemText(IDC_STATIC_OUTDIR, LoadResString(1536).c_str());
    SetDlgItemText(IDC_STATIC_START, LoadResString(1537).c_str());
    SetDlgItemText(IDC_STATIC_END, LoadResString(1538).c_str());
    SetDlgItemText(IDCANCEL, LoadResString(222).c_str());
    SetDlgItemText(IDC_STATIC_DURATION_VALUE, "");
    m_pStart->setTime(QTime(0, 0, 0));
    m_pEnd->setTime(QTime(0, 0, 0));
    LoadSource();
    return TRUE;
}

void CCropDlg::LoadSource()
{
    if (m_strSource.empty())
        return;
    SetDlgItemText(IDC_EDIT_SRC, m_strSource.c_str());
    size_t slash = m_strSource.size();
    while (slash > 0 && !IsSeparator(m_strSource[slash - 1]))
        --slash;
    if (slash == 0)
        return;
    m_strOutDir = m_strSource.substr(0, std::min(slash, kMaxPath));
    SetDlgItemText(IDC_EDIT_OUTDIR, m_strOutDir.c_str());

    CReadAviFile reader;
    if (!reader.Open(m_strSource.c_str()))
        return;
    m_nDuration = reader.GetAllTime();
    reader.Close();
    char text[32];
    snprintf(text, sizeof(text), "%02d:%02d:%02d", m_nDuration / 3600, m_nDuration / 60 % 60, m_nDuration % 60);
    SetDlgItemText(IDC_STATIC_DURATION_VALUE, text);
    m_pStart->setTime(QTime(0, 0, 0));
    m_pEnd->setTime(TimeOfDay(m_nDuration));
}

void CCropDlg::SourceChosen(const std::string& path)
{
    SetDlgItemText(IDC_STATIC_DURATION_VALUE, "");
    if (SetSourceFile(path.c_str()) == 0)
        LoadSource();
}

void CCropDlg::OnBnClickedBtnBrowseSrc()
{
    const QString path = QFileDialog::getOpenFileName(this, QString(), QString(), QStringLiteral("avi Files (*.avi)"));
    if (!path.isEmpty())
        SourceChosen(qelm::FromQ(path));
}

void CCropDlg::OnBnClickedBtnBrowseDir()
{
    const QString dir = QFileDialog::getExistingDirectory(this);
    if (dir.isEmpty())
        return;
    const std::string folder = qelm::FromQ(dir);
    if (folder.size() > kMaxPath)
        return;
    m_strOutDir = folder;
    SetDlgItemText(IDC_EDIT_OUTDIR, m_strOutDir.c_str());
}

bool CCropDlg::CutFile(const std::string& source, const std::string& outPath, int start, int end)
{
    CReadAviFile reader;
    if (!reader.Open(source.c_str())) {
        WriteLog(3, "CCropDlg: cannot open %s", source.c_str());
        return false;
    }
    AviVideoDesc video{};
    AviAudioDesc audio{};
    reader.GetVideoInfo(&video);
    reader.GetAudioInfo(&audio);
    const bool withAudio = reader.GetMediaType() == CReadAviFile::kAudioVideo;

    CWriteAviFile writer("Crop");
    writer.SetFileName(GetTickCount(), outPath.c_str());
    writer.SetMediaParam(withAudio ? 1 : 0, end - start, &audio, &video);
    if (writer.Start() != 1) {
        WriteLog(3, "CCropDlg: cannot create %s", outPath.c_str());
        return false;
    }
    if (reader.SeekToTime(start) == 0) {
        std::vector<uint8_t> buffer(kCopyBufferSize);
        // Up to the key frame of the end second; a range that reaches the end
        // of the recording takes its last group of pictures too.
        const bool toTheEnd = end >= reader.GetAllTime();
        for (int t = reader.GetCurTime(); (t >= 0 && t <= end) || (t < 0 && toTheEnd); t = reader.GetCurTime()) {
            int isVideo = 0, isKey = 0;
            const int n = reader.ReadOneFrame(buffer.data(), kCopyBufferSize, &isVideo, &isKey);
            if (n == -3)
                continue; // an oversized or damaged chunk was skipped
            if (n <= 0)
                break;
            if (isVideo)
                writer.WriteVideoFrame(isKey, buffer.data(), n);
            else
                writer.WriteAudioFrame(buffer.data(), n);
        }
    }
    writer.Stop();
    reader.Close();
    if (writer.Failed()) {
        WriteLog(3, "CCropDlg: writing %s failed", outPath.c_str());
        return false;
    }
    if (writer.VideoFrames() == 0) {
        WriteLog(3, "CCropDlg: no frame of %s between %d and %d s", source.c_str(), start, end);
        unlink(outPath.c_str()); // a header alone is no clip
        return false;
    }
    return true;
}

void CCropDlg::OnBnClickedBtnCut()
{
    const std::string typed = GetDlgItemText(IDC_EDIT_OUTDIR);
    if (typed.size() <= kMaxPath)
        m_strOutDir = typed;
    int start = Seconds(m_pStart);
    int end = Seconds(m_pEnd);
    if (start >= m_nDuration)
        start = m_nDuration - 1;
    if (end > m_nDuration)
        end = m_nDuration;
    if (start >= end || end - start > m_nDuration || m_strOutDir.empty())
        return;

    const std::tm now = qelm::LocalNow();
    char name[64];
    snprintf(name, sizeof(name), "crop_%d%02d%02d_%02d%02d%02d.avi", now.tm_year + 1900, now.tm_mon + 1, now.tm_mday,
             now.tm_hour, now.tm_min, now.tm_sec);
    std::string out = m_strOutDir;
    if (!IsSeparator(out.back()))
        out += '/';
    out += name;

    if (!CutFile(m_strSource, out, start, end))
        return;
    m_strLastClip = out;
    if (!m_pMsgDlg) {
        m_pMsgDlg = new CResMsgDlg(this);
        m_pMsgDlg->Create(CResMsgDlg::IDD, this);
    }
    m_pMsgDlg->ShowMsg(LoadResString(1502).c_str(), CResMsgDlg::MODE_INFO);
}
