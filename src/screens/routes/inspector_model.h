// The route inspector's editing state: a widget-free draft of one route that saves every real change.
#pragma once

#include "engine/records/route_records.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine_client.h"

// Seeded from the route when created; sends nothing until the user changes a field. Each change is
// saved by applying that one field onto the route as the engine link holds it now, so a change made
// elsewhere to another field (the routes table's switch) is never written back over. When the route
// changes under it, every field the change touched is seeded again unless the draft already says the
// same. The draft is bound to the project that was active when it was made: once another project is
// active, or while a switch is under way, nothing it does reaches the engine.
class InspectorModel final : public QObject
{
    Q_OBJECT
public:
    // The saved fields, in the order their changes are observed.
    enum class Field { method, host, path, status, latency, enableMock, passThrough, errorState, body, sequence, seqMode };
    Q_ENUM(Field)

    static constexpr int GenCountMin = 1;
    static constexpr int GenCountMax = 50;

    InspectorModel(EngineClient *engine, const Endpoint &route, QObject *parent = nullptr);

    EngineClient *engine() const { return m_engine; }
    const QString &projectID() const { return m_projectID; }
    const std::string &routeID() const { return m_routeID; }
    // The route as last saved (as the engine link's list holds it).
    const Endpoint &endpoint() const { return *m_endpoint; }
    bool routeExists() const { return m_exists; }
    // True while edits may reach the engine: the draft's project is active, no switch is under way and the
    // route is still listed.
    bool isCurrent() const;

    // ---- Editing state ----
    HTTPMethod method() const { return m_method; }
    const QString &hostText() const { return m_hostText; }
    const QString &pathText() const { return m_pathText; }
    int status() const { return m_status; }
    double latency() const { return m_latency; }
    ErrorOverride errorState() const { return m_errorState; }
    bool enableMock() const { return m_enableMock; }
    bool passThrough() const { return m_passThrough; }
    // The body as text: decoded from the route's UTF-8 when first asked for, so building an inspector for a
    // long body does not wait for it.
    const QString &bodyText() const;
    bool bodyEmpty() const { return m_bodyUtf8->empty(); }
    // The body's length in UTF-8 bytes, known without decoding it.
    qsizetype bodyBytes() const { return qsizetype(m_bodyUtf8->size()); }
    const std::string &bodyUtf8() const { return *m_bodyUtf8; }
    // The same body, shared with work done off the window's thread instead of copied there.
    std::shared_ptr<const std::string> sharedBodyUtf8() const { return m_bodyUtf8; }
    // Counts the body's changes, so text decoded elsewhere from one version is taken only for that version.
    int bodyVersion() const { return m_bodyVersion; }
    void adoptDecodedBody(int version, const QString &text);
    bool editing() const { return m_editing; }
    const std::vector<MockStep> &sequence() const { return m_sequence; }
    const QString &seqMode() const { return m_seqMode; }
    int genCount() const { return m_genCount; }
    bool generating() const { return m_generating; }
    qint64 genSeed() const { return m_genSeed; }
    const QString &aiPrompt() const { return m_aiPrompt; }
    const std::optional<QString> &aiTier() const { return m_aiTier; }

    // ---- The user's edits: each saves when it changes its field ----
    void setMethod(HTTPMethod method);
    void setHostText(const QString &text);
    void setPathText(const QString &text);
    void setStatus(int status);
    void setLatency(double latency);
    void setErrorState(ErrorOverride value);
    void setEnableMock(bool on);
    void setPassThrough(bool on);
    void setBodyText(const QString &text);
    void setSeqMode(const QString &mode);

    // Steps are addressed by id, so an edit or delete aimed at a step that has moved still finds it; an id
    // that is gone changes nothing.
    void addStep();
    void deleteStep(const std::string &id);
    void setStepStatus(const std::string &id, int status);
    void setStepLatency(const std::string &id, int latency);
    void setStepRepeat(const std::string &id, int repeatCount);
    void setStepBody(const std::string &id, const QString &body);
    // Dropping the connection is the override `timeout`; turning it off gives `ok`.
    void setStepDropsConnection(const std::string &id, bool drops);
    const MockStep *step(const std::string &id) const;
    int stepIndex(const std::string &id) const;

    // ---- Body tools (never saved themselves) ----
    void setEditing(bool editing);
    void setGenCount(int count);
    void setAiPrompt(const QString &prompt);
    // Appends "{{key}}" to the very end of the body; ignored while a generation runs.
    void insertVariable(const QString &key);
    void generate();
    void aiGenerate();

    // ---- Derived ----
    std::string normalizedHost() const;
    std::string normalizedPath() const;
    bool hostInvalid() const { return normalizedHost().empty(); }
    bool pathInvalid() const { return normalizedPath().empty(); }
    std::optional<Endpoint> conflictingRoute() const;
    bool showsPathHint() const;

    // While set, saves reach the engine on the next turn of the event loop: the inspector is being taken
    // down from inside a handler of the route list, which must not be changed under it.
    void setDeferCommits(bool defer) { m_deferCommits = defer; }

signals:
    // The saved route changed (the header follows it).
    void endpointChanged();
    // A field of the draft changed, by the user or because the route changed under it.
    void fieldChanged(InspectorModel::Field field);
    // editing, genCount, generating, genSeed, aiPrompt or aiTier changed.
    void toolsChanged();
    // The engine link's route list changed (the conflict warning follows it).
    void routesChanged();

private:
    using Patch = std::function<void(Endpoint &)>;

    void seedFromSaved();
    // The saved route's body, shared with the record rather than copied out of it.
    std::shared_ptr<const std::string> savedBody() const { return {m_endpoint, &m_endpoint->body}; }
    void onRoutesChanged();
    void onSwitchingChanged();
    void reseedChanged(const Endpoint &before, const Endpoint &after);
    void changed(Field field);
    Patch patchFor(Field field) const;
    // Applies one saved field to the route by id in the project, clamping the route's status; sends only
    // when the route really changes. False when it did not reach the list.
    static bool apply(EngineClient &engine, const QString &projectID, const std::string &routeID,
                      const Patch &patch);
    MockStep *mutableStep(const std::string &id);
    void editStep(const std::string &id, const std::function<bool(MockStep &)> &edit);
    void finishGeneration();
    void setGenerating(bool generating);

    QPointer<EngineClient> m_engine;
    QString m_projectID;
    std::string m_routeID;
    // Never changed in place, so the draft's body can point into it.
    std::shared_ptr<const Endpoint> m_endpoint;
    bool m_exists = true;
    bool m_deferCommits = false;

    HTTPMethod m_method = HTTPMethod::GET;
    QString m_hostText;
    QString m_pathText;
    int m_status = 200;
    double m_latency = 0;
    ErrorOverride m_errorState = ErrorOverride::ok;
    bool m_enableMock = true;
    bool m_passThrough = false;
    mutable QString m_bodyText;
    mutable bool m_bodyDecoded = false;
    int m_bodyVersion = 0;
    // The body as saved (UTF-8), so a long body is converted once per edit, not at every comparison. Never
    // changed in place: a save or a worker holds on to the version it was given.
    std::shared_ptr<const std::string> m_bodyUtf8 = std::make_shared<const std::string>();
    bool m_editing = false;
    std::vector<MockStep> m_sequence;
    QString m_seqMode;
    int m_genCount = 3;
    bool m_generating = false;
    qint64 m_genSeed = 1;
    QString m_aiPrompt;
    std::optional<QString> m_aiTier;
};
