// Tab focus, focus ring and key presses for the painted controls.
#include "design/keyboard_reach.h"

#include "design/card_surface.h"
#include "design/palette.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>
#include <QWidget>

namespace {

constexpr qreal RingWidth = 2;
constexpr qreal GapWidth = 1.5;

// Whether the user's last key or click was a focus move of the keyboard (Tab, Shift+Tab). Focus that
// lands anywhere else (a field hidden under it, a sheet closed with Escape, a click elsewhere) was
// moved by the window, not by the user, and shows no ring.
class KeyboardNavigation final : public QObject
{
public:
    static KeyboardNavigation &instance()
    {
        static KeyboardNavigation *navigation = [] {
            auto *created = new KeyboardNavigation;
            QCoreApplication::instance()->installEventFilter(created);
            return created;
        }();
        return *navigation;
    }

    bool tabbing() const { return m_tabbing; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent *>(event)->key();
            const bool modifierOnly = key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt
                                      || key == Qt::Key_Meta || key == Qt::Key_AltGr;
            if (!modifierOnly)
                m_tabbing = key == Qt::Key_Tab || key == Qt::Key_Backtab;
            break;
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            m_tabbing = false;
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    KeyboardNavigation() : QObject(QCoreApplication::instance()) {}

    // True until the first input: a control focused in code before any key or click counts as tabbed to.
    bool m_tabbing = true;
};

// Paints a control's ring over its child widgets, which would otherwise cover a ring the control
// paints itself; the focus may be a child's (an editor in its frame).
class RingOverlay final : public QWidget
{
public:
    RingOverlay(QWidget *control, qreal radius, QWidget *focusOwner)
        : QWidget(control), m_radius(radius), m_focusOwner(focusOwner)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(control->rect());
        control->installEventFilter(this);
        if (focusOwner != control)
            focusOwner->installEventFilter(this);
        // Made for a frame already on screen (an editor made on demand), it shows at once.
        show();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::Resize:
            if (watched == parentWidget())
                setGeometry(parentWidget()->rect());
            break;
        case QEvent::ChildAdded:
        case QEvent::ChildPolished:
            raise();
            break;
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            update();
            break;
        default:
            break;
        }
        return QWidget::eventFilter(watched, event);
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        if (m_focusOwner)
            KeyboardReach::paintRing(painter, m_focusOwner, QRectF(rect()), m_radius);
    }

private:
    qreal m_radius;
    QPointer<QWidget> m_focusOwner;
};

// Paints a small control's ring on its parent, `room` outside the control, where a ring inside would cover
// the glyph that fills it. It follows the control's place and visibility.
class RingHalo final : public QWidget
{
public:
    RingHalo(QWidget *control, int room, qreal radius)
        : QWidget(control->parentWidget()), m_control(control), m_room(room), m_radius(radius)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        follow();
    }

    void follow()
    {
        setGeometry(m_control->geometry().adjusted(-m_room, -m_room, m_room, m_room));
        setVisible(m_control->isVisible());
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        if (m_control)
            KeyboardReach::paintRing(painter, m_control, QRectF(rect()), m_radius + m_room);
    }

private:
    QPointer<QWidget> m_control;
    int m_room;
    qreal m_radius;
};

// Keeps a control's halo on whatever parent the control has now (a layout may give it one later).
class HaloKeeper final : public QObject
{
public:
    HaloKeeper(QWidget *control, int room, qreal radius)
        : QObject(control), m_control(control), m_room(room), m_radius(radius)
    {
        control->installEventFilter(this);
        place();
    }

    ~HaloKeeper() override { delete m_halo; }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::ParentChange:
            delete m_halo;
            place();
            break;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
            if (m_halo)
                m_halo->follow();
            break;
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            // Above the control's neighbours while it shows, so none covers it.
            if (m_halo) {
                m_halo->raise();
                m_halo->update();
            }
            break;
        default:
            break;
        }
        return false;
    }

private:
    void place()
    {
        if (m_control->parentWidget())
            m_halo = new RingHalo(m_control, m_room, m_radius);
    }

    QWidget *m_control;
    int m_room;
    qreal m_radius;
    QPointer<RingHalo> m_halo;
};

// An editor that types Tab as text keeps the key; one that passes it on (a line edit) is Tabbed as a control.
bool typesTab(const QWidget *editor)
{
    if (const auto *plain = qobject_cast<const QPlainTextEdit *>(editor))
        return !plain->tabChangesFocus();
    if (const auto *rich = qobject_cast<const QTextEdit *>(editor))
        return !rich->tabChangesFocus();
    return false;
}

} // namespace

KeyboardReach::KeyboardReach(QWidget *control, std::function<void()> press)
    : QObject(control), m_press(std::move(press))
{
}

KeyboardReach *KeyboardReach::install(QWidget *control, std::function<void()> press)
{
    KeyboardNavigation::instance();
    auto *reach = new KeyboardReach(control, std::move(press));
    control->setFocusPolicy(Qt::TabFocus);
    control->setAttribute(Qt::WA_MacShowFocusRect, false);
    control->installEventFilter(reach);
    return reach;
}

void KeyboardReach::installOnEditor(QWidget *editor)
{
    const Qt::FocusPolicy policy = editor->focusPolicy();
    install(editor, {})->m_editor = true;
    editor->setFocusPolicy(policy);
}

void KeyboardReach::setReachable(QWidget *control, bool reachable)
{
    control->setFocusPolicy(reachable ? Qt::TabFocus : Qt::NoFocus);
}

bool KeyboardReach::isActivationKey(const QKeyEvent *event)
{
    if (event->isAutoRepeat() || (event->modifiers() & ~Qt::KeypadModifier))
        return false;
    const int key = event->key();
    return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Select;
}

QColor KeyboardReach::ringColor(const Palette &palette)
{
    // Apart from the window's ground and from the pastel indigo a primary button is filled with: a deep
    // indigo on white, near white on the dark ground.
    return palette.isDark ? QColor(0xF0, 0xF0, 0xFF) : QColor(0x3B, 0x3B, 0xB5);
}

void KeyboardReach::paintRingOverChildren(QWidget *control, qreal radius)
{
    new RingOverlay(control, radius, control);
}

void KeyboardReach::ringFrameOfEditor(QWidget *frame, QWidget *editor, qreal radius)
{
    installOnEditor(editor);
    new RingOverlay(frame, radius, editor);
}

void KeyboardReach::ringOutside(QWidget *control, int room, qreal radius)
{
    new HaloKeeper(control, room, radius);
}

void KeyboardReach::confirmFocus(QWidget *control)
{
    auto *reach = control->findChild<KeyboardReach *>(QString(), Qt::FindDirectChildrenOnly);
    if (!reach || !control->hasFocus() || reach->m_userFocus)
        return;
    reach->m_userFocus = true;
    control->update();
}

bool KeyboardReach::showsRing(const QWidget *control)
{
    if (!control->hasFocus())
        return false;
    const auto *reach = control->findChild<KeyboardReach *>(QString(), Qt::FindDirectChildrenOnly);
    return !reach || reach->m_userFocus;
}

void KeyboardReach::paintRing(QPainter &painter, const QWidget *control, const QRectF &outline, qreal radius)
{
    if (!showsRing(control))
        return;
    const Palette palette = Palette::of(control);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(1);
    painter.setBrush(Qt::NoBrush);
    const qreal ringInset = RingWidth / 2;
    painter.setPen(QPen(palette.background, GapWidth));
    const qreal gapInset = RingWidth + GapWidth / 2;
    painter.drawPath(roundedRectPath(outline.adjusted(gapInset, gapInset, -gapInset, -gapInset),
                                     qMax<qreal>(0, radius - gapInset)));
    painter.setPen(QPen(ringColor(palette), RingWidth));
    painter.drawPath(roundedRectPath(outline.adjusted(ringInset, ringInset, -ringInset, -ringInset),
                                     qMax<qreal>(0, radius - ringInset)));
    painter.restore();
}

bool KeyboardReach::eventFilter(QObject *watched, QEvent *event)
{
    auto *control = static_cast<QWidget *>(watched);
    switch (event->type()) {
    case QEvent::FocusIn:
    case QEvent::FocusOut: {
        // Leaving for another window or a popup keeps the ring for the return; any other move ends it.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            m_userFocus = event->type() == QEvent::FocusIn && reason != Qt::MouseFocusReason
                          && KeyboardNavigation::instance().tabbing();
        control->update();
        break;
    }
    case QEvent::KeyPress: {
        const auto *key = static_cast<QKeyEvent *>(event);
        // Tab in a window whose one stop is this control leaves the focus here, now the user's; where the
        // focus does move on, its leaving ends this again. An editor may take Tab as text.
        if (!m_userFocus && !(m_editor && typesTab(control))
            && (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)
            && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
            m_userFocus = true;
            control->update();
            // The ring may be painted round the control, by the box round an editor or on the parent.
            if (control->parentWidget())
                control->parentWidget()->update();
        }
        if (m_userFocus && m_press && isActivationKey(key)) {
            // The press may close the control's sheet; nothing of this object is touched after it.
            const auto press = m_press;
            press();
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
