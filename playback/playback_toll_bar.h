// CPlayBackTollBar: the time line of the record search page's by-date mode
// (template 338). One row per day slot of the page: the slot's minute map as
// coloured bars, a name column, a time scale, a cursor per row, three zooms
// and a slider. A double click on a row asks the owner to play it.
//
// Everything is drawn into 8-bit palette images (CxImage) and copied to the
// window: the rows live in one 1,440-column image (a column per minute) that
// is cropped and resampled for the view.
#pragma once

#include "platform/dialog.h"
#include "ui/image/ximage.h"
#include "ui/skin_draw.h"

#include <QFont>

#include <cstdint>
#include <map>
#include <memory>

class CSkinSlider;
class QLabel;

// Posted to the owner: wParam row, lParam second of the day or kNameColumn.
inline constexpr UINT WM_TIMEBAR_DBLCLK = WM_USER + 5000;

// Scroll codes of OnHScroll.
inline constexpr UINT SB_LINEUP = 0;
inline constexpr UINT SB_LINEDOWN = 1;
inline constexpr UINT SB_PAGEUP = 2;
inline constexpr UINT SB_PAGEDOWN = 3;
inline constexpr UINT SB_THUMBPOSITION = 4;
inline constexpr UINT SB_THUMBTRACK = 5;
inline constexpr UINT SB_TOP = 6;
inline constexpr UINT SB_BOTTOM = 7;
inline constexpr UINT SB_ENDSCROLL = 8;

// Fills the rectangle between two corners (both included, top-down, put in
// order and clamped to the image) with a palette index; not filled draws its
// outline only. 0; -1 invalid image; -2 not an 8-bit image.
int FillImageRect(CxImage* image, int x1, int y1, int x2, int y2, BYTE index, bool filled);
// Copies the whole source into the destination with its top row at row top.
// 0; -1 destination invalid; -2 source invalid; -3 depth differs; -4 width
// or row length differs; -5 the source does not fit below top.
int PasteImageRows(CxImage* dst, const CxImage* src, int top);

struct CTimeBarRow {
    std::unique_ptr<CxImage> image; // 1,440 x 20
    char szName[32] = {};
    char szMinutes[1440] = {};      // letters, no terminator when full
    int32_t nRow = -1;              // -1 once removed
    int32_t nCursor = -1;           // second of the day, -1 none
    int32_t nYear = 0, nMonth = 0, nDay = 0;
};

class CPlayBackTollBar : public CDialog {
public:
    enum {
        IDD = 338,
        IDC_ZOOM_DAY = 1391,
        IDC_ZOOM_MINUTE = 1392,
        IDC_ZOOM_SECOND = 1393,
        IDC_SLIDER = 1394,
    };
    static constexpr int kNameColumn = -100;
    static constexpr int kNameWidth = 84;
    static constexpr int kScaleHeight = 28;
    static constexpr int kRowPitch = 24;
    static constexpr int kRowBand = 20;
    static constexpr int kBottom = 34; // slider and clicked-time box under the rows area
    static constexpr int kDayMinutes = 1440;
    static constexpr int kDaySeconds = 86400;

    // Palette indexes.
    enum : BYTE {
        kInk = 0,
        kBackground = 1,
        kPlan = 2,
        kAlarm = 3,
        kNoRecord = 4,
        kCursor = 9,
        kTransparent = 250,
    };

    explicit CPlayBackTollBar(CWnd* pOwner);
    ~CPlayBackTollBar() override;

    int SetLanguage(int nLanguage);
    // 0; -1 row below 0; -2 row beyond the rows image; -3 row not below the rows that fit.
    int SetRow(const char* pMinuteMap, const char* pName, int nRow);
    void SetRowDate(int nRow, int nYear, int nMonth, int nDay);
    int RemoveRow(int nRow);
    // 0; -1 second outside 0 to 86,400; -2 no such row.
    int SetRowPos(int nRow, int nSecond);
    // The cursor second, 0 when the row does not exist or was removed.
    int GetRowPos(int nRow) const;
    void RebuildRows();

    // Zoom labels "H", "M", "S".
    void OnZoomDay();
    void OnZoomMinute();
    void OnZoomSecond();
    // The slider (control 1394).
    void OnHScroll(UINT nSBCode, int nPos);
    // zoom 1 to 3 switches the zoom, -1 keeps it.
    void Redraw(int nZoom);

    // Creates a w x h 8-bit image with the time line's palette, index 250
    // transparent, filled with the background. FALSE when it cannot.
    static BOOL InitPaletteImage(CxImage* image, int w, int h);
    // The row picture: 1,440 x 20, runs of equal letters as bars in rows 3
    // to 14. -2 without a map (picture left blank), 0 done.
    static int DrawRowImage(CxImage* image, const char* pMinuteMap);

    int GetZoom() const { return m_nZoom; }
    int GetSliderSec() const { return m_nSliderSec; }
    int GetClickSec() const { return m_nClickSec; }
    int GetViewWidth() const { return m_nViewWidth; }
    int GetRowCount() const { return m_nRowCount; }
    const CTimeBarRow* GetRow(int nRow) const;
    CSkinSlider* Slider() const { return m_pSlider; }
    const CxImage& RowsImage() const { return m_imgRows; }
    const CxImage& NameImage() const { return m_imgNames; }

    CWnd* m_pOwner = nullptr;

protected:
    void CreateControls() override;
    BOOL OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override {}
    void OnSize(UINT nType, int cx, int cy) override;
    void OnPaint() override;
    void OnLButtonUp(UINT nFlags, CPoint point) override;
    void OnLButtonDblClk(UINT nFlags, CPoint point) override;

private:
    // Which row band a point is in; false outside every band.
    bool HitRow(CPoint point, int* pRow, int* pX) const;
    void DrawRowAndName(CTimeBarRow* row);
    void RebuildRowImages();
    void SyncSize();
    void BuildDayScale(int width);
    void EnsureMinuteScale();
    void EnsureSecondScales();
    void Compose(CDC& dc);
    void SetZoomFonts(UINT boldId);
    void WriteViewTime();

    std::map<int, CTimeBarRow*> m_mapRows;
    int32_t m_nZoom = 1;
    int32_t m_nSliderSec = 0;
    int32_t m_nClickSec = 0;
    int32_t m_nViewWidth = 0;
    int32_t m_nRowCount = 0;
    int m_nSizedW = -1, m_nSizedH = -1; // the size the images were made for

    CxImage m_imgDayScale;
    CxImage m_imgMinuteScale;
    CxImage m_imgSecondScale[3];
    CxImage m_imgRows;
    CxImage m_imgNames;
    CxImage m_imgViewTime;
    CxImage m_imgClickTime;

    CSkinSlider* m_pSlider = nullptr;
    QLabel* m_pZoom[3] = {};
    CRect m_rcZoom[3];
    QFont m_fontBold;
    QFont m_fontNormal;
};
