// Import summary wording.
#include "engine/import_summary_logic.h"

#include "platform/strict_utf8.h"

#include "engine/records/error_reply.h"

QString groupedCount(qint64 count)
{
    QString digits = QString::number(count < 0 ? -count : count);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QLatin1Char(','));
    return count < 0 ? QLatin1Char('-') + digits : digits;
}

QString partialImportSummary(qint64 imported, qint64 leftOut, qint64 routeLimit, const QString &items,
                             const QString &destination)
{
    return QStringLiteral("Imported ") + groupedCount(imported) + QStringLiteral(" of ")
           + groupedCount(imported + leftOut) + QLatin1Char(' ') + items + destination
           + QStringLiteral(": the rest are past the ") + groupedCount(routeLimit)
           + QStringLiteral("-route limit of a project");
}

bool isSuccessfulImportSummary(const QString &summary)
{
    return summary.startsWith(QStringLiteral("Imported"), Qt::CaseSensitive)
           && !summary.startsWith(QStringLiteral("Imported 0 "), Qt::CaseSensitive);
}

std::optional<QString> engineErrorText(const QByteArray &body)
{
    if (const auto reply = decodeRecord<ErrorReply>(std::string_view(body.constData(), body.size())))
        return strictUtf8(QByteArrayView(reply->error.data(), static_cast<qsizetype>(reply->error.size())));
    return strictUtf8(body);
}
