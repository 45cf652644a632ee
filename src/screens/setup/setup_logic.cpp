// Pure decisions of the setup screens and sheets.
#include "screens/setup/setup_logic.h"

#include "design/palette.h"
#include "engine/records/mock_data.h"
#include "engine/records/record_ids.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <set>

#include <cmath>

namespace SetupLogic {

namespace {

bool isShellSafe(QChar c)
{
    if (c.unicode() > 0x7f)
        return false;
    const char a = char(c.unicode());
    return (a >= 'a' && a <= 'z') || (a >= 'A' && a <= 'Z') || (a >= '0' && a <= '9') || a == '_' || a == '@'
           || a == '%' || a == '+' || a == '=' || a == ':' || a == ',' || a == '.' || a == '/' || a == '-';
}

QString caPathOr(const std::optional<CAInfo> &ca, const QString &fallback, bool emptyCountsAsMissing)
{
    if (!ca)
        return fallback;
    if (ca->path.empty() && emptyCountsAsMissing)
        return fallback;
    return QString::fromStdString(ca->path);
}

QColor systemGrey()
{
    QColor grey(142, 142, 147);
    grey.setAlphaF(0.5);
    return grey;
}

} // namespace

QString shellQuote(const QString &word)
{
    if (!word.isEmpty() && std::all_of(word.begin(), word.end(), isShellSafe))
        return word;
    QString quoted = QStringLiteral("'");
    for (QChar c : word) {
        if (c == QLatin1Char('\''))
            quoted += QStringLiteral("'\\''");
        else
            quoted += c;
    }
    quoted += QLatin1Char('\'');
    return quoted;
}

QString manualTrustCommand(const std::optional<CAInfo> &ca)
{
    const QString file = shellQuote(caPathOr(ca, QStringLiteral("kestrion-ca.pem"), false));
    const QString add = QStringLiteral(" -A -t \"C,,\" -n \"Kestrion Root CA $h\" -i ") + file;
    // The same stores, names and folder mode as the one-click trust, so using both adds the CA once: the
    // user's database (made first on a fresh account), each Firefox profile Firefox has opened, then the
    // system store that curl, OpenSSL, Python and Go read. POSIX sh: Debian's /bin/sh is dash.
    return QStringList{
        QStringLiteral("h=$(sha256sum < ") + file + QStringLiteral(" | cut -c1-16)"),
        QStringLiteral("mkdir -p -m 700 \"$HOME/.pki/nssdb\" && { [ -e \"$HOME/.pki/nssdb/cert9.db\" ] || "
                       "certutil -d \"sql:$HOME/.pki/nssdb\" -N --empty-password; } && certutil -d "
                       "\"sql:$HOME/.pki/nssdb\"")
            + add,
        QStringLiteral("for p in \"$HOME\"/.mozilla/firefox/*; do [ ! -e \"$p/cert9.db\" ] || certutil -d \"sql:$p\"")
            + add + QStringLiteral("; done"),
        QStringLiteral("sudo install -D -m 644 ") + file
            + QStringLiteral(" \"/usr/local/share/ca-certificates/kestrion-root-ca-$h.crt\" && sudo update-ca-certificates"),
    }
        .join(QLatin1Char('\n'));
}

QString curlCommand(const std::optional<CAInfo> &ca, int proxyPort)
{
    return QStringLiteral("curl --cacert ") + shellQuote(caPathOr(ca, QStringLiteral("<ca.pem>"), true))
           + QStringLiteral(" \\\n  -x http://127.0.0.1:") + QString::number(proxyPort) + QStringLiteral(" https://")
           + QString::fromUtf8(MockData::apiHost.data(), qsizetype(MockData::apiHost.size()))
           + QStringLiteral("/v2/users");
}

QString hangingIndentHtml(const QString &code, int spaceWidth)
{
    QString html;
    for (const QString &line : code.split(QLatin1Char('\n'))) {
        qsizetype blanks = 0;
        while (blanks < line.size() && line.at(blanks) == QLatin1Char(' '))
            ++blanks;
        const QString indent = QString::number((blanks + 2) * spaceWidth);
        html += QStringLiteral("<p style=\"margin:0px; margin-left:%1px; text-indent:-%1px; white-space:pre-wrap\">")
                    .arg(indent)
            + (line.isEmpty() ? QStringLiteral("&nbsp;") : line.toHtmlEscaped()) + QStringLiteral("</p>");
    }
    return html;
}

QString proxySnippet(int proxyPort)
{
    const QString port = QString::number(proxyPort);
    return QStringList{
        QStringLiteral("// A simulator shares its host computer's network."),
        QStringLiteral("let cfg = URLSessionConfiguration.default"),
        QStringLiteral("cfg.connectionProxyDictionary = ["),
        QStringLiteral("  kCFNetworkProxiesHTTPEnable as String: true,"),
        QStringLiteral("  kCFNetworkProxiesHTTPProxy as String: \"127.0.0.1\","),
        QStringLiteral("  kCFNetworkProxiesHTTPPort as String: ") + port + QLatin1Char(','),
        QStringLiteral("  \"HTTPSEnable\": true, \"HTTPSProxy\": \"127.0.0.1\", \"HTTPSPort\": ") + port
            + QLatin1Char(','),
        QStringLiteral("]"),
        QStringLiteral("let session = URLSession(configuration: cfg)"),
    }
        .join(QLatin1Char('\n'));
}

QString simulatorEmptyMessage(bool toolFound, bool appFound)
{
    if (!toolFound)
        return QStringLiteral("This computer has no simulator tool (xcrun), so there is no simulator to list.");
    if (!appFound)
        return QStringLiteral("Boot a device with xcrun simctl boot, then Refresh.");
    return QStringLiteral("Open Simulator.app, boot a device, then Refresh.");
}

bool caGenerated(const std::optional<CAInfo> &ca)
{
    return ca && ca->generated;
}

CertificatesLook certificatesLook(const std::optional<CAInfo> &ca, bool trustedOnMac)
{
    CertificatesLook look;
    look.generated = caGenerated(ca);
    look.showFingerprint = look.generated;
    look.showTrustedRow = trustedOnMac;
    look.trustEnabled = look.generated;
    look.exportEnabled = look.generated;
    look.showReveal = look.generated;
    look.trustCardOpacity = look.generated ? 1.0 : 0.5;
    look.statusActive = look.generated;
    look.statusTag = look.generated ? QStringLiteral("Active") : QStringLiteral("Inactive");
    return look;
}

QString expiryText(const std::string &notAfter)
{
    return QStringLiteral("expires ") + QString::fromStdString(notAfter);
}

TrustStep trustStep(bool engineReady, const std::optional<CAInfo> &ca, bool trustedOnMac)
{
    if (!engineReady)
        return TrustStep::connecting;
    if (!caGenerated(ca))
        return TrustStep::generate;
    if (!trustedOnMac)
        return TrustStep::trust;
    return TrustStep::done;
}

bool proxyReady(bool proxyRunning, qsizetype routeCount)
{
    return proxyRunning && routeCount > 0;
}

namespace {

// What the engine matches a request on: the method, the host in any case, the path as written.
std::string routeKey(const Endpoint &route)
{
    std::string key(rawValue(route.method));
    key += ' ';
    for (const char c : route.host)
        key += char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    key += route.path;
    return key;
}

std::set<std::string> routeKeys(const std::vector<Endpoint> &routes)
{
    std::set<std::string> keys;
    for (const Endpoint &route : routes)
        keys.insert(routeKey(route));
    return keys;
}

} // namespace

QList<Endpoint> withDemoRoutes(const QList<Endpoint> &routes, const std::vector<Endpoint> &demo)
{
    std::set<std::string> keys;
    std::set<std::string> ids;
    for (const Endpoint &route : routes) {
        keys.insert(routeKey(route));
        ids.insert(route.id);
    }
    QList<Endpoint> merged = routes;
    for (Endpoint route : demo) {
        if (!keys.insert(routeKey(route)).second)
            continue;
        while (!ids.insert(route.id).second)
            route.id = makeRouteId();
        merged.append(std::move(route));
    }
    return merged;
}

QString proxyRunningText(int proxyPort, const QList<Endpoint> &routes, const std::vector<Endpoint> &demo)
{
    const std::set<std::string> demoKeys = routeKeys(demo);
    bool demoShown = false;
    bool ownShown = false;
    for (const Endpoint &route : routes)
        (demoKeys.count(routeKey(route)) ? demoShown : ownShown) = true;
    const QString running = QStringLiteral("Proxy running on :") + QString::number(proxyPort);
    if (!demoShown)
        return running + QStringLiteral(" with your routes");
    return running + (ownShown ? QStringLiteral(" with demo routes beside your own") : QStringLiteral(" with demo routes"));
}

QString trustNote(bool passwordPrompt)
{
    // Without pkexec the trust tool still adds the CA for the browsers, then fails with the command to run.
    return passwordPrompt ? QStringLiteral("The system will ask for your password.")
                          : QStringLiteral("Your browsers will trust it; you'll be shown a command for the system store.");
}

QString oneClickTrustHint(bool passwordPrompt)
{
    return passwordPrompt ? QStringLiteral("One click \u2014 the system will ask for your password.")
                          : QStringLiteral("One click \u2014 your browsers will trust it; the system store needs the "
                                           "command below.");
}

int shownPort(int stored)
{
    return stored >= 1 && stored <= 65535 ? stored : DefaultProxyPort;
}

std::optional<int> portFromEdit(const QString &text)
{
    QStringList kept;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (kept.size() < 5 && start < text.size()) {
        qsizetype end = finder.toNextBoundary();
        if (end < 0)
            end = text.size();
        const QString grapheme = text.mid(start, end - start);
        start = end;
        const char32_t first = grapheme.toUcs4().value(0);
        const QChar::Category category = QChar::category(first);
        if (category == QChar::Number_DecimalDigit || category == QChar::Number_Letter
            || category == QChar::Number_Other)
            kept.append(grapheme);
    }
    if (kept.isEmpty())
        return std::nullopt;
    int value = 0;
    for (const QString &grapheme : std::as_const(kept)) {
        if (grapheme.size() != 1 || grapheme[0] < QLatin1Char('0') || grapheme[0] > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (grapheme[0].unicode() - '0');
    }
    if (value < 1 || value > 65535)
        return std::nullopt;
    return value;
}

QColor successInk(const Palette &palette)
{
    return palette.isDark ? Palette::green() : QColor(0x1F, 0x8A, 0x50);
}

QColor warningInk(const Palette &palette)
{
    return palette.isDark ? Palette::yellow() : QColor(0x9A, 0x6B, 0x1F);
}

QColor errorInk(const Palette &palette)
{
    return palette.isDark ? QColor(0xFF, 0x6B, 0x6B) : QColor(0xE0, 0x31, 0x31);
}

StatusLook engineLook(const EngineStatus &status, const Palette &palette)
{
    switch (status.kind()) {
    case EngineStatus::Kind::Starting:
        return {QStringLiteral("Starting\u2026"), Palette::amber(), false, warningInk(palette)};
    case EngineStatus::Kind::Healthy:
        return {QStringLiteral("Healthy"), Palette::success(), true, successInk(palette)};
    case EngineStatus::Kind::Error:
        return {QStringLiteral("Error"), Palette::danger(), false, errorInk(palette)};
    case EngineStatus::Kind::Stopped:
        break;
    }
    return {QStringLiteral("Stopped"), systemGrey(), false, palette.mutedForeground};
}

QString engineSubtitle(const std::optional<QString> &version, std::optional<int> pid)
{
    if (!version || !pid)
        return QStringLiteral("kestrion-engine \u00b7 not running");
    return QStringLiteral("kestrion-engine v") + *version + QStringLiteral(" \u00b7 pid ") + QString::number(*pid);
}

QString memoryText(std::optional<qint64> memoryBytes)
{
    if (!memoryBytes)
        return QStringLiteral("\u2014");
    const double mebibytes = std::ldexp(double(*memoryBytes), -20);
    return QString::number(mebibytes, 'f', 1) + QStringLiteral(" MB");
}

QString uptimeText(std::optional<double> uptimeSeconds)
{
    if (!uptimeSeconds)
        return QStringLiteral("\u2014");
    const double value = *uptimeSeconds;
    // 2^63 itself does not fit; every double below it (and -2^63 upwards) truncates safely.
    if (!std::isfinite(value) || value >= 0x1p63 || value < -0x1p63)
        return QStringLiteral("\u2014");
    const qint64 s = qint64(value);
    if (s < 60)
        return QString::number(s) + QLatin1Char('s');
    if (s < 3600)
        return QString::number(s / 60) + QStringLiteral("m ") + QString::number(s % 60) + QLatin1Char('s');
    return QString::number(s / 3600) + QStringLiteral("h ") + QString::number((s % 3600) / 60) + QLatin1Char('m');
}

StatusLook aiLook(const AIStatus &status, const Palette &palette)
{
    if (status.running)
        return {QStringLiteral("Running"), Palette::green(), true, successInk(palette)};
    if (status.available)
        return {QStringLiteral("Ready"), Palette::yellow(), false, warningInk(palette)};
    return {QStringLiteral("Off"), palette.mutedForeground, false, palette.mutedForeground};
}

QString modelLine(const std::string &model)
{
    QString path = QString::fromStdString(model);
    if (path.isEmpty())
        return QStringLiteral("Model: \u2014");
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    QString name = slash < 0 ? path : path.mid(slash + 1);
    if (name.isEmpty())
        name = path;
    return QStringLiteral("Model: ") + name;
}

AIForm aiForm(const AIStatus &status, bool setupActive)
{
    if (setupActive)
        return AIForm::progress;
    return status.available ? AIForm::controls : AIForm::offer;
}

bool isDownloading(const AISetupProgress &progress)
{
    return progress.stage == "downloading_model";
}

} // namespace SetupLogic
