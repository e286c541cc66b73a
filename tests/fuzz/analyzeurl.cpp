// Any text as a task's URL. One that is taken:
// - holds no control character anywhere, its "#fragment" included;
// - keeps, of what stands before the first "#", everything after "https://"
//   when it starts so (and only then is secure), else after its first seven
//   characters ("http://"), as Host line and path, each blank of the path
//   written "%20"; a proxy's target is that same text whole, blanks so too;
// - has a port from 1 to 65535, the one written after the host or else the
//   scheme's own, and a connect host that is the Host line without it;
// - makes a request whose every line is plain text and whose target holds
//   neither a blank nor a "#", direct and through a proxy.
// A plain URL (a scheme, a host without ":" or brackets, then "/") is taken.
#include "engine/analyzeurl.h"
#include "engine/requestplan.h"

#include <QStringList>
#include <algorithm>
#include <cstdlib>

namespace {

bool control(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7F;
}

QString blanksEncoded(QString text)
{
    return text.replace(QLatin1Char(' '), QLatin1String("%20"));
}

// The request keeps the lines BuildRequest writes, none split or added, and
// asks for the path (the whole URL through a proxy) in one word.
bool plainRequest(const UrlParts &p, bool viaProxy)
{
    RequestInput in;
    in.viaProxy = viaProxy;
    in.mPath = p.mPath;
    in.DownUrl = p.mTarget;
    in.mHost = p.mHost;
    const QStringList lines = BuildRequest(in).split(QLatin1String("\r\n"));
    const QStringList first = lines[0].split(QLatin1Char(' '));
    return lines.size() == 9 && first.size() == 3 && first[1] == (viaProxy ? p.mTarget : p.mPath)
           && !first[1].contains(QLatin1Char('#'))
           && std::none_of(lines.begin(), lines.end(), [](const QString &line) {
                  return std::any_of(line.begin(), line.end(), control);
              });
}

bool portKept(const UrlParts &p)
{
    const bool bracketed = p.mHost.startsWith(QLatin1Char('['));
    const QString host = bracketed ? '[' + p.mConnectHost + ']' : p.mConnectHost;
    const int schemePort = p.mSecure ? 443 : 80;
    if (p.mPort < 1 || p.mPort > 65535 || !p.mHost.startsWith(host))
        return false;
    const QString written = p.mHost.mid(host.size());
    return written.isEmpty() ? p.mPort == schemePort
                             : written
                                   == ':'
                                          + QString::number(p.mPort).rightJustified(
                                              written.size() - 1, QLatin1Char('0'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString url = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString kept = url.left(url.indexOf(QLatin1Char('#')));
    const bool secure = kept.startsWith(QLatin1String("https://"));
    const QString afterScheme = kept.mid(secure ? 8 : 7);
    UrlParts p;
    const bool taken = analyzeUrl(url, p);
    if (taken
        && (std::any_of(url.begin(), url.end(), control) || p.mSecure != secure
            || !afterScheme.startsWith(p.mHost)
            || blanksEncoded(afterScheme.mid(p.mHost.size())) != p.mPath
            || p.mHost.contains(QLatin1Char('/')) || !p.mPath.startsWith(QLatin1Char('/'))
            || p.mTarget != blanksEncoded(kept) || !p.mPath.endsWith(blanksEncoded(p.mFile))
            || p.mFile.contains(QLatin1Char('/')) || !portKept(p) || !plainRequest(p, false)
            || !plainRequest(p, true)))
        std::abort();
    const QString host = afterScheme.left(afterScheme.indexOf(QLatin1Char('/')));
    const bool plain = (secure || kept.startsWith(QLatin1String("http://")))
                       && afterScheme.contains(QLatin1Char('/')) && !host.isEmpty()
                       && !host.contains(QLatin1Char(':')) && !host.contains(QLatin1Char('['))
                       && std::none_of(url.begin(), url.end(), control);
    if (plain && !taken)
        std::abort();
    return 0;
}
