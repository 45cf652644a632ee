// The certificates screen: CA states and their buttons, trust through a fake tool, PEM export, renders.
#include "engine/link/engine_fixture.h"
#include "platform/desktop.h"
#include "platform/fake_tool.h"
#include "platform/file_panels.h"
#include "screens/setup/ca_export.h"
#include "screens/setup/certificates_screen.h"
#include "screens/setup/setup_logic.h"
#include "screens/setup/setup_widgets.h"
#include "setup_test_support.h"

#include "design/badges.h"
#include "design/ks_button.h"
#include "design/snow_toast.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/resource.h>

using setuptest::click;
using setuptest::generatedCa;

namespace {

class CertificatesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        Desktop::setOpenHook([this](const QUrl &url) {
            opened.append(url.toLocalFile());
            return true;
        });
        screen = std::make_unique<CertificatesScreen>(ctx.context);
        screen->resize(820, 900);
        screen->show();
    }

    void TearDown() override
    {
        screen.reset();
        Desktop::setOpenHook({});
        FilePanels::setSaveHook({});
    }

    void answerSavePanel(const QString &path)
    {
        FilePanels::setSaveHook([this, path](const FilePanelRequest &request) {
            suggested = request.suggestedName;
            return path;
        });
    }

    QTemporaryDir dir;
    setuptest::Context ctx;
    std::unique_ptr<CertificatesScreen> screen;
    QStringList opened;
    QString suggested;
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Limits how large a file this process may write, for one scope: writes past it fail as on a full disk.
class FileSizeLimit final
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

QColor over(const QColor &top, const QColor &below)
{
    const qreal a = top.alphaF();
    return QColor::fromRgbF(float(top.redF() * a + below.redF() * (1 - a)), float(top.greenF() * a + below.greenF() * (1 - a)),
                            float(top.blueF() * a + below.blueF() * (1 - a)));
}

bool near(const QColor &a, const QColor &b, int tolerance = 6)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
           && qAbs(a.blue() - b.blue()) <= tolerance;
}

// Renders the screen in the palette and checks the toast's pixels: its inverted pill, its text, the
// tone's symbol and a shadow below it on the card. The card is sampled right of the pill, or left of
// it for a pill as wide as the card.
void expectToastDrawn(QWidget *screen, SnowToast *toast, const Palette &palette, const QString &name,
                      bool sampleLeft = false)
{
    PaletteHost::set(screen, palette);
    ASSERT_TRUE(screenstest::settle(screen));
    const QImage image(testsupport::saveRender(screen, QStringLiteral("setup"), name));
    const QRect pill(toast->mapTo(screen, QPoint(0, 0)), toast->size());
    const QColor card = image.pixelColor(sampleLeft ? pill.left() - SnowToast::ShadowMargin - 1 : pill.right() + 40,
                                         pill.center().y());
    const QColor surface = over(SnowToast::surfaceColor(palette), card);
    const std::string where = name.toStdString();
    EXPECT_TRUE(near(image.pixelColor(pill.left() + 5, pill.center().y()), surface)) << where;
    EXPECT_TRUE(near(image.pixelColor(pill.right() - 5, pill.center().y()), surface)) << where;
    int text = 0;
    int symbol = 0;
    for (int y = pill.top(); y <= pill.bottom(); ++y)
        for (int x = pill.left(); x <= pill.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            text += near(c, SnowToast::textColor(palette), 40) ? 1 : 0;
            symbol += near(c, over(SnowToast::symbolColor(toast->tone()), surface), 40) ? 1 : 0;
        }
    EXPECT_GT(text, 3 * toast->text().size()) << where;
    EXPECT_GT(symbol, 10) << where;
    EXPECT_LT(image.pixelColor(pill.center().x(), pill.bottom() + 4).lightness(), card.lightness()) << where;
}

// Whether any widget under root that carries a graphics effect has a descendant carrying one too.
bool hasNestedEffects(const QWidget *root)
{
    for (const QWidget *outer : root->findChildren<QWidget *>())
        if (outer->graphicsEffect())
            for (const QWidget *inner : outer->findChildren<QWidget *>())
                if (inner->graphicsEffect())
                    return true;
    return false;
}

} // namespace

TEST_F(CertificatesTest, WithoutACaOnlyGenerationWorksAndTheManualCommandNamesTheDefaultFile)
{
    EXPECT_TRUE(screen->generateButton()->isVisible());
    EXPECT_FALSE(screen->fingerprintBox()->isVisible());
    EXPECT_TRUE(screen->trustButton()->isVisible());
    EXPECT_TRUE(screen->trustButton()->disabled());
    EXPECT_TRUE(screen->exportButton()->disabled());
    EXPECT_FALSE(screen->revealButton()->isVisible());
    EXPECT_FALSE(screen->retrustButton()->isVisible());
    EXPECT_DOUBLE_EQ(screen->trustCardOpacity(), 0.5);
    EXPECT_EQ(screen->statusTag()->text(), "Inactive");
    EXPECT_FALSE(screen->trustToast()->isVisible());

    // Inactive buttons do nothing: no trust attempt (it would set a message), no save panel.
    int panels = 0;
    FilePanels::setSaveHook([&panels](const FilePanelRequest &) {
        ++panels;
        return QString();
    });
    click(screen->trustButton());
    click(screen->exportButton());
    EXPECT_FALSE(ctx.engine().caTrustMessage().has_value());
    EXPECT_EQ(panels, 0);

    // Generating before the engine is connected says so in the toast.
    click(screen->generateButton());
    ASSERT_TRUE(screen->trustToast()->isVisible());
    EXPECT_EQ(screen->trustToast()->text(), "Engine is still starting \u2014 try again in a moment.");

    EXPECT_FALSE(screen->manualTrustBox()->isVisible());
    click(screen->disclosure());
    ASSERT_TRUE(screen->manualTrustBox()->isVisible());
    EXPECT_EQ(screen->chevronAngle(), 90);
    EXPECT_TRUE(screen->manualTrustBox()->text().contains("\nsudo install -D -m 644 kestrion-ca.pem "));
    setuptest::renderBoth(screen.get(), "certificates-no-ca");
    click(screen->disclosure());
    EXPECT_FALSE(screen->manualTrustBox()->isVisible());
    EXPECT_EQ(screen->chevronAngle(), 0);

    const QStringList steps = CertificatesScreen::steps();
    ASSERT_EQ(steps.size(), 4);
    const QStringList texts = screen->shownTexts();
    for (int i = 0; i < 4; ++i) {
        const qsizetype at = texts.indexOf(steps[i]);
        ASSERT_GT(at, 0);
        EXPECT_EQ(texts[at - 1], QString::number(i + 1)); // the badge just before its step
    }
}

TEST_F(CertificatesTest, GeneratedAndTrustedStatesSwapTheirButtons)
{
    const QString caPath = dir.filePath(QStringLiteral("my certs/ca \"root\".pem"));
    ctx.engine().setCaInfo(generatedCa(caPath.toStdString()));
    EXPECT_FALSE(screen->generateButton()->isVisible());
    EXPECT_TRUE(screen->fingerprintBox()->isVisible());
    EXPECT_EQ(screen->fingerprintBox()->text(), "AA:BB:CC");
    EXPECT_TRUE(screen->shownTexts().contains("expires Dec  7 08:00:00 2036 GMT"));
    EXPECT_FALSE(screen->trustButton()->disabled());
    EXPECT_FALSE(screen->exportButton()->disabled());
    EXPECT_TRUE(screen->revealButton()->isVisible());
    EXPECT_DOUBLE_EQ(screen->trustCardOpacity(), 1.0);
    EXPECT_EQ(screen->statusTag()->text(), "Active");
    click(screen->disclosure());
    EXPECT_TRUE(screen->manualTrustBox()->text().contains("\nsudo install -D -m 644 " + SetupLogic::shellQuote(caPath) + " "));
    setuptest::renderBoth(screen.get(), "certificates-generated");

    click(screen->revealButton());
    EXPECT_EQ(opened, QStringList{dir.filePath(QStringLiteral("my certs"))});

    ctx.engine().setCaTrustedOnMac(true);
    EXPECT_TRUE(screen->retrustButton()->isVisible());
    EXPECT_FALSE(screen->trustButton()->isVisible());
    EXPECT_TRUE(screen->shownTexts().contains("Trusted on this computer"));
    setuptest::renderBoth(screen.get(), "certificates-trusted");

    // A CA regenerated with a new fingerprint is no longer the trusted one.
    ctx.engine().setCaInfo(generatedCa(caPath.toStdString(), "DD:EE"));
    ctx.engine().refreshTrustFlag();
    EXPECT_TRUE(screen->trustButton()->isVisible());
}

TEST_F(CertificatesTest, RetrustWithoutACaAsksForOne)
{
    ctx.engine().setCaTrustedOnMac(true);
    ASSERT_TRUE(screen->retrustButton()->isVisible());
    EXPECT_FALSE(screen->retrustButton()->disabled());
    click(screen->retrustButton());
    ASSERT_TRUE(screen->trustToast()->isVisible());
    EXPECT_EQ(screen->trustToast()->text(), "Generate a Root CA first.");
    EXPECT_EQ(screen->trustToast()->tone(), SnowToast::Tone::error);
}

TEST_F(CertificatesTest, TrustThroughTheToolSucceedsOrShowsWhyNot)
{
    const QString caPath = dir.filePath(QStringLiteral("ca.pem"));
    ASSERT_TRUE(QFile(caPath).open(QIODevice::WriteOnly));
    ctx.engine().setCaInfo(generatedCa(caPath.toStdString()));

    {
        const QString tool = faketool::write(dir, "fails", "echo '  The authorization was denied.  ' >&2\nexit 1");
        faketool::ScopedEnv env(ToolPaths::SecurityEnv, tool.toUtf8());
        click(screen->trustButton());
        ASSERT_TRUE(testsupport::waitFor([&] { return screen->trustToast()->isVisible(); }, 20000));
        EXPECT_EQ(screen->trustToast()->text(), "The authorization was denied.");
        EXPECT_FALSE(ctx.engine().caTrustedOnMac());
        setuptest::renderBoth(screen.get(), "certificates-trust-failed");
    }
    {
        faketool::ScopedEnv env(ToolPaths::SecurityEnv, dir.filePath(QStringLiteral("no-such-tool")).toUtf8());
        click(screen->trustButton());
        // The toast hides when the attempt starts, then shows the launch failure.
        EXPECT_FALSE(screen->trustToast()->isVisible());
        ASSERT_TRUE(testsupport::waitFor([&] { return screen->trustToast()->isVisible(); }, 20000));
        EXPECT_FALSE(screen->trustToast()->text().isEmpty());
        EXPECT_FALSE(ctx.engine().caTrustedOnMac());
    }
    {
        const QString tool = faketool::write(dir, "works", "exit 0");
        faketool::ScopedEnv env(ToolPaths::SecurityEnv, tool.toUtf8());
        click(screen->trustButton());
        ASSERT_TRUE(testsupport::waitFor([&] { return ctx.engine().caTrustedOnMac(); }, 20000));
        EXPECT_FALSE(screen->trustToast()->isVisible());
        EXPECT_TRUE(screen->retrustButton()->isVisible());
    }
}

TEST_F(CertificatesTest, ExportWritesThePemExactlyAndRevealsIt)
{
    CAInfo ca = generatedCa(dir.filePath(QStringLiteral("engine-ca.pem")).toStdString());
    ca.certPEM = "-----BEGIN CERTIFICATE-----\nMIIB\u00e9\n-----END CERTIFICATE-----"; // no final line break
    ctx.engine().setCaInfo(ca);
    const QString target = dir.filePath(QStringLiteral("out.pem"));
    answerSavePanel(target);
    click(screen->exportButton());
    EXPECT_EQ(suggested, "kestrion-ca.pem");
    EXPECT_EQ(readAll(target), QByteArray::fromStdString(ca.certPEM));
    EXPECT_EQ(opened, QStringList{dir.path()});
    EXPECT_FALSE(screen->exportToast()->isVisible());
}

TEST_F(CertificatesTest, ExportTakesATypedNameWithQuotesAsOneName)
{
    ctx.engine().setCaInfo(generatedCa("/x/ca.pem"));
    // The real save panel, opened in a home of the test's own; the name is typed as a user would.
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", dir.path().toUtf8());
    QString typedInto;
    std::function<void()> typeName = [&] {
        auto *panel = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        auto *field = panel ? panel->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")) : nullptr;
        if (!field) {
            QTimer::singleShot(10, screen.get(), typeName);
            return;
        }
        typedInto = panel->directory().absolutePath();
        testsupport::retype(field, QStringLiteral("my \"ca\".pem"));
        QTest::keyClick(field, Qt::Key_Return);
        // A panel that did not take the name fails the test instead of waiting for ever.
        if (panel->isVisible())
            panel->reject();
    };
    QTimer::singleShot(0, screen.get(), typeName);
    click(screen->exportButton());
    qputenv("HOME", home);

    EXPECT_EQ(typedInto, QDir(dir.path()).absolutePath());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("my \"ca\".pem")});
    EXPECT_EQ(readAll(dir.filePath(QStringLiteral("my \"ca\".pem"))),
              QByteArray::fromStdString(generatedCa("/x/ca.pem").certPEM));
    EXPECT_EQ(opened, QStringList{dir.path()});
}

TEST_F(CertificatesTest, CancelledExportWritesAndRevealsNothing)
{
    ctx.engine().setCaInfo(generatedCa("/x/ca.pem"));
    answerSavePanel(QString());
    click(screen->exportButton());
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_FALSE(screen->exportToast()->isVisible());
}

TEST_F(CertificatesTest, FailedExportsShowTheErrorRevealNothingAndKeepTheOldFile)
{
    ctx.engine().setCaInfo(generatedCa("/x/ca.pem"));

    // A folder that cannot exist: its parent is a file.
    QFile blocker(dir.filePath(QStringLiteral("not-a-folder")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    answerSavePanel(dir.filePath(QStringLiteral("not-a-folder/kestrion-ca.pem")));
    click(screen->exportButton());
    ASSERT_TRUE(screen->exportToast()->isVisible());
    EXPECT_TRUE(screen->exportToast()->text().startsWith("Could not write kestrion-ca.pem: "));
    EXPECT_TRUE(opened.isEmpty());
    setuptest::renderBoth(screen.get(), "certificates-export-failed");

    // A write cut short (the file size limit) leaves the existing file whole.
    const QString existing = dir.filePath(QStringLiteral("existing.pem"));
    {
        QFile file(existing);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("previous certificate");
    }
    CAInfo big = generatedCa("/x/ca.pem");
    big.certPEM = std::string(64 * 1024, 'A');
    ctx.engine().setCaInfo(big);
    answerSavePanel(existing);
    {
        FileSizeLimit limit(1024);
        click(screen->exportButton());
    }
    EXPECT_TRUE(screen->exportToast()->isVisible());
    EXPECT_EQ(readAll(existing), "previous certificate");
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2); // no temporary file left behind

    // Empty PEM text: nothing to write, the old file stays and nothing is revealed.
    CAInfo empty = generatedCa("/x/ca.pem");
    empty.certPEM.clear();
    ctx.engine().setCaInfo(empty);
    click(screen->exportButton());
    EXPECT_EQ(screen->exportToast()->text(), "There is no certificate to export yet.");
    EXPECT_EQ(readAll(existing), "previous certificate");
    EXPECT_TRUE(opened.isEmpty());

    // A later good export clears the error.
    ctx.engine().setCaInfo(generatedCa("/x/ca.pem"));
    click(screen->exportButton());
    EXPECT_FALSE(screen->exportToast()->isVisible());
    EXPECT_EQ(readAll(existing), QByteArray::fromStdString(generatedCa("/x").certPEM));
    EXPECT_EQ(opened.size(), 1);
}

// Against the real engine: the screen follows generation and keeps working across it.
class CertificatesEngineTest : public EngineFixture
{
};

TEST_F(CertificatesEngineTest, GeneratingTheCaTurnsTheScreenActive)
{
    setuptest::Context ctx(&client());
    CertificatesScreen screen(ctx.context);
    screen.resize(820, 900);
    screen.show();
    ASSERT_TRUE(bootHealthy());
    ASSERT_TRUE(testsupport::waitFor([&] { return client().caInfo().has_value(); }));
    EXPECT_EQ(screen.statusTag()->text(), client().caInfo()->generated ? "Active" : "Inactive");
    if (!client().caInfo()->generated)
        click(screen.generateButton());
    ASSERT_TRUE(testsupport::waitFor([&] { return screen.statusTag()->text() == "Active"; }, 20000));
    EXPECT_FALSE(screen.generateButton()->isVisible());
    EXPECT_EQ(screen.fingerprintBox()->text(), QString::fromStdString(client().caInfo()->fingerprint));
    EXPECT_FALSE(screen.fingerprintBox()->text().isEmpty());
    EXPECT_TRUE(testsupport::waitFor([&] { return screen.trustCardOpacity() == 1.0; }));
    setuptest::renderBoth(&screen, "certificates-engine");
}

TEST_F(CertificatesTest, ErrorToastsDrawOnTheFadingCardInBothThemes)
{
    // The trust failure arrives while the card fades in after the CA was generated.
    ctx.engine().setCaInfo(generatedCa("/x/ca.pem"));
    ctx.engine().setCaTrustMessage(QStringLiteral("The authorization was denied."));
    ASSERT_TRUE(screen->trustToast()->isVisible());
    EXPECT_FALSE(hasNestedEffects(screen.get()));
    expectToastDrawn(screen.get(), screen->trustToast(), Palette::light(), QStringLiteral("certificates-toast-light"));
    expectToastDrawn(screen.get(), screen->trustToast(), Palette::dark(), QStringLiteral("certificates-toast-dark"));

    // The export failure sits lower on the same card; on the dimmed card of a missing CA the trust
    // message still reads.
    answerSavePanel(dir.filePath(QStringLiteral("missing/folder/kestrion-ca.pem")));
    ctx.engine().setCaTrustMessage(std::nullopt);
    click(screen->exportButton());
    ASSERT_TRUE(screen->exportToast()->isVisible());
    expectToastDrawn(screen.get(), screen->exportToast(), Palette::light(), QStringLiteral("certificates-export-toast-light"));
    expectToastDrawn(screen.get(), screen->exportToast(), Palette::dark(), QStringLiteral("certificates-export-toast-dark"));
    ctx.engine().setCaInfo(std::nullopt);
    click(screen->generateButton());
    ASSERT_TRUE(screen->trustToast()->isVisible());
    ASSERT_TRUE(testsupport::waitFor([&] { return screen->trustCardOpacity() == 0.5; }));
    EXPECT_FALSE(hasNestedEffects(screen.get()));
    PaletteHost::set(screen.get(), Palette::light());
    ASSERT_TRUE(screenstest::settle(screen.get()));
    const QImage dimmed = screen->grab().toImage();
    const QRect pill(screen->trustToast()->mapTo(screen.get(), QPoint(0, 0)), screen->trustToast()->size());
    EXPECT_LT(dimmed.pixelColor(pill.left() + 5, pill.center().y()).lightness(),
              dimmed.pixelColor(pill.right() + 40, pill.center().y()).lightness() - 60);
}

TEST_F(CertificatesTest, TheManualCommandShowsEveryLineAtTheWindowsWidths)
{
    ctx.engine().setCaInfo(generatedCa("/home/someone/.local/share/Kestrion/Kestrion/ca/kestrion-root-ca.pem"));
    click(screen->disclosure());
    CodeText *label = screen->manualTrustBox()->codeText();
    // The screen beside the sidebar of a 1280-wide window with the info panel hidden and shown, and of a
    // 1180-wide one with it shown.
    for (const int width : {1031, 750, 650}) {
        screen->resize(width, 772);
        ASSERT_TRUE(screenstest::settle(screen.get()));
        const int lines = label->heightForWidth(label->width()) / QFontMetrics(label->font()).lineSpacing();
        ASSERT_GE(lines, 4) << width;
        EXPECT_GE(label->height(), label->heightForWidth(label->width())) << width;
        EXPECT_GE(screen->manualTrustBox()->height(), label->height() + 24) << width;
        // Ink on the last line, inside the box.
        const QImage image = screen->grab().toImage();
        const QPoint origin = label->mapTo(screen.get(), QPoint(0, 0));
        const int spacing = QFontMetrics(label->font()).lineSpacing();
        const QRect lastLine(origin.x(), origin.y() + (lines - 1) * spacing, label->width(), spacing);
        const QColor panel = image.pixelColor(lastLine.right() - 2, lastLine.top() + 1);
        int ink = 0;
        for (int y = lastLine.top(); y <= lastLine.bottom(); ++y)
            for (int x = lastLine.left(); x <= lastLine.right(); ++x)
                ink += qAbs(image.pixelColor(x, y).lightness() - panel.lightness()) > 40 ? 1 : 0;
        EXPECT_GT(ink, 20) << width;
        const QRect box(screen->manualTrustBox()->mapTo(screen.get(), QPoint(0, 0)), screen->manualTrustBox()->size());
        EXPECT_TRUE(box.contains(lastLine)) << width;
    }
}

namespace {

// How many lines the code text needs at its width, and whether it is shown whole: as tall as
// they need and inside the screen's width.
int codeLines(const CodeBox *box)
{
    const QLabel *code = box->codeText();
    return code->heightForWidth(code->width()) / code->fontMetrics().lineSpacing();
}

void expectShownWhole(const QWidget *screen, const CodeBox *box, const std::string &where)
{
    const QLabel *code = box->codeText();
    EXPECT_GE(code->height(), code->heightForWidth(code->width())) << where;
    const QRect shown(box->mapTo(screen, QPoint(0, 0)), box->size());
    EXPECT_LE(shown.right(), screen->width()) << where;
}

} // namespace

TEST_F(CertificatesTest, ATwoLineTrustErrorShowsWholeAndTheManualCommandKeepsItsLines)
{
    // A long CA path makes the manual command wrap over several lines.
    ctx.engine().setCaInfo(generatedCa("/home/someone/.local/share/Kestrion/a folder with a rather long name/"
                                       "and another one inside it/ca/kestrion-root-ca.pem"));
    screen->toggleManualTrust();
    ASSERT_TRUE(screenstest::settle(screen.get()));
    const int lines = codeLines(screen->manualTrustBox());
    ASSERT_GE(lines, 3);
    expectShownWhole(screen.get(), screen->manualTrustBox(), "without a toast");

    const QString first = QStringLiteral("SecTrustSettingsSetTrustSettings: The authorization was denied since no "
                                         "user interaction was possible.");
    const QString second = QStringLiteral("security: could not add the certificate to login.keychain (exit 1)");
    ctx.engine().setCaTrustMessage(first + QLatin1Char('\n') + second);
    ASSERT_TRUE(screenstest::settle(screen.get()));
    SnowToast *toast = screen->trustToast();
    ASSERT_TRUE(toast->isVisible());
    EXPECT_FALSE(toast->isCut());
    const QString shown = toast->linesAt(toast->width()).join(QLatin1Char(' '));
    EXPECT_EQ(shown.simplified(), (first + QLatin1Char(' ') + second).simplified()) << "every word is drawn";
    EXPECT_GE(toast->height(), toast->heightForWidth(toast->width()));
    EXPECT_LE(QRect(toast->mapTo(screen.get(), QPoint(0, 0)), toast->size()).right(), screen->width());
    EXPECT_EQ(codeLines(screen->manualTrustBox()), lines) << "the command keeps every line under the toast";
    expectShownWhole(screen.get(), screen->manualTrustBox(), "with the toast");
    expectToastDrawn(screen.get(), toast, Palette::light(), QStringLiteral("certificates-two-line-toast-light"), true);
    expectToastDrawn(screen.get(), toast, Palette::dark(), QStringLiteral("certificates-two-line-toast-dark"), true);
    PaletteHost::set(screen.get(), Palette::light());
}
