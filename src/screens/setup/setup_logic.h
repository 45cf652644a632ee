// Pure decisions of the setup screens and sheets: commands to copy, CA states, port input, status looks.
#pragma once

#include "engine/engine_status.h"
#include "engine/records/ai_records.h"
#include "engine/records/ca_info.h"
#include "engine/records/route_records.h"

#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

struct Palette;

namespace SetupLogic {

// ---- Shell commands the user copies ----

// One word for a POSIX shell that reaches a program exactly as given: left bare when it holds only
// characters the shell never interprets (so an ordinary path looks unchanged), else single-quoted
// with each ' written as '\''.
QString shellQuote(const QString &word);

// The manual trust command, four lines doing what the one-click trust does: certutil adding the CA file
// with trust "C,," to ~/.pki/nssdb and to each Firefox profile's database, then sudo putting it in the
// system store. Without a CA description it names "kestrion-ca.pem"; an empty path stays empty (quoted).
QString manualTrustCommand(const std::optional<CAInfo> &ca);

// The onboarding's two-line curl call through the proxy to the demo users route.
QString curlCommand(const std::optional<CAInfo> &ca, int proxyPort);

// The nine-line URLSession snippet of the devices screen.
QString proxySnippet(int proxyPort);
// The devices screen's empty state: what to do to get a booted simulator, or that this computer has no simulator
// tool to find one with.
QString simulatorEmptyMessage(bool toolFound, bool appFound);
// Rich text of code whose lines, when wrapped, continue two characters further in than their own leading
// blanks; spaceWidth is one character of the monospaced font. Every character shows as given.
QString hangingIndentHtml(const QString &code, int spaceWidth);

// ---- Root CA ----

// The CA counts as generated only when described and generated.
bool caGenerated(const std::optional<CAInfo> &ca);

// What the certificates screen shows for the CA state.
struct CertificatesLook
{
    bool generated = false;
    bool showFingerprint = false; // fingerprint box, tag and expiry; else "Generate Root CA"
    bool showTrustedRow = false;  // "Trusted on this computer" and "Re-trust"; else "Trust on this computer" and hint
    bool trustEnabled = false;
    bool exportEnabled = false;
    bool showReveal = false;
    qreal trustCardOpacity = 0.5;
    QString statusTag; // "Active" or "Inactive"
    bool statusActive = false;

    bool operator==(const CertificatesLook &) const = default;
};
CertificatesLook certificatesLook(const std::optional<CAInfo> &ca, bool trustedOnMac);

// "expires " and the engine's text unchanged.
QString expiryText(const std::string &notAfter);

// ---- Onboarding ----

enum class TrustStep { connecting, generate, trust, done };
TrustStep trustStep(bool engineReady, const std::optional<CAInfo> &ca, bool trustedOnMac);

bool proxyReady(bool proxyRunning, qsizetype routeCount);

// The user's routes, then each demo route whose method, host (in any case) and path none of them has; a demo
// route whose id is taken gets a fresh one. Nothing of the user's is changed or lost.
QList<Endpoint> withDemoRoutes(const QList<Endpoint> &routes, const std::vector<Endpoint> &demo);

// Step 2's done label: "Proxy running on :<port> with demo routes" while the routes are the demo's, "… with demo
// routes beside your own" when the user's are there too, and "… with your routes" when no demo route is there.
QString proxyRunningText(int proxyPort, const QList<Endpoint> &routes, const std::vector<Endpoint> &demo);

// The note beside the one-click trust: the password is promised only where pkexec can ask for it.
QString trustNote(bool passwordPrompt);
// The same beside the certificates screen's trust button, after "One click — ".
QString oneClickTrustHint(bool passwordPrompt);

// ---- Proxy port field ----

inline constexpr int DefaultProxyPort = 9999;

// The port the field shows for a stored value: one outside 1…65535 reads as the default.
int shownPort(int stored);

// What an edit of the port text leads to: the port to store, or none (the field reverts).
// Numeric characters are kept in order, the first five taken; they must all be ASCII digits and
// make a port in 1…65535.
std::optional<int> portFromEdit(const QString &text);

// ---- Engine section ----

struct StatusLook
{
    QString label;
    QColor dot;
    bool pulse = false;
    QColor ink;
};
StatusLook engineLook(const EngineStatus &status, const Palette &palette);

// "kestrion-engine v<version> · pid <pid>", or "kestrion-engine · not running" without a record.
QString engineSubtitle(const std::optional<QString> &version, std::optional<int> pid);

// "<MiB with one decimal> MB"; "—" without a record.
QString memoryText(std::optional<qint64> memoryBytes);

// "42s", "5m 3s", "26h 4m"; "—" without a record, and for a value that is not finite or lies
// beyond the 64-bit range.
QString uptimeText(std::optional<double> uptimeSeconds);

// ---- Local model section ----

StatusLook aiLook(const AIStatus &status, const Palette &palette);

// "Model: " and the file name of the model path, or "Model: —".
QString modelLine(const std::string &model);

// Which lower form the section shows: availability decides, not whether the model runs.
enum class AIForm { progress, offer, controls };
AIForm aiForm(const AIStatus &status, bool setupActive);

bool isDownloading(const AISetupProgress &progress);

// ---- Shared colour inks ----

QColor successInk(const Palette &palette);
QColor warningInk(const Palette &palette);
QColor errorInk(const Palette &palette);

} // namespace SetupLogic
