// What the traffic screens build alike: their column and toolbar pieces, and the state widget
// that stands in for an empty list.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

class QHBoxLayout;
class QVBoxLayout;
class SearchField;
class SecondaryButton;
class SnowText;

namespace trafficparts {

// The screen's column: the toolbar over the table, 24 in at the sides and bottom, 8 at the top.
QVBoxLayout *screenColumn(QWidget *owner = nullptr);
// The toolbar row (spacing 12), opening with the filter field at most 340 wide.
QHBoxLayout *toolbar(SearchField *filter = nullptr);
// The muted caption after a count badge ("entries", "records", "findings").
SnowText *countCaption(const QString &text, QWidget *parent);
SecondaryButton *refreshButton(std::function<void()> action, QWidget *parent);
SecondaryButton *clearButton(std::function<void()> action, QWidget *parent);

} // namespace trafficparts

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
