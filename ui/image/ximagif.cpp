// CxImageGIF: reads a GIF stream into a CxImage. Every code, string, line
// and frame rectangle is bounds-checked: nothing the file says can make it
// write outside the image or its tables.
#include "ui/image/ximagif.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

using qelm::image::ReadLe16;

namespace {

constexpr int kChunk = 16383;
constexpr int kMaxStringPerCode = 4094;
constexpr int kCodeMask[13] = {0x0000, 0x0001, 0x0003, 0x0007, 0x000F, 0x001F, 0x003F,
                               0x007F, 0x00FF, 0x01FF, 0x03FF, 0x07FF, 0x0FFF};

} // namespace

CxImageGIF::CxImageGIF() : CxImage(CXIMAGE_FORMAT_GIF)
{
    std::memset(buf, 0, sizeof(buf));
    std::memset(stack, 0, sizeof(stack));
    std::memset(suffix, 0, sizeof(suffix));
    std::memset(prefix, 0, sizeof(prefix));
    std::memset(byte_buff, 0, sizeof(byte_buff));
    std::memset(m_comment, 0, sizeof(m_comment));
    info.dispmeth = 0;
}

bool CxImageGIF::ReadDescriptor(CxFile* fp, ImageDescriptor& im)
{
    BYTE d[9];
    if (fp->Read(d, sizeof(d), 1) != 1)
        return false;
    im.l = ReadLe16(d);
    im.t = ReadLe16(d + 2);
    im.w = ReadLe16(d + 4);
    im.h = ReadLe16(d + 6);
    im.pf = d[8];
    return true;
}

bool CxImageGIF::FitsScreen(const ImageDescriptor& im, const ScreenDescriptor& scr)
{
    return static_cast<int>(im.l) + im.w <= scr.scrwidth && static_cast<int>(im.t) + im.h <= scr.scrheight;
}

CxImageGIF::ExtensionState CxImageGIF::SaveExtensionState() const
{
    return ExtensionState{gifgce, info.nBkgndIndex, info.dwFrameDelay, info.dispmeth};
}

void CxImageGIF::RestoreExtensionState(const ExtensionState& s)
{
    gifgce = s.gce;
    info.nBkgndIndex = s.transIndex;
    info.dwFrameDelay = s.delay;
    info.dispmeth = s.dispmeth;
}

bool CxImageGIF::Decode(CxFile* fp)
{
    if (!fp)
        return false;
    BYTE hdr[13];
    if (fp->Read(hdr, sizeof(hdr), 1) != 1 || std::memcmp(hdr, "GIF8", 4) != 0)
        return false;
    ScreenDescriptor scr{ReadLe16(hdr + 6), ReadLe16(hdr + 8), hdr[10], hdr[11], hdr[12]};

    if (info.nEscape == -1) {
        head.biWidth = scr.scrwidth;
        head.biHeight = scr.scrheight;
        info.dwType = CXIMAGE_FORMAT_GIF;
        return true;
    }

    // Two signs make a true-colour GIF: no global table, and a first image
    // smaller than the screen both ways (with more than one frame).
    int trueColorSigns = 0;
    ColorTable global;
    if (scr.pflags & 0x80) {
        global.colres = 1 << ((scr.pflags & 7) + 1);
        fp->Read(global.paleta, sizeof(rgb_color), global.colres);
    } else {
        ++trueColorSigns;
    }

    info.nNumFrames = CountFrames(fp, scr);
    if (info.nFrame < 0 || info.nFrame >= info.nNumFrames)
        return false;
    if (info.nNumFrames == 1)
        trueColorSigns = 0;

    CxImage canvas;
    CxImage previous;
    std::unique_ptr<CxImage> rgb;
    ColorTable local;
    long firstTrans = -1;
    long image = 0;
    BYTE prevDisposal = 0;
    bool prevWasNull = true;
    BYTE ch;
    while (fp->Read(&ch, 1, 1) == 1) {
        if (info.nEscape > 0)
            return false;
        if (!prevWasNull && ch != 0)
            continue;
        if (ch == '!') {
            if (!ReadExtension(fp))
                break;
            continue;
        }
        if (ch == ';')
            break;
        if (ch != ',') {
            prevWasNull = ch == 0;
            continue;
        }

        ImageDescriptor im;
        if (!ReadDescriptor(fp, im))
            break;
        if (!FitsScreen(im, scr)) {
            SkipImage(fp, im);
            continue;
        }
        if (image == 0 && im.w != scr.scrwidth && im.h != scr.scrheight)
            ++trueColorSigns;

        const ColorTable* table = &global;
        if (im.pf & 0x80) {
            local = ColorTable{};
            local.colres = 1 << ((im.pf & 7) + 1);
            fp->Read(local.paleta, sizeof(rgb_color), local.colres);
            table = &local;
        }
        const int entries = table->colres;
        const DWORD bpp = entries <= 2 ? 1 : (entries <= 16 ? 4 : 8);
        const bool compose = trueColorSigns < 2;

        // The canvas this frame is drawn on, prepared by the previous frame's
        // disposal method.
        if (compose) {
            if (image == 0) {
                canvas.CopyInfoBlock(*this);
                canvas.Create(scr.scrwidth, scr.scrheight, bpp, CXIMAGE_FORMAT_GIF);
                firstTrans = info.nBkgndIndex;
                canvas.Clear(gifgce.transpcolindex);
                previous.Copy(canvas);
            } else if (prevDisposal == 2) {
                canvas.Copy(*this, false, false, false);
                canvas.Clear(static_cast<BYTE>(firstTrans));
            } else if (prevDisposal == 3) {
                canvas.Copy(*this, false, false, false);
                canvas.Create(previous.GetWidth(), previous.GetHeight(), previous.GetBpp(), CXIMAGE_FORMAT_GIF);
                if (canvas.pDib && previous.pDib && canvas.GetSize() == previous.GetSize()) {
                    std::memcpy(canvas.pDib, previous.pDib, previous.GetSize());
                    canvas.info.last_c_isvalid = false;
                }
            } else {
                canvas.Copy(*this);
            }
        }

        // This image becomes the frame.
        Create(im.w, im.h, bpp, CXIMAGE_FORMAT_GIF);
        if (entries > 0 && pDib) {
            BYTE r[256], g[256], b[256];
            for (int i = 0; i < entries; ++i) {
                r[i] = table->paleta[i].r;
                g[i] = table->paleta[i].g;
                b[i] = table->paleta[i].b;
            }
            SetPaletteRGB(static_cast<DWORD>(entries), r, g, b);
            if (info.nBkgndIndex >= 0)
                for (DWORD i = static_cast<DWORD>(entries); i < head.biClrUsed; ++i)
                    SetPaletteColor(static_cast<BYTE>(i), RGB(255, 255, 255));
        }

        DecodeImageData(fp, im, true);
        if (info.nEscape)
            return false;

        const long fw = im.w;
        const long fh = im.h;
        if (compose) {
            if (pDib) {
                canvas.IncreaseBitDepth(head.biBitCount);
                const long canvasHeight = canvas.GetHeight();
                for (long y = 0; y < fh; ++y) {
                    for (long x = 0; x < fw; ++x) {
                        const BYTE idx = BlindGetPixelIndex(x, fh - 1 - y);
                        if (idx != info.nBkgndIndex)
                            canvas.SetPixelIndex(im.l + x, canvasHeight - 1 - (im.t + y), idx);
                    }
                }
                canvas.SetPalette(GetPalette(), GetNumColors());
            }
            canvas.info.nBkgndIndex = firstTrans;
            Transfer(canvas);
        } else {
            info.nFrame = info.nNumFrames - 1;
            if (!rgb) {
                rgb = std::make_unique<CxImage>();
                rgb->CopyInfoBlock(*this);
                rgb->Create(scr.scrwidth, scr.scrheight, 24, CXIMAGE_FORMAT_GIF);
            }
            if (pDib) {
                const long rgbHeight = rgb->GetHeight();
                for (long y = 0; y < fh; ++y)
                    for (long x = 0; x < fw; ++x)
                        rgb->SetPixelColor(im.l + x, rgbHeight - 1 - (im.t + y),
                                           BlindGetPixelColor(x, fh - 1 - y, false), false);
            }
        }

        info.dispmeth = static_cast<BYTE>((gifgce.flags >> 2) & 7);
        prevDisposal = info.dispmeth;
        if (compose && info.dispmeth <= 1)
            previous.Copy(*this);
        if (image == info.nFrame)
            break;
        ++image;
    }

    if (rgb) {
        RGBQUAD transColor = rgb->info.nBkgndColor;
        LONG transIndex = info.nBkgndIndex;
        if ((gifgce.flags & 1) && info.nBkgndIndex >= 0 && info.nBkgndIndex < 256) {
            transColor = GetPaletteColor(static_cast<BYTE>(info.nBkgndIndex));
            transColor.rgbReserved = 0;
            transIndex = 0;
        }
        // The picture keeps what the decode learned (frame count, delay, disposal).
        const DWORD rowBytes = rgb->info.dwEffWidth;
        rgb->info = info;
        rgb->info.dwEffWidth = rowBytes;
        rgb->info.dwType = CXIMAGE_FORMAT_GIF;
        rgb->info.nBkgndColor = transColor;
        rgb->info.nBkgndIndex = transIndex;
        rgb->info.last_c_isvalid = false;
        Transfer(*rgb);
    }
    // A stream that yields no picture at all is a failure, not an empty success.
    return pDib != nullptr;
}

int CxImageGIF::CountFrames(CxFile* fp, ScreenDescriptor& scr)
{
    const long pos = fp->Tell();
    // The scan reads the extensions too; what they set belongs to the frames
    // the main loop reaches, so it is put back afterwards.
    const ExtensionState saved = SaveExtensionState();
    int frames = 0;
    bool prevWasNull = true;
    BYTE ch;
    while (fp->Read(&ch, 1, 1) == 1) {
        if (!prevWasNull && ch != 0)
            continue;
        if (ch == '!') {
            ReadExtension(fp);
            continue;
        }
        if (ch == ';')
            break;
        if (ch != ',') {
            prevWasNull = ch == 0;
            continue;
        }
        ImageDescriptor im;
        if (!ReadDescriptor(fp, im))
            break;
        if (scr.scrwidth == 0 && scr.scrheight == 0) {
            scr.scrwidth = im.w;
            scr.scrheight = im.h;
        }
        if (!FitsScreen(im, scr)) {
            SkipImage(fp, im);
            continue;
        }
        ++frames;
        if (im.pf & 0x80)
            fp->Seek(3L * (1 << ((im.pf & 7) + 1)), SEEK_CUR);
        DecodeImageData(fp, im, false);
    }
    fp->Seek(pos, SEEK_SET);
    RestoreExtensionState(saved);
    return frames;
}

void CxImageGIF::SkipImage(CxFile* fp, const ImageDescriptor& im)
{
    if (im.pf & 0x80)
        fp->Seek(3L * (1 << ((im.pf & 7) + 1)), SEEK_CUR);
    BYTE b;
    if (fp->Read(&b, 1, 1) != 1) // initial code size
        return;
    while (fp->Read(&b, 1, 1) == 1 && b != 0)
        fp->Seek(b, SEEK_CUR);
}

bool CxImageGIF::ReadExtension(CxFile* fp)
{
    BYTE label;
    if (fp->Read(&label, 1, 1) != 1)
        return false;
    bool ok = true;
    bool terminated = false; // the 0-length block has been read already
    if (label == 0xF9) {
        BYTE len = 0;
        BYTE block[4];
        ok = fp->Read(&len, 1, 1) == 1;
        if (ok)
            ok = fp->Read(block, 1, 4) == len && len == 4;
        if (ok) {
            gifgce.flags = block[0];
            gifgce.delaytime = ReadLe16(block + 1);
            gifgce.transpcolindex = block[3];
            info.nBkgndIndex = (gifgce.flags & 1) ? gifgce.transpcolindex : -1;
            info.dwFrameDelay = gifgce.delaytime;
            info.dispmeth = static_cast<BYTE>((gifgce.flags >> 2) & 7);
        }
    } else if (label == 0xFE) {
        BYTE len = 0;
        ok = fp->Read(&len, 1, 1) == 1;
        if (ok) {
            const std::size_t got = fp->Read(m_comment, 1, len);
            m_comment[got] = 0;
            ok = got == len;
            terminated = len == 0;
        }
    } else if (label == 0xFF) {
        BYTE len = 0;
        BYTE id[11];
        ok = fp->Read(&len, 1, 1) == 1 && len == 11 && fp->Read(id, sizeof(id), 1) == 1;
        if (ok)
            ok = fp->Read(&len, 1, 1) == 1;
        if (ok) {
            ok = fp->Read(byte_buff, 1, len) == len;
            terminated = len == 0;
            if (ok && len > 2)
                m_loops = byte_buff[1] | (byte_buff[2] << 8);
        }
    }
    if (ok && !terminated) {
        BYTE len;
        for (;;) {
            if (fp->Read(&len, 1, 1) != 1) {
                ok = false;
                break;
            }
            if (len == 0)
                break;
            if (fp->Read(byte_buff, 1, len) != len) {
                ok = false;
                break;
            }
        }
    }
    return ok;
}

CxImageGIF::LzwOutcome CxImageGIF::DecodeImageData(CxFile* fp, const ImageDescriptor& im, bool output)
{
    const long start = fp->Tell();

    interlaced = (im.pf & 0x40) != 0;
    iheight = im.h;
    iypos = 0;
    ipass = 0;
    istep = interlaced ? 8 : 1;
    if (interlaced)
        out_line(nullptr, 0, false); // skips passes that start below the image

    m_fp = fp;
    ibf = 0;
    ibfmax = 0;
    m_eof = false;
    m_consumed = 0;
    const LzwOutcome r = decoder(im.w, output);

    if (r.badCodes > 0) {
        // Resynchronise on the next image descriptor: a "," after a 0 byte.
        fp->Seek(start, SEEK_SET);
        BYTE prev = 0xFF;
        BYTE c;
        long p = start;
        while (fp->Read(&c, 1, 1) == 1) {
            if (c == ',' && prev == 0) {
                fp->Seek(p, SEEK_SET);
                break;
            }
            prev = c;
            ++p;
        }
        return r;
    }
    // Give back the read-ahead, then step over what is left of the data up to
    // its 0-length block, so the next block starts where it should.
    fp->Seek(start + m_consumed, SEEK_SET);
    if (!r.terminator && !r.eof) {
        BYTE b;
        if (!r.codeSizeRead && fp->Read(&b, 1, 1) != 1)
            return r;
        while (fp->Read(&b, 1, 1) == 1 && b != 0)
            fp->Seek(b, SEEK_CUR);
    }
    return r;
}

int CxImageGIF::get_byte()
{
    if (ibf >= ibfmax) {
        if (m_eof)
            return -1;
        ibfmax = static_cast<int>(m_fp->Read(buf, 1, kChunk));
        ibf = 0;
        if (ibfmax <= 0) {
            ibfmax = 0;
            m_eof = true;
            return -1;
        }
    }
    ++m_consumed;
    return buf[ibf++];
}

void CxImageGIF::init_exp(int size)
{
    curr_size = size + 1;
    top_slot = 1 << curr_size;
    clear = 1 << size;
    ending = clear + 1;
    slot = newcodes = ending + 1;
    navail_bytes = nbits_left = 0;
    pbytes = byte_buff;
}

// The next code, least-significant bit first across the data sub-blocks. A
// 0-length sub-block reads as the end code; -1 at the end of the stream.
int CxImageGIF::get_next_code()
{
    auto refill = [&]() -> int {
        pbytes = byte_buff;
        const int n = get_byte();
        if (n < 0) {
            m_outcome->eof = true;
            return -1;
        }
        if (n == 0) {
            m_outcome->terminator = true;
            return 0;
        }
        int got = 0;
        for (; got < n; ++got) {
            const int x = get_byte();
            if (x < 0)
                break;
            byte_buff[got] = static_cast<BYTE>(x);
        }
        if (got < n)
            m_outcome->eof = true; // what was read is still decoded
        if (got == 0)
            return -1;
        navail_bytes = got;
        return got;
    };

    if (nbits_left == 0) {
        if (navail_bytes <= 0) {
            const int rc = refill();
            if (rc <= 0)
                return rc == 0 ? ending : -1;
        }
        b1 = *pbytes++;
        nbits_left = 8;
        --navail_bytes;
    }
    int ret = b1 >> (8 - nbits_left);
    while (curr_size > nbits_left) {
        if (navail_bytes <= 0) {
            const int rc = refill();
            if (rc <= 0)
                return rc == 0 ? ending : -1;
        }
        b1 = *pbytes++;
        ret |= b1 << nbits_left;
        nbits_left += 8;
        --navail_bytes;
    }
    nbits_left -= curr_size;
    return ret & kCodeMask[curr_size];
}

CxImageGIF::LzwOutcome CxImageGIF::decoder(int linewidth, bool output)
{
    LzwOutcome r;
    m_outcome = &r;
    if (linewidth < 1)
        return r;
    const int size = get_byte();
    if (size < 0) {
        r.eof = true;
        return r;
    }
    r.codeSizeRead = true;
    if (size < 2 || size > 9)
        return r;
    init_exp(size);

    std::vector<BYTE> line(static_cast<std::size_t>(linewidth) + 1);
    BYTE* bufptr = line.data();
    int bufcnt = linewidth;
    int oc = 0;
    int fc = 0;
    BYTE* sp = stack;
    // One decoded byte into the line; false when the image is full.
    auto emit = [&](BYTE v) -> bool {
        *bufptr++ = v;
        if (--bufcnt == 0) {
            if (out_line(line.data(), linewidth, output) < 0)
                return false;
            bufptr = line.data();
            bufcnt = linewidth;
        }
        return true;
    };

    int c;
    while ((c = get_next_code()) != ending) {
        if (c < 0)
            break;
        if (c == clear) {
            curr_size = size + 1;
            slot = newcodes;
            top_slot = 1 << curr_size;
            while ((c = get_next_code()) == clear) {
            }
            if (c < 0 || c == ending)
                break;
            if (c >= slot)
                c = 0;
            oc = fc = c;
            if (!emit(static_cast<BYTE>(c)))
                return r;
            continue;
        }
        int code = c;
        if (code >= slot) {
            if (code > slot)
                ++r.badCodes;
            code = oc;
            *sp++ = static_cast<BYTE>(fc);
        }
        // Codes stay below 4096 (12 bits); a looping table stops at the cap.
        while (code >= newcodes && sp - stack < kMaxStringPerCode) {
            *sp++ = suffix[code];
            code = prefix[code];
        }
        *sp++ = static_cast<BYTE>(code);
        if (slot < top_slot) {
            fc = code & 0xFF;
            suffix[slot] = static_cast<BYTE>(fc);
            prefix[slot++] = static_cast<WORD>(oc);
            oc = c;
        }
        if (slot >= top_slot && curr_size < 12) {
            top_slot <<= 1;
            ++curr_size;
        }
        while (sp > stack) {
            if (!emit(*--sp)) {
                sp = stack;
                return r;
            }
        }
    }
    // A partly filled last line keeps the pixels it has.
    if (bufcnt != linewidth)
        out_line(line.data(), linewidth - bufcnt, output);
    return r;
}

// Writes one decoded line into the frame (rows counted from the top, stored
// bottom-up) and moves to the next row in plain or interlaced order. -1 ends
// the image (a plain image is full).
int CxImageGIF::out_line(BYTE* pixels, int linelen, bool output)
{
    if (pixels) {
        if (!interlaced) {
            if (iypos >= iheight)
                return -1;
        } else if (ipass > 3) {
            return 0; // beyond the last pass: dropped
        }
        BYTE* dst = output && pDib ? GetBits(static_cast<DWORD>(iheight - 1 - iypos)) : nullptr;
        if (dst) {
            const int bpp = head.biBitCount;
            if (bpp == 1 || bpp == 4) {
                // Pack in place: byte i of the packed line is written only after
                // every pixel it is made of has been read.
                const int perByte = 8 / bpp;
                const int mask = bpp == 1 ? 1 : 15;
                int acc = 0;
                for (int i = 0; i < linelen; ++i) {
                    acc = (acc << bpp) | (pixels[i] & mask);
                    if (i % perByte == perByte - 1) {
                        pixels[i / perByte] = static_cast<BYTE>(acc);
                        acc = 0;
                    }
                }
                if (linelen % perByte)
                    pixels[linelen / perByte] = static_cast<BYTE>(acc << (bpp * (perByte - linelen % perByte)));
            }
            const std::size_t bytes = (static_cast<std::size_t>(linelen) * bpp + 7) / 8;
            std::memcpy(dst, pixels, std::min<std::size_t>(bytes, info.dwEffWidth));
        }
        if (!interlaced) {
            ++iypos;
            return 0;
        }
        iypos += istep;
    }
    // Interlace passes: rows 0, 8, 16, ...; 4, 12, ...; 2, 6, ...; 1, 3, 5, ...
    while (interlaced && ipass <= 3 && iypos >= iheight) {
        switch (++ipass) {
        case 1:
            iypos = 4;
            istep = 8;
            break;
        case 2:
            iypos = 2;
            istep = 4;
            break;
        case 3:
            iypos = 1;
            istep = 2;
            break;
        default:
            break;
        }
    }
    return 0;
}
