#include "base/Log.h"

#include <mutex>
#include <syslog.h>
#include <cstdio>

namespace Log {

namespace {
std::mutex g_mutex;
Sink g_sink;
bool g_echo = true;
bool g_syslogOpen = false;
}

void setSink(Sink sink)
{
    std::lock_guard lock(g_mutex);
    g_sink = std::move(sink);
}

void setEcho(bool on)
{
    std::lock_guard lock(g_mutex);
    g_echo = on;
}

void line(const QString &text)
{
    std::lock_guard lock(g_mutex);
    if (g_echo) {
        const QByteArray bytes = text.toUtf8();
        if (!g_syslogOpen) {
            openlog("Rivulet", LOG_PID, LOG_USER);
            g_syslogOpen = true;
        }
        syslog(LOG_NOTICE, "%s", bytes.constData());
        fprintf(stderr, "%s\n", bytes.constData());
        fflush(stderr);
    }
    if (g_sink)
        g_sink(text);
}

QString format(const char *fmt, std::initializer_list<Arg> args)
{
    QString out;
    auto next = args.begin();
    for (const char *p = fmt; *p; ++p) {
        if (*p != '%') {
            // Formats are ASCII; collect runs for speed.
            const char *start = p;
            while (p[1] && p[1] != '%')
                ++p;
            out += QLatin1String(start, int(p - start + 1));
            continue;
        }
        if (p[1] == '%') {
            out += QLatin1Char('%');
            ++p;
            continue;
        }
        // Parse %[.N][l|q|ll]conv
        const char *q = p + 1;
        int precision = -1;
        if (*q == '.') {
            precision = 0;
            ++q;
            while (*q >= '0' && *q <= '9')
                precision = precision * 10 + (*q++ - '0');
        }
        while (*q == 'l' || *q == 'q')
            ++q;
        const char conv = *q;
        if (!conv)
            break;
        const QString value = next != args.end() ? (conv == 'f' && next->isNumber
                                                         ? QString::number(next->number, 'f', precision < 0 ? 6 : precision)
                                                         : next->text)
                                                 : QString();
        if (next != args.end())
            ++next;
        out += value;
        p = q;
    }
    return out;
}

} // namespace Log
