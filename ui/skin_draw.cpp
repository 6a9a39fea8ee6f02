// Skin drawing: picture files painted through the skin drawer, the memory DC,
// bitmap holders and cursor files.
#include "ui/skin_draw.h"

#include "platform/logsink.h"
#include "platform/paths.h"
#include "platform/regular_file.h"
#include "platform/text.h"
#include "res/resources.h"

#include <QBuffer>
#include <QCursor>
#include <QImageReader>
#include <QPaintDevice>
#include <QPixmap>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// A skin file's bytes, only from a regular file: a pipe in a picture's place
// would hold the window's painting for ever. A missing file is no fault.
bool ReadSkinFile(const char* path, std::string& bytes, std::size_t maxBytes)
{
    std::string why;
    const std::string file = qelm::NormalizePath(path);
    if (qelm::ReadRegularFile(file, bytes, &why, maxBytes))
        return true;
    if (errno != ENOENT)
        qelm::PlatformLog(3, "Skin: %s not read: %s", file.c_str(), why.c_str());
    return false;
}

// Decodes a picture file; a null image when it is missing or undecodable.
QImage ReadPicture(const char* path)
{
    if (!path || !*path)
        return {};
    std::string bytes;
    if (!ReadSkinFile(path, bytes, std::size_t(64) << 20))
        return {};
    QByteArray data = QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size()));
    QBuffer buffer(&data);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    return reader.read();
}

} // namespace

// --- CGdiManger ----------------------------------------------------------------------

void CGdiManger::DrawImageFile(const char* path, const CRect& rect, CDC* pDC)
{
    if (!pDC || !pDC->isActive())
        return;
    const QImage img = ReadPicture(path);
    if (img.isNull())
        return;
    pDC->save();
    pDC->setRenderHint(QPainter::SmoothPixmapTransform, true);
    pDC->drawImage(rect.ToQ(), img);
    pDC->restore();
}

void CGdiManger::DrawImageFileAt(const char* path, int x, int y, CDC* pDC)
{
    if (!pDC || !pDC->isActive())
        return;
    const QImage img = ReadPicture(path);
    if (img.isNull())
        return;
    pDC->drawImage(QPoint(x, y), img);
}

wchar_t* CGdiManger::AnsiToWide(const char* text)
{
    std::wstring wide;
    if (!text || !::AnsiToWide(text, wide))
        return nullptr;
    auto* out = new wchar_t[wide.size() + 1];
    std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    return out;
}

// --- CXMemDC -------------------------------------------------------------------------

CXMemDC::CXMemDC(CDC* pDC, const CRect& rect, BOOL bCopyFirst) : m_pDC(pDC), m_rect(rect)
{
    if (!pDC || !pDC->isActive())
        return;
    QPaintDevice* device = pDC->device();
    // A printer draws straight onto its own context.
    if (device && device->devType() == QInternal::Printer)
        return;
    if (m_rect.left == 0 && m_rect.top == 0 && m_rect.right == 0 && m_rect.bottom == 0) {
        if (pDC->hasClipping())
            m_rect = CRect(pDC->clipBoundingRect().toAlignedRect());
        else if (device)
            m_rect = CRect(0, 0, device->width(), device->height());
    }
    if (m_rect.IsRectEmpty())
        return;
    m_bitmap = QImage(m_rect.Width(), m_rect.Height(), QImage::Format_ARGB32_Premultiplied);
    m_bitmap.fill(Qt::transparent);
    if (bCopyFirst && device) {
        const QTransform& t = pDC->worldTransform();
        const QRect src = t.mapRect(m_rect.ToQ());
        if (device->devType() == QInternal::Image) {
            m_bitmap = static_cast<QImage*>(device)->copy(src).convertToFormat(QImage::Format_ARGB32_Premultiplied);
            m_bCopied = true;
        } else if (device->devType() == QInternal::Pixmap) {
            m_bitmap = static_cast<QPixmap*>(device)->copy(src).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
            m_bCopied = true;
        }
        if (m_bitmap.size() != QSize(m_rect.Width(), m_rect.Height())) {
            // The area reached outside the device: start over transparent.
            m_bitmap = QImage(m_rect.Width(), m_rect.Height(), QImage::Format_ARGB32_Premultiplied);
            m_bitmap.fill(Qt::transparent);
            m_bCopied = false;
        }
    }
    m_painter.emplace(&m_bitmap);
    m_painter->setFont(pDC->font());
    m_painter->setPen(pDC->pen());
    m_painter->setBrush(pDC->brush());
    // Callers draw in the target's coordinates.
    m_painter->translate(-m_rect.left, -m_rect.top);
    m_bMemDC = true;
}

CXMemDC::~CXMemDC()
{
    if (!m_bMemDC)
        return;
    m_painter->end();
    m_painter.reset();
    if (!m_pDC->isActive())
        return;
    m_pDC->save();
    // A copied-in buffer holds the whole area; a transparent one is laid over.
    m_pDC->setCompositionMode(m_bCopied ? QPainter::CompositionMode_Source : QPainter::CompositionMode_SourceOver);
    m_pDC->drawImage(m_rect.TopLeft().ToQ(), m_bitmap);
    m_pDC->restore();
}

// --- bitmap holders ------------------------------------------------------------------

BOOL CGdiPlusBitmap::Load(const char* path)
{
    Empty();
    QImage img = ReadPicture(path);
    if (img.isNull())
        return FALSE;
    m_pBitmap = std::make_unique<QImage>(std::move(img));
    return TRUE;
}

BOOL CGdiPlusBitmapResource::Load(const char* pName, const char* pType, const void* hModule)
{
    Empty();
    if (!pName || pName[0] != '#')
        return FALSE; // pictures are compiled in by number only
    char* end = nullptr;
    const unsigned long id = std::strtoul(pName + 1, &end, 10);
    if (end == pName + 1 || *end != '\0' || id > 0xFFFF)
        return FALSE;
    return Load(static_cast<UINT>(id), pType, hModule);
}

BOOL CGdiPlusBitmapResource::Load(UINT id, const char* pType, const void* hModule)
{
    Empty();
    if (hModule)
        return FALSE; // no other module carries pictures
    const AppResource* res = FindAppResource(pType, id);
    if (!res || res->size == 0 || res->size > 0x7FFFFFFF)
        return FALSE;
    QImage img;
    if (!img.loadFromData(res->data, static_cast<int>(res->size)) || img.isNull())
        return FALSE;
    m_pBitmap = std::make_unique<QImage>(std::move(img));
    return TRUE;
}

void CGdiPlusBitmapResource::Empty()
{
    CGdiPlusBitmap::Empty();
}

// --- cursors -------------------------------------------------------------------------

QCursor LoadCursorFromFile(const char* path)
{
    if (!path)
        return QCursor(Qt::ArrowCursor);
    std::string raw;
    if (!ReadSkinFile(path, raw, std::size_t(1) << 20))
        return QCursor(Qt::ArrowCursor);
    const QByteArray bytes(raw.data(), qsizetype(raw.size()));
    QImage img;
    if (!img.loadFromData(bytes) || img.isNull())
        return QCursor(Qt::ArrowCursor);
    // The directory entry of the first image holds the hot spot of a cursor
    // file (type 2): bytes 10..13 of the file.
    int hotX = -1, hotY = -1;
    if (bytes.size() >= 22 && bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 2 && bytes[3] == 0) {
        auto u16 = [&](int at) {
            return static_cast<int>(static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned char>(bytes[at + 1]) << 8));
        };
        hotX = u16(10);
        hotY = u16(12);
        if (hotX >= img.width() || hotY >= img.height())
            hotX = hotY = -1;
    }
    return QCursor(QPixmap::fromImage(img), hotX, hotY);
}
