// Control requests of the root CA, the learned schemas, mock bodies and the local model.
#include "control_api_support.h"

#include "core/data_file.h"
#include "mocks/mock_generator.h"
#include "standin_engine.h"

namespace standin::controlapi {

namespace {

CAInfo caInfoOf(StandinEngine &engine, const std::optional<CertificateFacts> &facts)
{
    if (!facts)
        return CAInfo {};
    return CAInfo {true, facts->fingerprint, facts->notAfter, facts->subject, facts->certPEM,
                   engine.rootCA().certificatePath().string()};
}

AIStatus noLocalModel()
{
    AIStatus status;
    status.detail = "No local model: this engine generates bodies from examples only";
    return status;
}

SchemaSnapshot shown(SchemaSnapshot snapshot)
{
    const auto now = std::chrono::system_clock::now();
    for (auto &drift : snapshot.drifts)
        drift.time = shownTime(drift.time, now);
    return snapshot;
}

} // namespace

void registerSetupAndTools(ControlRouter &server, StandinEngine &engine)
{
    server.onGet("/ca", [&engine](const Request &, Response &res) {
        reply(res, caInfoOf(engine, engine.rootCA().current()));
    });
    server.onPost("/ca/generate", [&engine](const Request &, Response &res) {
        std::string error;
        std::error_code failure;
        const auto facts = engine.rootCA().generate(error, &failure);
        if (!facts)
            return fail(res, isOutOfSpace(failure) ? 507 : 500, "root CA generation failed: " + error);
        logLine("root CA generated: " + facts->fingerprint);
        reply(res, caInfoOf(engine, facts));
    });

    server.onGet("/schema", [&engine](const Request &, Response &res) {
        reply(res, shown(engine.schema().snapshot(engine.state().activeProjectId())));
    });
    server.onPost("/schema/relearn", [&engine](const Request &req, Response &res) {
        engine.schema().relearn(engine.state().activeProjectId(), req.paramValue("key"));
        if (schemaCommitted(engine, res))
            reply(res, shown(engine.schema().snapshot(engine.state().activeProjectId())));
    });
    server.onDelete("/schema", [&engine](const Request &, Response &res) {
        engine.schema().clear(engine.state().activeProjectId());
        if (schemaCommitted(engine, res))
            res.status = 204;
    });

    server.onPost("/mock/generate", [](const Request &req, Response &res) {
        const auto request = readRecord<MockGenerateRequest>(req, res, "mock request");
        if (!request)
            return;
        std::string error;
        const auto body = generateMockBody(request->example, request->seed, request->count, error);
        if (!body)
            return fail(res, 422, error);
        res.setContent(*body, "application/json");
    });
    // Without a local model a prompt can't shape the body; the example-based generator answers instead.
    server.onPost("/mock/ai", [](const Request &req, Response &res) {
        const auto request = readRecord<MockAIRequest>(req, res, "AI mock request");
        if (!request)
            return;
        if (request->example.empty())
            return fail(res, 422,
                        "a Tier-1 generation needs an example body: this engine has no local model, so it "
                        "builds the body from the example, not from the prompt alone");
        std::string error;
        const auto body = generateMockBody(request->example, request->seed, request->count, error);
        if (!body)
            return fail(res, 422, error);
        res.setContent(*body, "application/json");
        res.setHeader("X-Kestrion-Tier", "tier1");
    });
    server.onGet("/ai/status", [](const Request &, Response &res) { reply(res, noLocalModel()); });
    server.onPost("/ai/start", [](const Request &, Response &res) { reply(res, noLocalModel(), 409); });
    server.onPost("/ai/stop", [](const Request &, Response &res) { reply(res, noLocalModel()); });
    server.onPost("/ai/setup", [&engine](const Request &, Response &res) {
        engine.setAISetupRequested();
        res.status = 202;
        res.setContent("{}", "application/json");
    });
    server.onGet("/ai/setup", [&engine](const Request &, Response &res) {
        AISetupProgress progress = AISetupProgress::initial();
        if (engine.aiSetupRequested()) {
            progress.stage = "error";
            progress.message = "A local model can't be set up with this engine";
            progress.err = "this engine has no local model support";
        }
        reply(res, progress);
    });
}

} // namespace standin::controlapi
