// What the traffic screens build alike: their column and toolbar pieces, and the state widget
// that stands in for an empty list.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

class QHBoxLayout;
class QLayout;
class QVBoxLayout;
class SearchField;
class SecondaryButton;
class SnowText;

namespace trafficparts {

// The screen's column: the toolbar over the table, 24 in at the sides and bottom, 8 at the top.
QVBoxLayout *screenColumn(QWidget *owner = nullptr);
// The toolbar row (spacing 12), opening with the filter field at most 340 wide.
QHBoxLayout *toolbar(SearchField *filter = nullptr);
// Sets up the filter field of a toolbar: its placeholder, at most 340 wide.
void setUpFilter(SearchField *filter);
// The muted caption after a count badge ("entries", "records", "findings").
SnowText *countCaption(const QString &text, QWidget *parent);
SecondaryButton *refreshButton(std::function<void()> action, QWidget *parent);
SecondaryButton *clearButton(std::function<void()> action, QWidget *parent);

} // namespace trafficparts

// The toolbar of the live traffic and history screens: the filter, with a stretch of its own so it
// reaches its full width before the gap takes any room, what follows it (counts), a flexible gap and
// the actions at the end. When one row cannot hold the filter at its least width and every action
// whole, the actions move to a row of their own below it, at the end, rather than being cut.
class TrafficToolbar final : public QWidget
{
public:
    explicit TrafficToolbar(SearchField *filter, QWidget *parent = nullptr);

    void addLeading(QLayout *group);
    void addAction(QWidget *action);
    bool actionsBelow() const { return m_actionsBelow; }

    // As narrow as the actions on a row of their own allow: one row never widens the screen.
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void fit();
    // The filter at its least width and the counts whole.
    int leadingMinimumWidth() const;

    SearchField *m_filter;
    QHBoxLayout *m_top;
    QHBoxLayout *m_below;
    QHBoxLayout *m_actions;
    int m_leadingGroups = 0;
    bool m_actionsBelow = false;
};

// The one state widget a body page shows in place of the list, rebuilt only when the state's key
// changes, so a refresh that changes nothing keeps the widget (and its animation) as it stands.
class KeyedContent final
{
public:
    // False while `key` is the shown state's; otherwise drops the shown widget, and the caller
    // builds the new one (a child of the page) and hands it to show().
    bool rebuild(const QString &key);
    // Adds the new widget to the page's layout.
    void show(QWidget *page, QWidget *content);
    QWidget *widget() const { return m_content; }
    // The next rebuild() builds anew whatever its key.
    void forget() { m_key.clear(); }

private:
    QString m_key;
    QPointer<QWidget> m_content;
};
