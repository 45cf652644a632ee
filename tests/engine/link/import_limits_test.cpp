// Imports past a project's route limit on the real stand-in engine: what fits comes in, and the summary
// banner and the log say how much was left out; the log counts what a capture brought, not the list.
#include "engine/import_summary_logic.h"
#include "ops_test_support.h"

#include <nlohmann/json.hpp>

using opstest::route;

namespace {

// A HAR of `count` different GET requests on shop.test.
QByteArray requestsHar(int count)
{
    QByteArray har = R"({"log":{"version":"1.2","entries":[)";
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            har += ',';
        har += R"({"request":{"method":"GET","url":"https://shop.test/items/)" + QByteArray::number(i)
               + R"("},"response":{"status":200,"content":{"text":"{}"}}})";
    }
    return har + "]}}";
}

class ImportLimits : public EngineOpsTest
{
protected:
    bool finished(const std::function<void(EngineClient::Done)> &start)
    {
        bool done = false;
        start([&] { done = true; });
        return testsupport::waitFor([&] { return done; }, 60000);
    }
};

} // namespace

TEST(ImportSummaryLogic, CountsAreGroupedAndEngineErrorsRead)
{
    const std::pair<qint64, const char *> counts[] = {{0, "0"}, {999, "999"}, {1000, "1,000"}, {7200, "7,200"},
                                                      {1234567, "1,234,567"}, {-45000, "-45,000"}};
    for (const auto &[count, text] : counts)
        EXPECT_EQ(groupedCount(count), QString::fromLatin1(text));
    EXPECT_EQ(engineErrorText(R"({"error":"invalid YAML: \u00e9"})"), QStringLiteral("invalid YAML: \u00e9"));
    EXPECT_EQ(engineErrorText("plain words"), QStringLiteral("plain words"));
    EXPECT_FALSE(engineErrorText("\xff"));
    EXPECT_TRUE(isSuccessfulImportSummary("Imported 4 routes into Shop"));
    EXPECT_FALSE(isSuccessfulImportSummary("imported 4 routes"));
    EXPECT_FALSE(isSuccessfulImportSummary("Import failed: bad YAML"));
    EXPECT_FALSE(isSuccessfulImportSummary(""));
}

TEST_F(ImportLimits, CaptureImportsWhatFitsAndSaysWhatItLeftOut)
{
    ASSERT_TRUE(bootLoaded());
    client().replaceEndpoints({route("r-1", "/one"), route("r-2", "/two"), route("r-3", "/three")});
    client().pushRoutes();

    // Two requests into a project of three: the log counts the two the capture brought.
    ASSERT_TRUE(finished([&](EngineClient::Done done) { client().importData(requestsHar(2), QStringLiteral("shop.har"), done); }));
    EXPECT_TRUE(logContains(QStringLiteral("imported 2 routes from shop.har")));
    EXPECT_EQ(client().endpoints().size(), 5);
    EXPECT_FALSE(client().importSummary().has_value());

    // 7,200 requests, two of them already routes: 4,995 more fit.
    ASSERT_TRUE(finished([&](EngineClient::Done done) { client().importData(requestsHar(7200), QStringLiteral("big.har"), done); }));
    EXPECT_EQ(client().endpoints().size(), 5000);
    ASSERT_TRUE(client().importSummary().has_value());
    EXPECT_EQ(*client().importSummary(),
              QStringLiteral("Imported 4,997 of 7,200 requests: the rest are past the 5,000-route limit of a project"));
    EXPECT_TRUE(logContains(QStringLiteral("imported 4997 routes from big.har")));
}

TEST_F(ImportLimits, OpenAPIAndProfileImportsSayWhatTheyLeftOut)
{
    ASSERT_TRUE(bootLoaded());
    nlohmann::json document = {{"openapi", "3.0.0"}, {"info", {{"title", "Big"}}}};
    for (int i = 0; i < 5200; ++i)
        document["paths"]["/items/" + std::to_string(i)]["get"]["responses"]["200"]["description"] = "ok";
    const QByteArray spec = QByteArray::fromStdString(document.dump());
    ASSERT_TRUE(finished([&](EngineClient::Done done) { client().performOpenAPIImport(spec, QStringLiteral("big.json"), done); }));
    EXPECT_EQ(client().importSummary(),
              QStringLiteral("Imported 5,000 of 5,200 operations into Big: the rest are past the 5,000-route limit "
                             "of a project"));
    EXPECT_EQ(client().endpoints().size(), 5000);

    nlohmann::json profile = {{"kestrionProfile", 1}, {"routes", nlohmann::json::array()}};
    for (int i = 0; i < 5100; ++i)
        profile["routes"].push_back(nlohmann::json::parse(encodeRecord(
            route("p-" + std::to_string(i), "/p/" + std::to_string(i)).wire())));
    ASSERT_TRUE(finished([&](EngineClient::Done done) {
        client().handleProfileImport(QByteArray::fromStdString(profile.dump()), QStringLiteral("big.kestrion"), done);
    }));
    EXPECT_EQ(client().importSummary(),
              QStringLiteral("Imported 5,000 of 5,100 routes from big.kestrion: the rest are past the 5,000-route "
                             "limit of a project"));
    ASSERT_EQ(client().endpoints().size(), 5000);
    EXPECT_EQ(client().endpoints().last().id, "p-4999");
}
