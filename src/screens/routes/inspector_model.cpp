// The route inspector's editing state and auto-save.
#include "screens/routes/inspector_model.h"

#include "engine/engine_client.h"
#include "engine/records/route_input.h"
#include "screens/routes/inspector_logic.h"

#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

const Endpoint *findRoute(const QList<Endpoint> &routes, const std::string &id)
{
    const auto it = std::find_if(routes.cbegin(), routes.cend(), [&](const Endpoint &e) { return e.id == id; });
    return it == routes.cend() ? nullptr : &*it;
}

} // namespace

InspectorModel::InspectorModel(EngineClient *engine, const Endpoint &route, QObject *parent)
    : QObject(parent), m_engine(engine), m_routeID(route.id), m_endpoint(std::make_shared<const Endpoint>(route))
{
    seedFromSaved();
    if (!engine)
        return;
    m_projectID = engine->activeProjectID();
    m_exists = findRoute(engine->endpoints(), m_routeID) != nullptr;
    connect(engine, &EngineClient::endpointsChanged, this, &InspectorModel::onRoutesChanged);
    connect(engine, &EngineClient::isSwitchingProjectChanged, this, &InspectorModel::onSwitchingChanged);
}

bool InspectorModel::isCurrent() const
{
    return m_engine && m_exists && !m_engine->isSwitchingProject() && m_engine->activeProjectID() == m_projectID;
}

void InspectorModel::seedFromSaved()
{
    const Endpoint &route = *m_endpoint;
    m_method = route.method;
    m_hostText = QString::fromStdString(route.host);
    m_pathText = QString::fromStdString(route.path);
    m_status = route.status;
    m_latency = double(route.latency);
    m_errorState = route.override;
    m_enableMock = route.active;
    m_passThrough = route.passThrough;
    m_bodyText.clear();
    m_bodyDecoded = false;
    ++m_bodyVersion;
    m_bodyUtf8 = savedBody();
    m_sequence = route.sequence;
    m_seqMode = QString::fromStdString(route.seqMode);
}

// ---- Following the route list ----

void InspectorModel::onRoutesChanged()
{
    const Endpoint *found = findRoute(m_engine->endpoints(), m_routeID);
    m_exists = found != nullptr;
    if (found && !(*found == *m_endpoint)) {
        const std::shared_ptr<const Endpoint> before = std::exchange(m_endpoint, std::make_shared<const Endpoint>(*found));
        reseedChanged(*before, *m_endpoint);
        emit endpointChanged();
    }
    emit routesChanged();
}

void InspectorModel::onSwitchingChanged()
{
    // Edits made during a switch that left this project active were dropped: show what is saved.
    if (m_engine->isSwitchingProject() || m_engine->activeProjectID() != m_projectID)
        return;
    const Endpoint *found = findRoute(m_engine->endpoints(), m_routeID);
    if (!found)
        return;
    m_endpoint = std::make_shared<const Endpoint>(*found);
    seedFromSaved();
    emit endpointChanged();
    for (Field field : {Field::method, Field::host, Field::path, Field::status, Field::latency, Field::enableMock,
                        Field::passThrough, Field::errorState, Field::body, Field::sequence, Field::seqMode})
        emit fieldChanged(field);
}

void InspectorModel::reseedChanged(const Endpoint &before, const Endpoint &after)
{
    // A field is seeded again only when the route's value moved and the draft would not save that value
    // itself (it is then someone else's change, not the echo of this draft's own save).
    if (before.method != after.method && m_method != after.method) {
        m_method = after.method;
        emit fieldChanged(Field::method);
    }
    if (before.host != after.host && normalizedHost() != after.host) {
        m_hostText = QString::fromStdString(after.host);
        emit fieldChanged(Field::host);
    }
    if (before.path != after.path && normalizedPath() != after.path) {
        m_pathText = QString::fromStdString(after.path);
        emit fieldChanged(Field::path);
    }
    if (before.status != after.status && InspectorLogic::clampStatus(m_status) != after.status) {
        m_status = after.status;
        emit fieldChanged(Field::status);
    }
    if (before.latency != after.latency && int(m_latency) != after.latency) {
        m_latency = double(after.latency);
        emit fieldChanged(Field::latency);
    }
    if (before.active != after.active && m_enableMock != after.active) {
        m_enableMock = after.active;
        emit fieldChanged(Field::enableMock);
    }
    if (before.passThrough != after.passThrough && m_passThrough != after.passThrough) {
        m_passThrough = after.passThrough;
        emit fieldChanged(Field::passThrough);
    }
    if (before.override != after.override && m_errorState != after.override) {
        m_errorState = after.override;
        emit fieldChanged(Field::errorState);
    }
    if (before.body != after.body && *m_bodyUtf8 != after.body) {
        m_bodyText.clear();
        m_bodyDecoded = false;
        ++m_bodyVersion;
        m_bodyUtf8 = savedBody();
        emit fieldChanged(Field::body);
    }
    if (before.sequence != after.sequence && InspectorLogic::savedSequence(m_sequence) != after.sequence) {
        m_sequence = after.sequence;
        emit fieldChanged(Field::sequence);
    }
    if (before.seqMode != after.seqMode && m_seqMode.toStdString() != after.seqMode) {
        m_seqMode = QString::fromStdString(after.seqMode);
        emit fieldChanged(Field::seqMode);
    }
}

// ---- Saving ----

InspectorModel::Patch InspectorModel::patchFor(Field field) const
{
    switch (field) {
    case Field::method:
        return [v = m_method](Endpoint &e) { e.method = v; };
    case Field::host:
        // Text that normalises to nothing keeps the saved host.
        return [v = normalizedHost()](Endpoint &e) {
            if (!v.empty())
                e.host = v;
        };
    case Field::path:
        return [v = normalizedPath()](Endpoint &e) {
            if (!v.empty())
                e.path = v;
        };
    case Field::status:
        return [v = InspectorLogic::clampStatus(m_status)](Endpoint &e) { e.status = v; };
    case Field::latency:
        return [v = int(m_latency)](Endpoint &e) { e.latency = v; };
    case Field::enableMock:
        return [v = m_enableMock](Endpoint &e) { e.active = v; };
    case Field::passThrough:
        return [v = m_passThrough](Endpoint &e) { e.passThrough = v; };
    case Field::errorState:
        return [v = m_errorState](Endpoint &e) { e.override = v; };
    case Field::body:
        return [v = m_bodyUtf8](Endpoint &e) { e.body = *v; };
    case Field::sequence:
        return [v = InspectorLogic::savedSequence(m_sequence)](Endpoint &e) { e.sequence = v; };
    case Field::seqMode:
        return [v = m_seqMode.toStdString()](Endpoint &e) { e.seqMode = v; };
    }
    return [](Endpoint &) {};
}

bool InspectorModel::apply(EngineClient &engine, const QString &projectID, const std::string &routeID,
                           const Patch &patch)
{
    if (engine.isSwitchingProject() || engine.activeProjectID() != projectID)
        return false;
    const Endpoint *current = findRoute(engine.endpoints(), routeID);
    if (!current)
        return false;
    Endpoint copy = *current;
    patch(copy);
    // A saved route always holds a status in range, whichever field was edited.
    copy.status = InspectorLogic::clampStatus(copy.status);
    if (copy == *current)
        return false;
    engine.updateEndpoint(std::move(copy));
    return true;
}

void InspectorModel::changed(Field field)
{
    emit fieldChanged(field);
    if (!m_engine)
        return;
    Patch patch = patchFor(field);
    if (!m_deferCommits) {
        apply(*m_engine, m_projectID, m_routeID, patch);
        return;
    }
    QPointer<EngineClient> engine = m_engine;
    QTimer::singleShot(0, m_engine, [engine, project = m_projectID, id = m_routeID, patch = std::move(patch)] {
        if (engine)
            apply(*engine, project, id, patch);
    });
}

// ---- The user's edits ----

void InspectorModel::setMethod(HTTPMethod method)
{
    if (method == m_method)
        return;
    m_method = method;
    changed(Field::method);
}

void InspectorModel::setHostText(const QString &text)
{
    if (text == m_hostText)
        return;
    m_hostText = text;
    changed(Field::host);
}

void InspectorModel::setPathText(const QString &text)
{
    if (text == m_pathText)
        return;
    m_pathText = text;
    changed(Field::path);
}

void InspectorModel::setStatus(int status)
{
    if (status == m_status)
        return;
    m_status = status;
    changed(Field::status);
}

void InspectorModel::setLatency(double latency)
{
    if (latency == m_latency)
        return;
    m_latency = latency;
    changed(Field::latency);
}

void InspectorModel::setErrorState(ErrorOverride value)
{
    if (value == m_errorState)
        return;
    m_errorState = value;
    changed(Field::errorState);
}

void InspectorModel::setEnableMock(bool on)
{
    if (on == m_enableMock)
        return;
    m_enableMock = on;
    changed(Field::enableMock);
}

void InspectorModel::setPassThrough(bool on)
{
    if (on == m_passThrough)
        return;
    m_passThrough = on;
    changed(Field::passThrough);
}

const QString &InspectorModel::bodyText() const
{
    if (!m_bodyDecoded) {
        m_bodyText = QString::fromStdString(*m_bodyUtf8);
        m_bodyDecoded = true;
    }
    return m_bodyText;
}

void InspectorModel::adoptDecodedBody(int version, const QString &text)
{
    if (version == m_bodyVersion && !m_bodyDecoded) {
        m_bodyText = text;
        m_bodyDecoded = true;
    }
}

void InspectorModel::setBodyText(const QString &text)
{
    if (text == bodyText())
        return;
    m_bodyText = text;
    m_bodyDecoded = true;
    ++m_bodyVersion;
    m_bodyUtf8 = std::make_shared<const std::string>(text.toStdString());
    changed(Field::body);
}

void InspectorModel::setSeqMode(const QString &mode)
{
    if (mode == m_seqMode)
        return;
    m_seqMode = mode;
    changed(Field::seqMode);
}

// ---- Steps ----

void InspectorModel::addStep()
{
    m_sequence.push_back(InspectorLogic::newStep(m_sequence.empty(), m_endpoint->status, *m_bodyUtf8));
    changed(Field::sequence);
}

void InspectorModel::deleteStep(const std::string &id)
{
    const auto it = std::find_if(m_sequence.begin(), m_sequence.end(), [&](const MockStep &s) { return s.id == id; });
    if (it == m_sequence.end())
        return;
    m_sequence.erase(it);
    changed(Field::sequence);
}

MockStep *InspectorModel::mutableStep(const std::string &id)
{
    const auto it = std::find_if(m_sequence.begin(), m_sequence.end(), [&](const MockStep &s) { return s.id == id; });
    return it == m_sequence.end() ? nullptr : &*it;
}

const MockStep *InspectorModel::step(const std::string &id) const
{
    return const_cast<InspectorModel *>(this)->mutableStep(id);
}

int InspectorModel::stepIndex(const std::string &id) const
{
    const auto it = std::find_if(m_sequence.begin(), m_sequence.end(), [&](const MockStep &s) { return s.id == id; });
    return it == m_sequence.end() ? -1 : int(std::distance(m_sequence.begin(), it));
}

void InspectorModel::editStep(const std::string &id, const std::function<bool(MockStep &)> &edit)
{
    MockStep *target = mutableStep(id);
    if (target && edit(*target))
        changed(Field::sequence);
}

// A committed number is kept as it is saved, so the card shows what the engine serves.
void InspectorModel::setStepStatus(const std::string &id, int status)
{
    const int saved = InspectorLogic::clampStatus(status);
    editStep(id, [saved](MockStep &s) { return std::exchange(s.status, saved) != saved; });
}

void InspectorModel::setStepLatency(const std::string &id, int latency)
{
    const std::int64_t saved = InspectorLogic::clampStepLatency(latency);
    editStep(id, [saved](MockStep &s) { return std::exchange(s.latency, saved) != saved; });
}

void InspectorModel::setStepRepeat(const std::string &id, int repeatCount)
{
    const std::int64_t saved = InspectorLogic::clampRepeatCount(repeatCount);
    editStep(id, [saved](MockStep &s) { return std::exchange(s.repeatCount, saved) != saved; });
}

void InspectorModel::setStepBody(const std::string &id, const QString &body)
{
    editStep(id, [text = body.toStdString()](MockStep &s) { return std::exchange(s.body, text) != text; });
}

void InspectorModel::setStepDropsConnection(const std::string &id, bool drops)
{
    const ErrorOverride value = drops ? ErrorOverride::timeout : ErrorOverride::ok;
    editStep(id, [value](MockStep &s) { return std::exchange(s.override, value) != value; });
}

// ---- Body tools ----

void InspectorModel::setEditing(bool editing)
{
    if (editing == m_editing)
        return;
    m_editing = editing;
    emit toolsChanged();
}

void InspectorModel::setGenCount(int count)
{
    count = std::clamp(count, GenCountMin, GenCountMax);
    if (count == m_genCount)
        return;
    m_genCount = count;
    emit toolsChanged();
}

void InspectorModel::setAiPrompt(const QString &prompt)
{
    if (prompt == m_aiPrompt)
        return;
    m_aiPrompt = prompt;
    emit toolsChanged();
}

void InspectorModel::setGenerating(bool generating)
{
    if (generating == m_generating)
        return;
    m_generating = generating;
    emit toolsChanged();
}

void InspectorModel::insertVariable(const QString &key)
{
    // A generation replaces the whole body when it returns; the body stays as it is until then.
    if (m_generating)
        return;
    setBodyText(bodyText() + QStringLiteral("{{") + key + QStringLiteral("}}"));
}

void InspectorModel::finishGeneration()
{
    ++m_genSeed;
    m_generating = false;
    emit toolsChanged();
}

void InspectorModel::generate()
{
    if (bodyEmpty() || m_generating || !m_engine)
        return;
    setGenerating(true);
    const QString sent = bodyText();
    // Tied to this draft: an answer that outlives the inspector is dropped with it.
    m_engine->generateMock(sent, std::nullopt, m_genSeed, m_genCount, this,
                           [this, sent](const std::optional<QString> &text) {
                               // Only into this route of this project, and only over the body it was made from.
                               if (text && isCurrent() && bodyText() == sent)
                                   setBodyText(*text);
                               finishGeneration();
                           });
}

void InspectorModel::aiGenerate()
{
    if (m_aiPrompt.isEmpty() || m_generating || !m_engine)
        return;
    setGenerating(true);
    const QString sent = bodyText();
    const std::optional<QString> example = sent.isEmpty() ? std::nullopt : std::optional<QString>(sent);
    m_engine->generateMockAI(m_aiPrompt, example, std::nullopt, m_genSeed, m_genCount, this,
                             [this, sent](const std::optional<EngineClient::GeneratedBody> &result) {
                                 if (result && isCurrent() && bodyText() == sent) {
                                     m_aiTier = result->tier;
                                     setBodyText(result->text);
                                 }
                                 finishGeneration();
                             });
}

// ---- Derived ----

std::string InspectorModel::normalizedHost() const
{
    return RouteInput::normalizeHost(m_hostText.toStdString());
}

std::string InspectorModel::normalizedPath() const
{
    return RouteInput::normalizePath(m_pathText.toStdString());
}

std::optional<Endpoint> InspectorModel::conflictingRoute() const
{
    if (!m_engine)
        return std::nullopt;
    return InspectorLogic::conflictingRoute(m_engine->endpoints(), m_routeID, m_method, normalizedHost(),
                                            normalizedPath());
}

bool InspectorModel::showsPathHint() const
{
    return !conflictingRoute() && m_pathText.contains(QLatin1Char(':'));
}
