// Parsing of /proc text. Every input is treated as hostile: a process names
// itself, and the fuzz target feeds these functions arbitrary bytes.
#include "platform/ProcFs.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace platform {
namespace {

// Unsigned decimal; saturates instead of overflowing. False when no digit.
bool toUnsigned(std::string_view text, quint64 *out)
{
    if (text.empty())
        return false;
    quint64 value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const quint64 digit = quint64(c - '0');
        if (value > (std::numeric_limits<quint64>::max() - digit) / 10)
            value = std::numeric_limits<quint64>::max();
        else
            value = value * 10 + digit;
    }
    *out = value;
    return true;
}

bool toSigned(std::string_view text, qint64 *out)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    quint64 magnitude = 0;
    if (!toUnsigned(text, &magnitude))
        return false;
    const quint64 limit = quint64(std::numeric_limits<qint64>::max());
    magnitude = std::min(magnitude, limit);
    *out = negative ? -qint64(magnitude) : qint64(magnitude);
    return true;
}

// The next blank-separated word of text (leading blanks skipped), removed from text.
std::string_view nextWord(std::string_view *text)
{
    size_t start = 0;
    while (start < text->size() && ((*text)[start] == ' ' || (*text)[start] == '\t'))
        ++start;
    size_t end = start;
    while (end < text->size() && (*text)[end] != ' ' && (*text)[end] != '\t' && (*text)[end] != '\n')
        ++end;
    const std::string_view word = text->substr(start, end - start);
    text->remove_prefix(end);
    return word;
}

// Splits text into lines; calls fn(line) for each until it returns false.
template<typename Fn> void forEachLine(std::string_view text, Fn fn)
{
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        if (!fn(line))
            return;
        if (nl == std::string_view::npos)
            return;
        text.remove_prefix(nl + 1);
    }
}

// "Key:   123 kB" -> 123 * 1024 (a value without unit is taken as is).
bool kilobytesValue(std::string_view rest, quint64 *bytes)
{
    quint64 value = 0;
    const std::string_view number = nextWord(&rest);
    if (!toUnsigned(number, &value))
        return false;
    const std::string_view unit = nextWord(&rest);
    if (unit == "kB") {
        if (value > std::numeric_limits<quint64>::max() / 1024)
            value = std::numeric_limits<quint64>::max();
        else
            value *= 1024;
    }
    *bytes = value;
    return true;
}

} // namespace

bool parseProcStat(std::string_view text, ProcStat *out)
{
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return false;
    ProcStat stat;
    const std::string_view comm = text.substr(open + 1, close - open - 1);
    stat.commLength = int(std::min(comm.size(), sizeof stat.comm - 1));
    std::memcpy(stat.comm, comm.data(), size_t(stat.commLength));
    stat.comm[stat.commLength] = '\0';

    // Fields from the third on, numbered as in the kernel's documentation.
    std::string_view rest = text.substr(close + 1);
    std::string_view fields[42];
    int count = 0;
    for (int field = 3; field <= 41; ++field) {
        const std::string_view word = nextWord(&rest);
        if (word.empty())
            break;
        fields[field] = word;
        count = field;
    }
    if (count < 24 || fields[3].size() != 1)
        return false;
    stat.state = fields[3][0];
    bool ok = toSigned(fields[4], &stat.ppid) && toSigned(fields[6], &stat.session)
        && toUnsigned(fields[9], &stat.flags) && toUnsigned(fields[10], &stat.minorFaults)
        && toUnsigned(fields[12], &stat.majorFaults) && toUnsigned(fields[14], &stat.userTicks)
        && toUnsigned(fields[15], &stat.systemTicks) && toSigned(fields[19], &stat.nice)
        && toUnsigned(fields[22], &stat.startTicks) && toUnsigned(fields[24], &stat.rssPages);
    if (!ok)
        return false;
    if (count >= 41 && !toUnsigned(fields[41], &stat.policy))
        stat.policy = 0;
    *out = stat;
    return true;
}

bool parseProcStatus(std::string_view text, ProcStatus *out)
{
    ProcStatus status;
    bool rss = false;
    forEachLine(text, [&](std::string_view line) {
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return true;
        const std::string_view key = line.substr(0, colon);
        std::string_view rest = line.substr(colon + 1);
        if (key == "Uid") {
            quint64 real = 0, effective = 0;
            if (toUnsigned(nextWord(&rest), &real) && toUnsigned(nextWord(&rest), &effective)
                && effective <= 0xFFFFFFFFu) {
                status.hasUid = true;
                status.effectiveUid = quint32(effective);
            }
        } else if (key == "VmRSS") {
            rss = kilobytesValue(rest, &status.rssBytes);
        } else if (key == "VmHWM") {
            kilobytesValue(rest, &status.peakRssBytes);
        } else if (key == "VmSwap") {
            kilobytesValue(rest, &status.swapBytes);
        }
        return true;
    });
    status.hasMemory = rss;
    if (!status.hasUid)
        return false;
    *out = status;
    return true;
}

bool parseSystemStat(std::string_view text, CpuTimes *all, std::vector<CpuTimes> *perCpu)
{
    bool haveAll = false;
    CpuTimes total;
    std::vector<CpuTimes> cpus;
    forEachLine(text, [&](std::string_view line) {
        if (line.substr(0, 3) != "cpu")
            return true;
        std::string_view rest = line;
        const std::string_view name = nextWord(&rest);
        quint64 values[8] = {};
        int n = 0;
        for (; n < 8; ++n) {
            const std::string_view word = nextWord(&rest);
            if (word.empty() || !toUnsigned(word, &values[n]))
                break;
        }
        if (n < 4) // user, nice, system and idle are there on every kernel
            return true;
        CpuTimes t;
        t.user = values[0];
        t.nice = values[1];
        t.system = values[2];
        t.idle = values[3];
        t.iowait = values[4];
        t.irq = values[5];
        t.softirq = values[6];
        t.steal = values[7];
        quint64 index = 0;
        if (name == "cpu") {
            total = t;
            haveAll = true;
        } else if (toUnsigned(name.substr(3), &index)) {
            cpus.push_back(t);
        }
        return true;
    });
    if (!haveAll)
        return false;
    *all = total;
    if (perCpu)
        *perCpu = std::move(cpus);
    return true;
}

bool parseMeminfo(std::string_view text, quint64 *totalBytes, quint64 *availableBytes)
{
    bool haveTotal = false, haveAvailable = false;
    quint64 total = 0, available = 0;
    forEachLine(text, [&](std::string_view line) {
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return true;
        const std::string_view key = line.substr(0, colon);
        if (key == "MemTotal")
            haveTotal = kilobytesValue(line.substr(colon + 1), &total);
        else if (key == "MemAvailable")
            haveAvailable = kilobytesValue(line.substr(colon + 1), &available);
        return !(haveTotal && haveAvailable);
    });
    if (!haveTotal || !haveAvailable)
        return false;
    *totalBytes = total;
    *availableBytes = available;
    return true;
}

QString processText(std::string_view raw)
{
    return QString::fromUtf8(raw.data(), qsizetype(raw.size()));
}

QString commandLineText(std::string_view raw)
{
    while (!raw.empty() && raw.back() == '\0')
        raw.remove_suffix(1);
    if (raw.empty())
        return {};
    if (raw.find('\0') == std::string_view::npos)
        return processText(raw);
    QString line;
    line.reserve(qsizetype(raw.size()) + 8);
    bool first = true;
    while (true) {
        const size_t nul = raw.find('\0');
        const std::string_view word = raw.substr(0, nul);
        if (!first)
            line += QLatin1Char(' ');
        first = false;
        const bool quote = word.empty() || word.find_first_of(" \t\"") != std::string_view::npos;
        if (quote) {
            line += QLatin1Char('"');
            line += processText(word).replace(QLatin1String("\""), QLatin1String("\\\""));
            line += QLatin1Char('"');
        } else {
            line += processText(word);
        }
        if (nul == std::string_view::npos)
            break;
        raw.remove_prefix(nul + 1);
    }
    return line;
}

} // namespace platform

namespace platform {

namespace {
std::string_view trimBlanks(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}
} // namespace

quint32 parseLoginDefsUidMin(std::string_view text, quint32 fallback)
{
    quint32 result = fallback;
    forEachLine(text, [&](std::string_view line) {
        line = trimBlanks(line);
        if (line.empty() || line.front() == '#')
            return true;
        std::string_view rest = line;
        if (nextWord(&rest) != "UID_MIN")
            return true;
        quint64 value = 0;
        // Only a plain decimal below the "no account" id counts; anything else keeps the default.
        if (toUnsigned(trimBlanks(nextWord(&rest)), &value) && value > 0 && value < 0xFFFFFFFFu)
            result = quint32(value);
        return true;
    });
    return result;
}

QString parseFlatpakInfoAppId(std::string_view text)
{
    bool inApplication = false;
    QString id;
    forEachLine(text, [&](std::string_view line) {
        line = trimBlanks(line);
        if (line.empty() || line.front() == '#')
            return true;
        if (line.front() == '[') {
            // The first [Application] group is the one Flatpak writes; a second one changes nothing.
            if (inApplication)
                return false;
            inApplication = line == "[Application]";
            return true;
        }
        const size_t eq = line.find('=');
        if (!inApplication || eq == std::string_view::npos || trimBlanks(line.substr(0, eq)) != "name")
            return true;
        const std::string_view value = trimBlanks(line.substr(eq + 1));
        // An application id is a reverse domain name: letters, digits, '.', '_' and '-' only.
        if (value.empty() || value.size() > 255)
            return false;
        for (char c : value)
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.'
                  || c == '_' || c == '-'))
                return false;
        id = QString::fromLatin1(value.data(), qsizetype(value.size()));
        return false;
    });
    return id;
}

} // namespace platform
