// Line ends kept across edits of a body.
#include "design/line_ends.h"

#include <QStringView>

#include <algorithm>

bool hasLineLongerThan(const QString &text, qsizetype limit)
{
    qsizetype from = 0;
    for (qsizetype feed = text.indexOf(QLatin1Char('\n')); feed >= 0; feed = text.indexOf(QLatin1Char('\n'), from)) {
        if (feed - from > limit)
            return true;
        from = feed + 1;
    }
    return text.size() - from > limit;
}

std::pair<QString, LineEnds> LineEnds::split(const QString &body)
{
    LineEnds ends;
    if (!body.contains(QLatin1Char('\r')))
        return {body, ends}; // shared, not copied
    QString text;
    text.reserve(body.size());
    for (qsizetype i = 0; i < body.size(); ++i) {
        const QChar c = body[i];
        if (c == QLatin1Char('\r')) {
            const bool pair = i + 1 < body.size() && body[i + 1] == QLatin1Char('\n');
            ends.m_ends.push_back(pair ? End::crlf : End::cr);
            ++ends.m_notLf;
            i += pair ? 1 : 0;
            text.append(QLatin1Char('\n'));
        } else {
            if (c == QLatin1Char('\n'))
                ends.m_ends.push_back(End::lf);
            text.append(c);
        }
    }
    return {text, ends};
}

void LineEnds::edit(const QString &before, qsizetype position, qsizetype removed, const QString &inserted)
{
    if (m_ends.empty())
        return; // every end a line feed, and so every new one
    const QStringView view(before);
    const auto first = std::size_t(view.first(position).count(QLatin1Char('\n')));
    const auto gone = std::size_t(view.sliced(position, removed).count(QLatin1Char('\n')));
    const auto added = std::size_t(QStringView(inserted).count(QLatin1Char('\n')));
    // The line the edit is in ends where its last removed line ended; the last line, which has no end, takes
    // the end of the line before it.
    const End kind = first + gone < m_ends.size() ? m_ends[first + gone] : first > 0 ? m_ends[first - 1] : End::lf;
    const auto from = m_ends.begin() + std::ptrdiff_t(first);
    m_notLf -= std::count_if(from, from + std::ptrdiff_t(gone), [](End e) { return e != End::lf; });
    m_ends.erase(from, from + std::ptrdiff_t(gone));
    m_ends.insert(m_ends.begin() + std::ptrdiff_t(first), added, kind);
    if (kind != End::lf)
        m_notLf += qsizetype(added);
}

void LineEnds::spellOut(const QString &text)
{
    if (m_ends.empty())
        m_ends.assign(std::size_t(text.count(QLatin1Char('\n'))), End::lf);
}

void LineEnds::edit(const QString &before, qsizetype position, qsizetype removed, const QString &inserted,
                    const LineEnds &insertedEnds)
{
    if (m_ends.empty() && insertedEnds.m_notLf == 0)
        return; // line feeds in, line feeds out
    spellOut(before);
    const QStringView view(before);
    const auto first = std::ptrdiff_t(view.first(position).count(QLatin1Char('\n')));
    const auto gone = std::ptrdiff_t(view.sliced(position, removed).count(QLatin1Char('\n')));
    const auto from = m_ends.begin() + first;
    m_notLf -= std::count_if(from, from + gone, [](End e) { return e != End::lf; });
    m_ends.erase(from, from + gone);
    if (insertedEnds.m_ends.empty())
        m_ends.insert(m_ends.begin() + first, std::size_t(inserted.count(QLatin1Char('\n'))), End::lf);
    else
        m_ends.insert(m_ends.begin() + first, insertedEnds.m_ends.cbegin(), insertedEnds.m_ends.cend());
    m_notLf += insertedEnds.m_notLf;
}

LineEnds LineEnds::slice(const QString &editorText, qsizetype position, qsizetype length) const
{
    LineEnds part;
    if (m_notLf == 0)
        return part;
    const QStringView view(editorText);
    const auto first = std::ptrdiff_t(view.first(position).count(QLatin1Char('\n')));
    const auto count = std::ptrdiff_t(view.sliced(position, length).count(QLatin1Char('\n')));
    part.m_ends.assign(m_ends.begin() + first, m_ends.begin() + first + count);
    part.m_notLf = std::count_if(part.m_ends.cbegin(), part.m_ends.cend(), [](End e) { return e != End::lf; });
    return part;
}

qsizetype LineEnds::bodyPosition(const QString &editorText, qsizetype position) const
{
    if (m_notLf == 0)
        return position;
    const auto lines = std::ptrdiff_t(QStringView(editorText).first(position).count(QLatin1Char('\n')));
    return position + std::count(m_ends.cbegin(), m_ends.cbegin() + lines, End::crlf);
}

QString LineEnds::join(const QString &editorText) const
{
    return join(editorText, 0, editorText.size());
}

QString LineEnds::join(const QString &editorText, qsizetype position, qsizetype length) const
{
    if (m_notLf == 0)
        return position == 0 && length == editorText.size() ? editorText : editorText.mid(position, length);
    const qsizetype end = position + length;
    QString body;
    body.reserve(length + m_notLf);
    auto line = std::size_t(QStringView(editorText).first(position).count(QLatin1Char('\n')));
    qsizetype from = position;
    for (qsizetype feed = editorText.indexOf(QLatin1Char('\n'), from); feed >= 0 && feed < end;
         feed = editorText.indexOf(QLatin1Char('\n'), from)) {
        body.append(QStringView(editorText).sliced(from, feed - from));
        const End kind = line < m_ends.size() ? m_ends[line] : End::lf;
        body.append(kind == End::crlf ? QStringLiteral("\r\n") : kind == End::cr ? QStringLiteral("\r") : QStringLiteral("\n"));
        ++line;
        from = feed + 1;
    }
    body.append(QStringView(editorText).sliced(from, end - from));
    return body;
}
