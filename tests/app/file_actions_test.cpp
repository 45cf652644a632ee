// The file panels: what each asks, that cancelling hands nothing to the engine, and that what is read is bounded.
#include "app/file_actions.h"
#include "engine/engine_client.h"

#include "app/qt_printers.h"
#include "support/test_support.h"

#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThreadPool>

#include <functional>

#include <gtest/gtest.h>

namespace {

struct PanelSpy
{
    QList<FilePanelRequest> requests;
    QString answer;

    PanelSpy()
    {
        FilePanels::setOpenHook([this](const FilePanelRequest &r) {
            requests.append(r);
            return answer;
        });
        FilePanels::setSaveHook([this](const FilePanelRequest &r) {
            requests.append(r);
            return answer;
        });
    }
    ~PanelSpy()
    {
        FilePanels::setOpenHook({});
        FilePanels::setSaveHook({});
    }
};

} // namespace

TEST(FileActionPanels, EachPanelAsksItsOwnQuestion)
{
    PanelSpy spy;
    EngineClient engine;
    FileActions::importFile(&engine);
    FileActions::openProfile(&engine);
    FileActions::importOpenAPI(&engine);
    FileActions::exportProfile(&engine);
    ASSERT_EQ(spy.requests.size(), 4);
    EXPECT_EQ(spy.requests[0].message, "Choose a HAR, Charles, Postman, or JSON file");
    EXPECT_EQ(spy.requests[1].message, "Choose a .kestrion profile");
    EXPECT_EQ(spy.requests[2].message, "Choose an OpenAPI / Swagger spec (JSON or YAML)");
    EXPECT_TRUE(spy.requests[2].nameFilters.join(' ').contains("*.yml"));
    EXPECT_TRUE(spy.requests[2].nameFilters.join(' ').contains("*.yaml"));
    EXPECT_EQ(spy.requests[3].message, "Export this sandbox as a .kestrion profile");
    EXPECT_EQ(spy.requests[3].suggestedName, "session.kestrion");
    EXPECT_TRUE(spy.requests[3].nameFilters.isEmpty());
}

TEST(FileActionPanels, CancellingChangesAndLogsNothing)
{
    PanelSpy spy;
    EngineClient engine;
    const QStringList logBefore = engine.log();
    FileActions::importFile(&engine);
    FileActions::importOpenAPI(&engine);
    FileActions::openProfile(&engine);
    FileActions::exportProfile(&engine);
    EXPECT_EQ(engine.log(), logBefore);
    EXPECT_FALSE(engine.importSummary().has_value());
    EXPECT_TRUE(engine.endpoints().isEmpty());
}

TEST(FileActionPanels, AFileChangedAfterTheChecksIsJudgedByWhatIsRead)
{
    QTemporaryDir dir;
    PanelSpy spy;
    EngineClient engine;
    // The one pool thread is held, so each read waits until the test has changed the file.
    struct OnePoolThread
    {
        const int threads = QThreadPool::globalInstance()->maxThreadCount();
        OnePoolThread() { QThreadPool::globalInstance()->setMaxThreadCount(1); }
        ~OnePoolThread() { QThreadPool::globalInstance()->setMaxThreadCount(threads); }
    } onePoolThread;
    const auto readAfter = [&](const std::function<void()> &run, const std::function<void()> &change) {
        QSemaphore held;
        QThreadPool::globalInstance()->start([&held] { held.acquire(); });
        run();
        change();
        held.release();
        QThreadPool::globalInstance()->waitForDone();
    };

    // A capture at the limit passes the checks, then grows past it before it is read.
    spy.answer = dir.filePath("capture.har");
    QFile capture(spy.answer);
    ASSERT_TRUE(capture.open(QIODevice::WriteOnly));
    ASSERT_TRUE(capture.resize(FileActions::MaxImportBytes)); // sparse: no real bytes written
    ASSERT_TRUE(capture.seek(capture.size()));
    readAfter([&] { FileActions::importFile(&engine); }, [&] { capture.write(QByteArray(1024 * 1024, 'y')); });
    capture.close();
    EXPECT_TRUE(testsupport::waitFor([&] { return engine.importSummary().has_value(); }));
    EXPECT_EQ(engine.importSummary(), "Couldn't import capture.har \u2014 it is larger than the 64 MB import limit");
    ASSERT_FALSE(engine.log().isEmpty());
    EXPECT_EQ(engine.log().last(), "import: Couldn't import capture.har \u2014 it is larger than the 64 MB import limit");

    // A spec removed after the checks reads as unreadable, in the OpenAPI import's own words.
    engine.setImportSummary(std::nullopt);
    spy.answer = dir.filePath("pets.yaml");
    QFile spec(spy.answer);
    ASSERT_TRUE(spec.open(QIODevice::WriteOnly));
    spec.write("openapi: 3.0.0\n");
    spec.close();
    readAfter([&] { FileActions::importOpenAPI(&engine); }, [&] { QFile::remove(spy.answer); });
    EXPECT_TRUE(testsupport::waitFor([&] { return engine.importSummary().has_value(); }));
    EXPECT_EQ(engine.importSummary(), "Couldn't read pets.yaml");
}
