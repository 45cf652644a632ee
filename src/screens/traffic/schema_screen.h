// The schema drift screen: drift findings live from the engine link, learned baselines fetched on
// demand, refresh, relearn and clear.
#pragma once

#include "app/app_context.h"
#include "engine/engine_client.h"
#include "engine/records/schema_records.h"
#include "screens/traffic/traffic_logic.h"
#include "screens/traffic/traffic_screen_parts.h"

#include <QWidget>

#include <vector>

class BaselineModel;
class BaselineRowDelegate;
class CountBadge;
class DriftModel;
class QListView;
class QStackedWidget;
class SecondaryButton;
class SnowText;
class TabBar;

class SchemaScreen final : public QWidget
{
    Q_OBJECT
public:
    enum class Tab { drift, baselines };
    enum class Content { driftList, baselineList, loading, driftEmpty, baselinesEmpty };

    explicit SchemaScreen(const AppContext &context, QWidget *parent = nullptr);

    // The actions, as the controls call them.
    void setTab(Tab tab);
    void reload();
    void relearnAll();
    void relearn(const QString &key);
    void clear();
    void toggle(const QString &key);

    Tab tab() const { return m_tab; }
    bool loading() const { return m_loading; }
    // The least a change waits before the reload; SchemaReloadDelayMs unless a test shortens it.
    int reloadDelay() const { return m_reloadDelayMs; }
    void setReloadDelay(int ms) { m_reloadDelayMs = ms; }
    const std::vector<SchemaBaseline> &baselines() const { return m_baselines; }
    Content content() const { return m_content; }

    CountBadge *countBadge() const { return m_count; }
    SnowText *countLabel() const { return m_countLabel; }
    SecondaryButton *relearnAllButton() const { return m_relearnAll; }
    BaselineModel *baselineModel() const { return m_baselineModel; }
    BaselineRowDelegate *baselineDelegate() const { return m_baselineDelegate; }
    DriftModel *driftModel() const { return m_driftModel; }
    QListView *driftList() const { return m_driftList; }
    QListView *baselineList() const { return m_baselineList; }
    QWidget *placeholder() const { return m_placeholderContent.widget(); }

protected:
    void showEvent(QShowEvent *event) override;

private:
    // Runs the change, then reloads once the engine has answered it and at least the delay has passed.
    void reloadAfter(const std::function<void(EngineClient::Done)> &change);
    void refresh();

    AppContext m_context;
    Tab m_tab = Tab::drift;
    std::vector<SchemaBaseline> m_baselines;
    bool m_loading = false;
    int m_reloadSerial = 0;
    int m_reloadDelayMs = trafficlogic::SchemaReloadDelayMs;
    Content m_content = Content::driftEmpty;

    TabBar *m_tabs;
    CountBadge *m_count;
    SnowText *m_countLabel;
    SecondaryButton *m_relearnAll;
    QStackedWidget *m_stack;
    DriftModel *m_driftModel;
    QListView *m_driftList;
    BaselineModel *m_baselineModel;
    BaselineRowDelegate *m_baselineDelegate;
    QWidget *m_baselinePanel;
    QListView *m_baselineList;
    QWidget *m_placeholder;
    KeyedContent m_placeholderContent;
};
