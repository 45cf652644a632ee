// The inspector's response body section.
#include "screens/routes/response_section.h"

#include "design/card_surface.h"
#include "design/code_text_view.h"
#include "design/copy_button.h"
#include "design/exact_plain_text_edit.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/keyboard_reach.h"
#include "design/ks_button.h"
#include "design/line_ends.h"
#include "design/palette.h"
#include "design/shell_widgets.h"
#include "design/snow_dropdown.h"
#include "design/snow_input.h"
#include "design/snow_stepper.h"
#include "design/snow_text_field.h"
#include "design/symbols.h"
#include "engine/engine_client.h"
#include "platform/background_work.h"
#include "screens/routes/json_body_view.h"
#include "screens/routes/inspector_logic.h"
#include "screens/routes/inspector_model.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QPainter>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <memory>

namespace {

constexpr qreal PanelRadius = 12;

ColorRole muted()
{
    return [](const Palette &p) { return p.mutedForeground; };
}

ColorRole faint()
{
    return [](const Palette &p) { return p.faint; };
}

// The editor goes over every block of its document when it takes it and at every change of its width, each
// time on the window's thread: a long body's lines are kept in blocks of many lines, joined by line
// separators, which the editor shows and edits as line breaks and reads back as line feeds.
QString groupLines(const QString &body)
{
    constexpr int LinesPerBlock = 32;
    QString grouped = body;
    int lines = 0;
    for (qsizetype i = 0; i < grouped.size(); ++i) {
        // A carriage return before the line feed is a line end of its own to the editor.
        if (grouped[i] == QLatin1Char('\n') && (i == 0 || grouped[i - 1] != QLatin1Char('\r'))
            && ++lines % LinesPerBlock != 0)
            grouped[i] = QChar::LineSeparator;
    }
    return grouped;
}

} // namespace

// ---- ResponseSection ----

bool ResponseSection::needsLineEditor(const QString &text)
{
    return text.size() > LongBodyLimit || hasLineLongerThan(text, LongLineLimit);
}

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
    m_copy = new CopyButton(QString(), 12, this);
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
    auto *panel = new PanelStyle(PanelRadius, this);
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
    m_contentBox = new QWidget(panel);
    auto *content = new QVBoxLayout(m_contentBox);
    content->setContentsMargins(12, 12, 12, 12);
    content->setSpacing(0);
    m_empty = new ShellText(QStringLiteral("(empty response)"), Fonts::ksCode(), faint(), m_contentBox);
    content->addWidget(m_empty);
    m_view = new JsonBodyView(m_contentBox);
    content->addWidget(m_view);
    panelColumn->addWidget(m_contentBox);
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
    // A long body goes into its view on the next turn of the event loop: building the inspector and taking
    // in the body are then two short waits of the window rather than one long one.
    m_bodyPending = model->bodyBytes() > LongBodyLimit;
    if (m_bodyPending) {
        m_generate->setToolTip(InspectorLogic::generateTooltip(false));
        showContent();
    } else {
        showBody();
    }
    showTools();
    showVariables();
    if (m_bodyPending)
        takeLongBody();
}

void ResponseSection::takeLongBody()
{
    // The text and its line table are worked out on a worker from a copy of the body; the view takes them a
    // turn after the inspector was built (a real timer: one of 0 ms is a posted call, run with the first
    // layout and painting of the inspector).
    struct Prepared
    {
        QString text;
        CodeTextView::Lines lines;
    };
    QTimer::singleShot(1, this, [this] {
        BackgroundWork::run(
            this,
            [utf8 = m_model->sharedBodyUtf8()] {
                Prepared prepared{QString::fromStdString(*utf8), {}};
                prepared.lines = CodeTextView::linesOf(prepared.text);
                return prepared;
            },
            [this, version = m_model->bodyVersion()](Prepared prepared) {
                m_model->adoptDecodedBody(version, prepared.text);
                m_bodyPending = false;
                // The same version decodes to the same text: only an older one need be compared.
                const bool current = version == m_model->bodyVersion() || m_model->bodyText() == prepared.text;
                if (current && !m_model->editing()) {
                    m_long = true;
                    showLongView()->setText(prepared.text, std::move(prepared.lines));
                }
                showBody();
            });
    });
}

ExactPlainTextEdit *ResponseSection::ensureEditor()
{
    if (m_editor)
        return m_editor;
    m_editor = new ExactPlainTextEdit(m_contentBox);
    m_editor->setFont(Fonts::ksCode());
    m_editor->setMinimumHeight(EditorMinHeight);
    // Never the room a long body's view leaves behind for a moment: every line in view of an editor that tall
    // would be laid out, which takes seconds.
    m_editor->setMaximumHeight(EditorMaxHeight);
    m_editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editor->document()->setDocumentMargin(0);
    m_editor->setReadOnly(m_model->generating());
    m_editor->hide();
    useThinScrollBars(m_editor);
    SnowInputLook::styleEditor(m_editor, Palette::of(this));
    // The panel is the editor's box: Tab's focus rings it, title row and all.
    KeyboardReach::ringFrameOfEditor(m_contentBox->parentWidget(), m_editor, PanelRadius);
    static_cast<QVBoxLayout *>(m_contentBox->layout())->insertWidget(0, m_editor);
    connect(m_editor, &ExactPlainTextEdit::exactTextEdited, this, [this] { m_model->setBodyText(m_editor->exactText()); });
    // A long paste would be laid out whole, for seconds, and at every key after it.
    m_editor->setPasteHandOver(&ResponseSection::needsLineEditor);
    connect(m_editor, &ExactPlainTextEdit::pasteHandedOver, this, &ResponseSection::pasteByLine);
    return m_editor;
}

CodeTextView *ResponseSection::ensureLineEditor()
{
    if (m_lineEditor)
        return m_lineEditor;
    m_lineEditor = new CodeTextView(Fonts::ksCode(), [](const Palette &p) { return p.foreground; }, false, m_contentBox);
    m_lineEditor->setEditable(!m_model->generating());
    m_lineEditor->setVisibleLines(int(std::ceil(EditorMinHeight / QFontMetricsF(Fonts::ksCode()).lineSpacing())), 0);
    m_lineEditor->hide();
    KeyboardReach::ringFrameOfEditor(m_contentBox->parentWidget(), m_lineEditor, PanelRadius);
    static_cast<QVBoxLayout *>(m_contentBox->layout())->insertWidget(0, m_lineEditor);
    connect(m_lineEditor, &CodeTextView::textEdited, this, [this] { m_model->setBodyText(m_lineEditor->text()); });
    return m_lineEditor;
}

void ResponseSection::fillEditor(const QString &body)
{
    ++m_editorLoad; // a document still being built for an older text is dropped when it arrives
    m_editorLoading = false;
    m_editorStale = false;
    m_lineEditing = hasLineLongerThan(body, LongLineLimit);
    if (m_lineEditing) {
        // Exact text, laid out only where it is in view; the cursor stays where it was.
        ensureLineEditor()->setText(body);
        if (m_editor)
            m_editor->setExactText({});
        return;
    }
    if (m_lineEditor)
        m_lineEditor->setText({}); // lets go of its copy
    ensureEditor();
    const QString held = m_editor->exactText();
    // An appended variable goes in at the end without moving the user's cursor.
    if (body.size() <= LongBodyLimit || (!held.isEmpty() && body.startsWith(held))) {
        m_editor->setExactText(body);
        return;
    }
    // A long body's document takes most of a second to build: it is built on a worker, and the read-only view
    // stays on show until it is handed over.
    m_editorLoading = true;
    const int load = m_editorLoad;
    QThread *gui = thread();
    BackgroundWork::run(
        this,
        [body, gui, font = m_editor->font()] {
            auto document = std::make_unique<QTextDocument>();
            document->setDocumentMargin(0);
            document->setDefaultFont(font);
            document->setPlainText(groupLines(LineEnds::split(body).first));
            document->setDocumentLayout(new QPlainTextDocumentLayout(document.get()));
            // Each block's layout object is made here, or the editor would make them all as it takes over.
            for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
                block.layout();
            document->moveToThread(gui);
            return document;
        },
        [this, load, body](std::unique_ptr<QTextDocument> built) {
            if (load != m_editorLoad)
                return;
            QTextDocument *document = built.release();
            document->setParent(m_editor);
            // The editor lays out every line again at its width: at the width it will be shown at, so only once.
            m_editor->resize(m_contentBox->layout()->contentsRect().width(), m_editor->height());
            m_editor->adoptDocument(document, body);
            // Shown on the next turn of the event loop, so taking the document and painting it are two short
            // waits rather than one long one.
            QTimer::singleShot(0, this, [this, load] {
                if (load != m_editorLoad)
                    return;
                m_editorLoading = false;
                showContent();
            });
        });
}

void ResponseSection::pasteByLine(qsizetype from, qsizetype to, const QString &text)
{
    CodeTextView *lineEditor = ensureLineEditor();
    lineEditor->setText(m_editor->exactText());
    m_lineEditing = true;
    m_editor->setExactText({});
    showContent();
    lineEditor->setCursorPosition(from);
    lineEditor->setCursorPosition(to, true);
    lineEditor->setFocus();
    // Made as a paste of the line editor's own, so that undo takes it back.
    lineEditor->insertText(text);
}

QString ResponseSection::editorBody() const
{
    if (m_lineEditing)
        return m_lineEditor->text();
    return m_editor ? m_editor->exactText() : QString();
}

bool ResponseSection::bodyShown() const
{
    if (m_model->editing())
        return m_lineEditing ? m_lineEditor->isVisible() : m_editor && m_editor->isVisible();
    if (m_model->bodyEmpty())
        return m_empty->isVisible();
    return m_long ? m_longView->isVisible() && m_longView->colored() : m_view->isVisible();
}

void ResponseSection::showReadOnly(const QString &body)
{
    if (m_bodyPending)
        return;
    m_long = body.size() > LongBodyLimit || hasLineLongerThan(body, LongLineLimit);
    if (m_long)
        showLongView();
    // The view not in use lets go of its copy.
    if (m_long) {
        m_view->setBody({});
        m_longView->setText(body);
    } else {
        if (m_longView)
            m_longView->setText({});
        m_view->setBody(body);
    }
}

CodeTextView *ResponseSection::showLongView()
{
    if (!m_longView) {
        m_longView = new CodeTextView(Fonts::ksCode(), [](const Palette &p) { return p.foreground; }, true, m_contentBox);
        m_longView->hide();
        m_contentBox->layout()->addWidget(m_longView);
    }
    return m_longView;
}

void ResponseSection::showReadOnlyViews(bool shown)
{
    m_view->setVisible(shown && !m_long);
    if (m_longView)
        m_longView->setVisible(shown && m_long);
}

void ResponseSection::showBody()
{
    const QString &body = m_model->bodyText();
    m_copy->setText(body);
    // A hidden editor is filled again only when it is next opened.
    if ((m_editor || m_lineEditor) && editorBody() != body) {
        if (m_model->editing())
            fillEditor(body);
        else
            m_editorStale = true;
    }
    if (!m_model->editing() || m_editorLoading)
        showReadOnly(body);
    const bool empty = body.isEmpty();
    m_generate->setDisabled(empty);
    m_generate->setToolTip(InspectorLogic::generateTooltip(empty));
    showContent();
}

void ResponseSection::showContent()
{
    // One of three: the editor, the empty note, the coloured body; the last also while a long body's editor is
    // being filled.
    const bool editing = m_model->editing();
    if (editing && ((!m_editor && !m_lineEditor) || m_editorStale))
        fillEditor(m_model->bodyText());
    const bool editorShown = editing && !m_editorLoading;
    const bool empty = m_model->bodyEmpty();
    if (m_editor)
        m_editor->setVisible(editorShown && !m_lineEditing);
    if (m_lineEditor)
        m_lineEditor->setVisible(editorShown && m_lineEditing);
    m_empty->setVisible(!editorShown && empty);
    showReadOnlyViews(!editorShown && !empty && !m_bodyPending);
}

void ResponseSection::showTools()
{
    const bool editing = m_model->editing();
    m_editToggle->setTitle(editing ? QStringLiteral("Done") : QStringLiteral("Edit"));
    m_modeText->setText(editing ? QStringLiteral("editing") : QStringLiteral("editable"));
    if (!editing && !m_bodyPending)
        showReadOnly(m_model->bodyText());
    showContent();
    const bool generating = m_model->generating();
    // Typing during a generation would be overwritten by its answer.
    if (m_editor)
        m_editor->setReadOnly(generating);
    if (m_lineEditor)
        m_lineEditor->setEditable(!generating);
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
