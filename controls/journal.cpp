// The journal of calls into the stand-ins (see journal.h).
#include "controls/journal.h"

#include "platform/logsink.h"
#include "platform/text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace qelm {

namespace {

// Wide text as UTF-8; a code unit that is not a character becomes '?'.
std::string WideText(std::wstring_view w)
{
    std::string out;
    if (WideToAnsi(std::wstring(w), out))
        return out;
    out.clear();
    for (wchar_t c : w) {
        std::string one;
        out += WideToAnsi(std::wstring(1, c), one) ? one : std::string("?");
    }
    return out;
}

const char* JournalPath()
{
    const char* p = std::getenv("QELM2_JOURNAL");
    return p && *p ? p : nullptr;
}

// The open journal file. Reopened when the variable names another file, or
// when the file was removed or replaced since it was opened.
struct Sink {
    std::mutex mutex;
    std::string path;
    int fd = -1;
};

Sink& TheSink()
{
    static Sink* sink = new Sink; // lines may still come from static destructors
    return *sink;
}

bool StillSameFile(const Sink& s)
{
    struct stat byPath, byFd;
    return stat(s.path.c_str(), &byPath) == 0 && fstat(s.fd, &byFd) == 0 && byPath.st_dev == byFd.st_dev &&
           byPath.st_ino == byFd.st_ino;
}

void Append(const std::string& line)
{
    const char* path = JournalPath();
    if (!path)
        return;
    Sink& s = TheSink();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.fd < 0 || s.path != path || !StillSameFile(s)) {
        if (s.fd >= 0)
            ::close(s.fd);
        s.path = path;
        s.fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (s.fd < 0) {
            PlatformLog(3, "Journal: cannot open %s: %s", path, std::strerror(errno));
            return;
        }
    }
    // One write per line: O_APPEND keeps lines from several processes whole.
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t n = ::write(s.fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            PlatformLog(3, "Journal: cannot write %s: %s", path, std::strerror(errno));
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

std::string MakeLine(std::string_view kind, std::string_view name, std::initializer_list<JournalArg> args)
{
    std::string line(kind);
    line += '\t';
    line += Journal::EscapeField(name);
    for (const JournalArg& a : args) {
        line += '\t';
        line += Journal::EscapeField(a.Text());
    }
    return line;
}

} // namespace

JournalArg::JournalArg(double v)
{
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    m_text.assign(buf, r.ptr);
}

JournalArg::JournalArg(float v)
{
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    m_text.assign(buf, r.ptr);
}

JournalArg::JournalArg(const wchar_t* s) : m_text(s ? WideText(s) : std::string()) {}
JournalArg::JournalArg(const std::wstring& s) : m_text(WideText(s)) {}
JournalArg::JournalArg(std::wstring_view s) : m_text(WideText(s)) {}
JournalArg::JournalArg(const QString& s) : m_text(s.toStdString()) {}

bool Journal::Enabled()
{
    return JournalPath() != nullptr;
}

void Journal::Call(std::string_view name, std::initializer_list<JournalArg> args, const JournalArg& result)
{
    if (!Enabled())
        return;
    std::string line = MakeLine("call", name, args);
    line += "\t=";
    line += EscapeField(result.Text());
    line += '\n';
    Append(line);
}

void Journal::Event(std::string_view name, std::initializer_list<JournalArg> args)
{
    if (!Enabled())
        return;
    std::string line = MakeLine("event", name, args);
    line += '\n';
    Append(line);
}

std::string Journal::EscapeField(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (char c : field) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        default: out += c; break;
        }
    }
    return out;
}

std::vector<std::string> Journal::ParseLine(std::string_view line)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    std::vector<std::string> fields;
    if (line.empty())
        return fields;
    std::string field;
    for (std::size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\t') {
            fields.push_back(std::move(field));
            field.clear();
        } else if (c == '\\' && i + 1 < line.size()) {
            char e = line[++i];
            switch (e) {
            case 't': field += '\t'; break;
            case 'r': field += '\r'; break;
            case 'n': field += '\n'; break;
            case '\\': field += '\\'; break;
            default: field += '\\'; field += e; break; // not ours: keep as written
            }
        } else {
            field += c;
        }
    }
    fields.push_back(std::move(field));
    return fields;
}

} // namespace qelm
