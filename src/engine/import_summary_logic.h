// The words of import summaries: how much of a file came in, and why the rest did not.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// "7,200": counts in a summary are grouped by thousands with commas, whatever the user's locale.
QString groupedCount(qint64 count);

// "Imported 5,000 of 7,200 requests: the rest are past the 5,000-route limit of a project", for a file
// that did not fit whole; `items` names what the file holds ("requests", "operations", "routes") and
// `destination` (" into Shop API", or empty) where they went.
QString partialImportSummary(qint64 imported, qint64 leftOut, qint64 routeLimit, const QString &items,
                             const QString &destination = {});

// The tone of a summary: a success when it says "Imported" (exact prefix) and something was; "Imported 0 of
// 15,000 requests: …" says nothing came in, which is no success.
bool isSuccessfulImportSummary(const QString &summary);

// The message of an engine's error answer ({"error": "..."}), or the answer itself when it is not one;
// nothing when it is not UTF-8 text.
std::optional<QString> engineErrorText(const QByteArray &body);
