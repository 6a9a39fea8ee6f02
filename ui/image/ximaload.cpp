// CxImage::Load and CxImage::Decode: open a file and hand it to the BMP or GIF
// decoder by type code, or try both (type code 0).
#include "ui/image/ximabmp.h"
#include "ui/image/ximagif.h"
#include "ui/image/ximage.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

bool CxImage::Load(const char* filename, DWORD imagetype)
{
    if (!filename)
        return false;
    if (imagetype == CXIMAGE_FORMAT_BMP || imagetype == CXIMAGE_FORMAT_GIF) {
        FILE* fp = std::fopen(filename, "rb");
        if (!fp)
            return false;
        const bool ok = Decode(fp, imagetype);
        std::fclose(fp);
        if (ok)
            return true;
    }
    // A file of the wrong kind for its code is still read when it holds a
    // BMP or a GIF; a typed load that fails keeps the typed decoder's message.
    char saved[sizeof(info.szLastError)];
    std::memcpy(saved, info.szLastError, sizeof(saved));
    FILE* fp = std::fopen(filename, "rb");
    if (!fp)
        return false;
    const bool ok = Decode(fp, CXIMAGE_FORMAT_UNKNOWN);
    std::fclose(fp);
    if (!ok && imagetype != CXIMAGE_FORMAT_UNKNOWN)
        std::memcpy(info.szLastError, saved, sizeof(saved));
    return ok;
}

bool CxImage::Decode(FILE* hFile, DWORD imagetype)
{
    if (!hFile) {
        SetLastErrorText("null file handler");
        return false;
    }
    CxIOFile file(hFile);
    return Decode(&file, imagetype);
}

bool CxImage::Decode(CxFile* hFile, DWORD imagetype)
{
    if (!hFile) {
        SetLastErrorText("null file handler");
        return false;
    }
    const long pos = hFile->Tell();

    if (imagetype == CXIMAGE_FORMAT_UNKNOWN || imagetype == CXIMAGE_FORMAT_BMP) {
        std::unique_ptr<CxImageBMP> decoder(new (std::nothrow) CxImageBMP);
        if (!decoder)
            return false;
        decoder->CopyInfoBlock(*this);
        if (decoder->Decode(hFile)) {
            Transfer(*decoder);
            return true;
        }
        SetLastErrorText(decoder->LastErrorText());
        hFile->Seek(pos, SEEK_SET);
        if (imagetype == CXIMAGE_FORMAT_BMP)
            return false;
    }

    if (imagetype == CXIMAGE_FORMAT_UNKNOWN || imagetype == CXIMAGE_FORMAT_GIF) {
        std::unique_ptr<CxImageGIF> decoder(new (std::nothrow) CxImageGIF);
        if (!decoder)
            return false;
        decoder->CopyInfoBlock(*this);
        if (decoder->Decode(hFile)) {
            Transfer(*decoder);
            return true;
        }
        SetLastErrorText(decoder->LastErrorText());
        info.nNumFrames = decoder->GetFrameCount();
        hFile->Seek(pos, SEEK_SET);
        if (imagetype == CXIMAGE_FORMAT_GIF)
            return false;
    }

    SetLastErrorText("Decode: Unknown or wrong format");
    return false;
}
