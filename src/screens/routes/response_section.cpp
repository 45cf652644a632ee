// The inspector's response body section.
#include "screens/routes/response_section.h"

#include "design/card_surface.h"
#include "design/copy_button.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/json_highlighter.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/shell_widgets.h"
#include "design/snow_dropdown.h"
#include "design/snow_input.h"
#include "design/snow_stepper.h"
#include "design/snow_text_field.h"
#include "design/symbols.h"
#include "engine/engine_client.h"
#include "screens/routes/inspector_logic.h"
#include "screens/routes/inspector_model.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

namespace {

ColorRole muted()
{
    return [](const Palette &p) { return p.mutedForeground; };
}

ColorRole faint()
{
    return [](const Palette &p) { return p.faint; };
}

} // namespace

// ---- JsonBodyView ----

JsonBodyView::JsonBodyView(QWidget *parent) : QTextEdit(parent)
{
    setReadOnly(true);
    // Read-only: a keyboard caret would make typing look as if it went somewhere.
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setFont(Fonts::ksCode());
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    document()->setDocumentMargin(0);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_highlighter = new JSONSyntaxHighlighter(document(), Palette::of(this).isDark);
    SnowInputLook::styleEditor(this, Palette::of(this));
}

void JsonBodyView::setBody(const QString &body)
{
    if (toPlainText() == body)
        return;
    setPlainText(body);
    fitHeight();
}

QString JsonBodyView::selectedText() const
{
    return textCursor().selectedText();
}

bool JsonBodyView::event(QEvent *event)
{
    if (event->type() == PaletteHost::changedEventType() || event->type() == QEvent::ParentChange
        || event->type() == QEvent::Show) {
        const Palette palette = Palette::of(this);
        SnowInputLook::styleEditor(this, palette);
        if (m_highlighter->dark() != palette.isDark)
            m_highlighter->setDark(palette.isDark);
    }
    return QTextEdit::event(event);
}

void JsonBodyView::resizeEvent(QResizeEvent *event)
{
    QTextEdit::resizeEvent(event);
    fitHeight();
}

void JsonBodyView::fitHeight()
{
    document()->setTextWidth(viewport()->width());
    const int height = int(std::ceil(document()->size().height())) + 2;
    if (height != this->height())
        setFixedHeight(height);
}

// ---- ResponseSection ----

ResponseSection::ResponseSection(InspectorModel *model, EngineClient *engine, QWidget *parent)
    : QWidget(parent), m_model(model), m_engine(engine)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);

    // Header row: title, Edit/Done, copy, variables.
    auto *header = new QHBoxLayout;
    header->setSpacing(4);
    header->addWidget(new ShellText(QStringLiteral("Response body"), Fonts::inter(11, QFont::Medium), muted(), this));
    header->addStretch(1);
    m_editToggle = new KSButton(QStringLiteral("Edit"), {}, KSButton::Variant::text, KSButton::Size::sm, false, false,
                                false, [this] { m_model->setEditing(!m_model->editing()); }, this);
    header->addWidget(m_editToggle);
    m_copy = new CopyButton(model->bodyText(), 12, this);
    header->addWidget(m_copy);
    m_variables = new SnowDropdown(this);
    m_variables->setFixedSize(24, 24);
    m_variables->setMenuWidth(180);
    m_variables->setToolTip(QStringLiteral("Insert an environment variable"));
    m_variables->setLabelPainter([](QPainter &p, const QRectF &rect, bool, const Palette &palette) {
        Symbols::draw(p, rect, QStringLiteral("curlybraces"), 11, palette.isDark ? Palette::indigo() : QColor(Qt::black));
    });
    m_variables->setItemsProvider([this] {
        QList<SnowMenuItem> items;
        for (const EnvVar &var : m_engine->activeEnvVars()) {
            const QString key = QString::fromStdString(var.key);
            items.append(SnowMenuItem::entry(key, QStringLiteral("curlybraces"), [model = m_model, key] {
                model->insertVariable(key);
            }));
        }
        return items;
    });
    header->addWidget(m_variables);
    column->addLayout(header);

    // Generate row.
    auto *generateRow = new QHBoxLayout;
    generateRow->setSpacing(8);
    m_generate = new KSButton(QStringLiteral("Generate"), QStringLiteral("sparkles"), KSButton::Variant::violet,
                              KSButton::Size::sm, false, false, false, [this] { m_model->generate(); }, this);
    generateRow->addWidget(m_generate);
    generateRow->addStretch(1);
    m_stepper = new SnowStepper(this);
    m_stepper->setRange(InspectorModel::GenCountMin, InspectorModel::GenCountMax);
    m_stepper->setLabel(QStringLiteral("Arrays"));
    connect(m_stepper, &SnowStepper::valueEdited, this, [this](qint64 value) { m_model->setGenCount(int(value)); });
    generateRow->addWidget(m_stepper);
    column->addLayout(generateRow);

    // Prompt rows.
    auto *promptRow = new QHBoxLayout;
    promptRow->setSpacing(8);
    m_prompt = new SnowTextField(this);
    m_prompt->setIcon(QStringLiteral("sparkles"));
    m_prompt->setBoxHeight(28);
    m_prompt->setPlaceholder(QStringLiteral("Describe data — \"a user with 5 friends\""));
    connect(m_prompt, &SnowTextField::textEdited, this, [this](const QString &text) { m_model->setAiPrompt(text); });
    connect(m_prompt, &SnowTextField::submitted, this, [this] { m_model->aiGenerate(); });
    promptRow->addWidget(m_prompt, 1);
    m_ai = new KSButton(QStringLiteral("AI"), {}, KSButton::Variant::violet, KSButton::Size::sm, false, false, false,
                        [this] { m_model->aiGenerate(); }, this);
    promptRow->addWidget(m_ai);
    column->addLayout(promptRow);

    m_resultLine = new QWidget(this);
    auto *resultRow = new QHBoxLayout(m_resultLine);
    resultRow->setContentsMargins(0, 0, 0, 0);
    resultRow->setSpacing(4);
    const auto tierInk = [this](const Palette &p) {
        return InspectorLogic::tierColor(m_model->aiTier().value_or(QString()), p);
    };
    m_resultMark = new SymbolLabel(QStringLiteral("checkmark"), 10, tierInk, m_resultLine);
    resultRow->addWidget(m_resultMark);
    m_resultText = new ShellText({}, Fonts::inter(11), tierInk, m_resultLine);
    resultRow->addWidget(m_resultText);
    resultRow->addStretch(1);
    column->addWidget(m_resultLine);

    // Editor panel.
    auto *panel = new PanelStyle(12, this);
    auto *panelColumn = new QVBoxLayout(panel);
    panelColumn->setContentsMargins(0, 0, 0, 0);
    panelColumn->setSpacing(0);
    auto *panelHeader = new QHBoxLayout;
    panelHeader->setContentsMargins(12, 8, 12, 8);
    panelHeader->addWidget(new ShellText(QStringLiteral("JSON"), Fonts::inter(11, QFont::Medium), muted(), panel));
    panelHeader->addStretch(1);
    m_modeText = new ShellText(QStringLiteral("editable"), Fonts::inter(11), faint(), panel);
    panelHeader->addWidget(m_modeText);
    panelColumn->addLayout(panelHeader);
    panelColumn->addWidget(new SnowDivider(false, 0, panel));
    auto *contentBox = new QWidget(panel);
    auto *content = new QVBoxLayout(contentBox);
    content->setContentsMargins(12, 12, 12, 12);
    content->setSpacing(0);
    m_editor = new QPlainTextEdit(contentBox);
    m_editor->setFont(Fonts::ksCode());
    m_editor->setMinimumHeight(EditorMinHeight);
    m_editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editor->document()->setDocumentMargin(0);
    useThinScrollBars(m_editor);
    SnowInputLook::styleEditor(m_editor, Palette::of(this));
    connect(m_editor, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_filling)
            m_model->setBodyText(m_editor->toPlainText());
    });
    content->addWidget(m_editor);
    m_empty = new ShellText(QStringLiteral("(empty response)"), Fonts::ksCode(), faint(), contentBox);
    content->addWidget(m_empty);
    m_view = new JsonBodyView(contentBox);
    content->addWidget(m_view);
    panelColumn->addWidget(contentBox);
    column->addWidget(panel);

    m_variablesNote = new ShellText(
        QStringLiteral("{{variables}} are substituted with the active environment when this mock is served."),
        Fonts::inter(11), muted(), this);
    m_variablesNote->setWrap(true);
    column->addWidget(m_variablesNote);

    connect(model, &InspectorModel::fieldChanged, this, [this](InspectorModel::Field field) {
        if (field == InspectorModel::Field::body)
            showBody();
    });
    connect(model, &InspectorModel::toolsChanged, this, &ResponseSection::showTools);
    connect(engine, &EngineClient::environmentsChanged, this, &ResponseSection::showVariables);
    connect(engine, &EngineClient::activeEnvIDChanged, this, &ResponseSection::showVariables);
    showBody();
    showTools();
    showVariables();
}

void ResponseSection::showBody()
{
    const QString &body = m_model->bodyText();
    m_copy->setText(body);
    if (m_editor->toPlainText() != body) {
        m_filling = true;
        const QString shown = m_editor->toPlainText();
        if (!shown.isEmpty() && body.startsWith(shown)) {
            // An appended variable goes in at the end without moving the user's cursor.
            QTextCursor end(m_editor->document());
            end.movePosition(QTextCursor::End);
            end.insertText(body.mid(shown.size()));
        } else {
            m_editor->setPlainText(body);
        }
        m_filling = false;
    }
    if (!m_model->editing())
        m_view->setBody(body);
    const bool empty = body.isEmpty();
    m_generate->setDisabled(empty);
    m_generate->setToolTip(InspectorLogic::generateTooltip(empty));
    if (!m_model->editing())
        showContent();
}

void ResponseSection::showContent()
{
    // One of three: the editor, the empty note, the coloured body.
    const bool editing = m_model->editing();
    const bool empty = m_model->bodyText().isEmpty();
    m_editor->setVisible(editing);
    m_empty->setVisible(!editing && empty);
    m_view->setVisible(!editing && !empty);
}

void ResponseSection::showTools()
{
    const bool editing = m_model->editing();
    m_editToggle->setTitle(editing ? QStringLiteral("Done") : QStringLiteral("Edit"));
    m_modeText->setText(editing ? QStringLiteral("editing") : QStringLiteral("editable"));
    if (!editing)
        m_view->setBody(m_model->bodyText());
    showContent();
    const bool generating = m_model->generating();
    // Typing during a generation would be overwritten by its answer.
    m_editor->setReadOnly(generating);
    m_generate->setLoading(generating);
    m_ai->setLoading(generating);
    m_ai->setDisabled(m_model->aiPrompt().isEmpty());
    m_variables->setEnabled(!generating);
    if (m_stepper->value() != m_model->genCount())
        m_stepper->setValue(m_model->genCount());
    if (m_prompt->text() != m_model->aiPrompt())
        m_prompt->setText(m_model->aiPrompt());
    const std::optional<QString> &tier = m_model->aiTier();
    m_resultLine->setVisible(tier.has_value());
    if (tier)
        m_resultText->setText(InspectorLogic::tierText(*tier));
    m_resultLine->update();
}

void ResponseSection::showVariables()
{
    const bool any = !m_engine->activeEnvVars().isEmpty();
    m_variables->setVisible(any);
    m_variablesNote->setVisible(any);
}
