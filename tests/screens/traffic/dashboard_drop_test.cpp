// Files dropped on the first-run panel or chosen in the import panel: only local regular files
// within the engine's size limit are read; anything else is refused without a highlight, and a
// file that is too large says so.
#include "dashboard_test_support.h"

#include "app/file_actions.h"
#include "screens/traffic/dashboard_widgets.h"
#include "support/test_support.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>

#include <sys/stat.h>

using namespace dashtest;

namespace {

class DashboardDrop : public DashboardTest
{
protected:
    void SetUp() override
    {
        DashboardTest::SetUp();
        ASSERT_TRUE(m_files.isValid());
        screen().show();
    }

    QString file(const QString &name, qint64 size)
    {
        const QString path = m_files.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        EXPECT_TRUE(f.resize(size)); // sparse: no real bytes written
        return path;
    }

    QString fifo()
    {
        const QString path = m_files.filePath(QStringLiteral("pipe.har"));
        EXPECT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        return path;
    }

    static std::unique_ptr<QMimeData> urls(const QStringList &paths)
    {
        auto mime = std::make_unique<QMimeData>();
        QList<QUrl> list;
        for (const QString &path : paths)
            list.append(path.contains(QLatin1String("://")) ? QUrl(path) : QUrl::fromLocalFile(path));
        mime->setUrls(list);
        return mime;
    }

    // Sends a drag entering the panel; whether it was taken.
    bool dragEnter(const QMimeData *mime)
    {
        QDragEnterEvent enter(QPoint(40, 40), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(panel(), &enter);
        return enter.isAccepted();
    }

    bool drop(const QMimeData *mime)
    {
        QDropEvent event(QPointF(40, 40), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(panel(), &event);
        return event.isAccepted();
    }

    FirstRunPanel *panel() { return screen().firstRunPanel(); }

    QTemporaryDir m_files;
};

} // namespace

TEST_F(DashboardDrop, DirectoryIsRefusedWithoutHighlight)
{
    const auto mime = urls({m_files.path()});
    EXPECT_FALSE(dragEnter(mime.get()));
    EXPECT_FALSE(panel()->dragging());
    EXPECT_EQ(engine.importSummary(), std::nullopt); // a refused drag says nothing
    EXPECT_FALSE(screen().handleDrop(mime.get()));
    EXPECT_FALSE(engine.log().join('\n').contains("could not read"));
}

TEST_F(DashboardDrop, FifoIsNeverOpened)
{
    // Reading a FIFO blocks until a writer comes; with the check it is never opened.
    const auto mime = urls({fifo()});
    EXPECT_FALSE(dragEnter(mime.get()));
    EXPECT_FALSE(panel()->dragging());
    EXPECT_FALSE(screen().handleDrop(mime.get()));
    EXPECT_EQ(FileActions::checkImportFile(QUrl::fromLocalFile(m_files.filePath("pipe.har"))),
              FileActions::ImportRefusal::notRegularFile);
    // A link to it is refused too.
    const QString link = m_files.filePath(QStringLiteral("link.har"));
    ASSERT_TRUE(QFile::link(m_files.filePath("pipe.har"), link));
    EXPECT_FALSE(dragEnter(urls({link}).get()));
    EXPECT_EQ(FileActions::checkImportFile(QUrl::fromLocalFile("/dev/zero")), FileActions::ImportRefusal::notRegularFile);
}

TEST_F(DashboardDrop, TooLargeIsRefusedWithAClearMessage)
{
    const auto mime = urls({file(QStringLiteral("huge.har"), FileActions::MaxImportBytes + 1)});
    // It is a file the user may mean to import: the panel lights up, and the drop explains.
    EXPECT_TRUE(dragEnter(mime.get()));
    EXPECT_TRUE(panel()->dragging());
    EXPECT_FALSE(drop(mime.get()));
    EXPECT_FALSE(panel()->dragging()); // the highlight resets after a drop
    ASSERT_TRUE(engine.importSummary().has_value());
    EXPECT_EQ(*engine.importSummary(), "Couldn't import huge.har \u2014 it is larger than the 64 MB import limit");
    EXPECT_EQ(engine.log().last(), "import: Couldn't import huge.har \u2014 it is larger than the 64 MB import limit");
}

TEST_F(DashboardDrop, FileAtTheLimitIsTakenAndTheHighlightResets)
{
    const auto mime = urls({file(QStringLiteral("capture.har"), FileActions::MaxImportBytes)});
    EXPECT_TRUE(dragEnter(mime.get()));
    EXPECT_TRUE(panel()->dragging());
    EXPECT_TRUE(drop(mime.get()));
    EXPECT_FALSE(panel()->dragging());
    EXPECT_TRUE(testsupport::waitFor([&] { return panel()->highlight() == 0.0; }));
    EXPECT_EQ(engine.importSummary(), std::nullopt);

    // Dragging over and away again also returns to rest.
    EXPECT_TRUE(dragEnter(mime.get()));
    QDragLeaveEvent leave;
    QApplication::sendEvent(panel(), &leave);
    EXPECT_FALSE(panel()->dragging());
}

TEST_F(DashboardDrop, DropsWithoutALocalFileAreRefused)
{
    QMimeData text;
    text.setText(QStringLiteral("/etc/hosts"));
    EXPECT_FALSE(dragEnter(&text));
    EXPECT_FALSE(screen().handleDrop(&text));
    QMimeData image;
    image.setImageData(QImage(4, 4, QImage::Format_ARGB32));
    EXPECT_FALSE(dragEnter(&image));
    EXPECT_FALSE(screen().handleDrop(&image));
    const auto web = urls({QStringLiteral("https://example.com/capture.har")});
    EXPECT_FALSE(dragEnter(web.get()));
    EXPECT_FALSE(screen().handleDrop(web.get()));
    EXPECT_FALSE(panel()->dragging());
    EXPECT_EQ(engine.importSummary(), std::nullopt);
}

TEST_F(DashboardDrop, OnlyTheFirstFileCounts)
{
    // A web link before the files is not a file; the first file decides, the rest are ignored.
    const QString good = file(QStringLiteral("b.har"), 10);
    const auto mime = urls({QStringLiteral("https://example.com/x"), m_files.path(), good});
    EXPECT_EQ(FileActions::firstDroppedFile(mime.get()), QUrl::fromLocalFile(m_files.path()));
    EXPECT_FALSE(dragEnter(mime.get()));
    const auto reversed = urls({good, m_files.path()});
    EXPECT_TRUE(dragEnter(reversed.get()));
}

TEST_F(DashboardDrop, BrowsedFilesPassTheSameChecks)
{
    QString answer;
    QStringList asked;
    FilePanels::setOpenHook([&](const FilePanelRequest &request) {
        asked.append(request.message);
        return answer;
    });
    const QString pipe = fifo();
    answer = pipe;
    screen().browse(); // would block a worker forever if the FIFO were read
    EXPECT_EQ(asked.value(0), "Choose a HAR, Charles, Postman, or JSON file");
    ASSERT_TRUE(engine.importSummary().has_value());
    EXPECT_EQ(*engine.importSummary(), "Couldn't import pipe.har \u2014 it is not a regular file");

    answer = file(QStringLiteral("big.json"), FileActions::MaxImportBytes + 1);
    screen().browse();
    EXPECT_EQ(*engine.importSummary(), "Couldn't import big.json \u2014 it is larger than the 64 MB import limit");

    // The shell's other open panels check too.
    answer = pipe;
    engine.setImportSummary(std::nullopt);
    FileActions::openProfile(&engine);
    EXPECT_TRUE(engine.importSummary().has_value());
    engine.setImportSummary(std::nullopt);
    FileActions::importOpenAPI(&engine);
    EXPECT_TRUE(engine.importSummary().has_value());

    // Cancelling does nothing.
    engine.setImportSummary(std::nullopt);
    answer.clear();
    screen().browse();
    EXPECT_EQ(engine.importSummary(), std::nullopt);
    FilePanels::setOpenHook({});
}
