// CxIOFile: the image decoders' byte stream over a C stream.
#include "ui/image/xfile.h"

#include <climits>

bool CxIOFile::Close()
{
    if (!m_fp || !m_bCloseFile)
        return true;
    const int rc = std::fclose(m_fp);
    m_fp = nullptr;
    return rc == 0;
}

std::size_t CxIOFile::Read(void* buffer, std::size_t size, std::size_t count)
{
    if (!m_fp || !buffer)
        return 0;
    return std::fread(buffer, size, count, m_fp);
}

std::size_t CxIOFile::Write(const void* buffer, std::size_t size, std::size_t count)
{
    if (!m_fp || !buffer)
        return 0;
    return std::fwrite(buffer, size, count, m_fp);
}

bool CxIOFile::Seek(long offset, int origin)
{
    if (!m_fp)
        return false;
    return std::fseek(m_fp, offset, origin) == 0;
}

long CxIOFile::Tell()
{
    if (!m_fp)
        return 0;
    return std::ftell(m_fp);
}

long CxIOFile::Size()
{
    if (!m_fp)
        return -1;
    const long pos = std::ftell(m_fp);
    std::fseek(m_fp, 0, SEEK_END);
    const long size = std::ftell(m_fp);
    std::fseek(m_fp, pos, SEEK_SET);
    return size;
}

bool CxIOFile::Flush()
{
    if (!m_fp)
        return false;
    return std::fflush(m_fp) == 0;
}

bool CxIOFile::Eof()
{
    if (!m_fp)
        return true;
    return std::feof(m_fp) != 0;
}

long CxIOFile::Error()
{
    if (!m_fp)
        return -1;
    return std::ferror(m_fp);
}

bool CxIOFile::PutChar(unsigned char c)
{
    if (!m_fp)
        return false;
    return std::fputc(c, m_fp) == c;
}

long CxIOFile::GetChar()
{
    if (!m_fp)
        return -1;
    return std::fgetc(m_fp);
}

char* CxIOFile::GetLine(char* buffer, long maxCount)
{
    if (!m_fp || !buffer || maxCount < 1)
        return nullptr;
    return std::fgets(buffer, maxCount > INT_MAX ? INT_MAX : static_cast<int>(maxCount), m_fp);
}

long CxIOFile::Scan(const char* format, void* output)
{
    if (!m_fp || !format)
        return -1;
    return std::fscanf(m_fp, format, output);
}
