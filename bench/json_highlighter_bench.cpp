// How long JSON colouring takes on large bodies, alone and in a text view.
#include "bench_support.h"

#include "design/json_highlighter.h"

#include <QPlainTextEdit>
#include <QString>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <benchmark/benchmark.h>

namespace {

// A realistic API body of at least `bytes` characters: an array of user records.
QString makeBody(qsizetype bytes)
{
    QString body = QStringLiteral("{\n  \"users\": [\n");
    int i = 0;
    while (body.size() < bytes) {
        body += QStringLiteral("    {\"id\": \"usr_%1\", \"name\": \"Ada Lovelace\", \"age\": %2, \"score\": -%3.25e2, "
                               "\"active\": %4, \"manager\": null, \"tags\": [\"admin\", \"beta\"]},\n")
                    .arg(i)
                    .arg(20 + i % 50)
                    .arg(i % 1000)
                    .arg(i % 2 ? QStringLiteral("true") : QStringLiteral("false"));
        ++i;
    }
    body += QStringLiteral("    {}\n  ],\n  \"total\": 24\n}\n");
    return body;
}

void BM_Attributed1MB(benchmark::State &state)
{
    const QString body = makeBody(1024 * 1024);
    for (auto _ : state) {
        ColoredText colored = JSONHighlighter::attributed(body, state.range(0) != 0);
        benchmark::DoNotOptimize(colored.runs.data());
    }
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_Attributed1MB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Attributed2MB(benchmark::State &state)
{
    const QString body = makeBody(2 * 1024 * 1024);
    for (auto _ : state) {
        ColoredText colored = JSONHighlighter::attributed(body, true);
        benchmark::DoNotOptimize(colored.runs.data());
    }
}
BENCHMARK(BM_Attributed2MB)->Unit(benchmark::kMillisecond);

void BM_Attributed10MB(benchmark::State &state)
{
    const QString body = makeBody(10 * 1024 * 1024);
    for (auto _ : state) {
        ColoredText colored = JSONHighlighter::attributed(body, true);
        benchmark::DoNotOptimize(colored.runs.data());
    }
}
BENCHMARK(BM_Attributed10MB)->Unit(benchmark::kMillisecond);

void BM_VisiblePartOf10MB(benchmark::State &state)
{
    // The first look at a long body: the part in view, before the whole pass above.
    const QString body = makeBody(10 * 1024 * 1024);
    const qsizetype from = body.indexOf(QLatin1Char('\n'), body.size() / 2) + 1;
    for (auto _ : state) {
        QList<ColoredRun> runs = JSONHighlighter::runs(body, from, from + 64 * 1024, true);
        benchmark::DoNotOptimize(runs.data());
    }
}
BENCHMARK(BM_VisiblePartOf10MB)->Unit(benchmark::kMillisecond);

void BM_PlainTextEdit1MB(benchmark::State &state)
{
    // What showing the body costs without colouring, for comparison with the next one.
    const QString body = makeBody(1024 * 1024);
    for (auto _ : state) {
        QPlainTextEdit view;
        view.setPlainText(body);
        benchmark::DoNotOptimize(view.document()->characterCount());
    }
}
BENCHMARK(BM_PlainTextEdit1MB)->Unit(benchmark::kMillisecond);

void BM_PlainTextEditColoured1MB(benchmark::State &state)
{
    const QString body = makeBody(1024 * 1024);
    for (auto _ : state) {
        QPlainTextEdit view;
        view.setPlainText(body);
        JSONSyntaxHighlighter highlighter(view.document(), true);
        benchmark::DoNotOptimize(view.document()->lastBlock().layout()->formats().size());
    }
}
BENCHMARK(BM_PlainTextEditColoured1MB)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return benchsupport::runWidgetBenchmarks(argc, argv);
}
