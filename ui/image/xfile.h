// Byte streams the image decoders read from: the abstract CxFile and its
// implementation over a C stream, CxIOFile.
#pragma once

#include <cstddef>
#include <cstdio>

class CxFile {
public:
    CxFile() = default;
    CxFile(const CxFile&) = delete;
    CxFile& operator=(const CxFile&) = delete;
    virtual ~CxFile() = default;

    virtual bool Close() = 0;
    // Whole items moved.
    virtual std::size_t Read(void* buffer, std::size_t size, std::size_t count) = 0;
    virtual std::size_t Write(const void* buffer, std::size_t size, std::size_t count) = 0;
    // origin: SEEK_SET, SEEK_CUR or SEEK_END.
    virtual bool Seek(long offset, int origin) = 0;
    virtual long Tell() = 0;
    virtual long Size() = 0;
    virtual bool Flush() = 0;
    virtual bool Eof() = 0;
    virtual long Error() = 0;
    virtual bool PutChar(unsigned char c) { return Write(&c, 1, 1) == 1; }
    virtual long GetChar() = 0;
    virtual char* GetLine(char* buffer, long maxCount) = 0;
    virtual long Scan(const char* format, void* output) = 0;
};

// A CxFile over a FILE*. A stream handed in stays the caller's: it is closed
// only when this object owns it.
class CxIOFile : public CxFile {
public:
    explicit CxIOFile(FILE* fp = nullptr) : m_fp(fp), m_bCloseFile(fp == nullptr) {}
    ~CxIOFile() override { Close(); }

    bool Close() override;
    std::size_t Read(void* buffer, std::size_t size, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t size, std::size_t count) override;
    bool Seek(long offset, int origin) override;
    long Tell() override;
    long Size() override;
    bool Flush() override;
    bool Eof() override;
    long Error() override;
    bool PutChar(unsigned char c) override;
    long GetChar() override;
    char* GetLine(char* buffer, long maxCount) override;
    long Scan(const char* format, void* output) override;

protected:
    FILE* m_fp;
    bool m_bCloseFile;
};
