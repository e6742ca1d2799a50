#pragma once

// What the in-process benchmark programs share: their operator and how they report.

#include "OperatorUi.h"

#include <QElapsedTimer>
#include <QStringList>
#include <cstdio>

// The operator of an in-process benchmark: answers the save dialog with one file (when set) and
// records every message, any of which makes the measurement a failed one.
class BenchOperator : public OperatorUi
{
public:
    QString saveFile;
    QStringList shown;

    void showMessage(Icon, const QString& caption, const QString& text) override
    {
        shown << caption + QStringLiteral(": ") + text;
    }
    bool askYesNo(Icon, const QString& caption, const QString& text) override
    {
        shown << caption + QStringLiteral(": ") + text;
        return false;
    }
    int askChoice(Icon, const QString& caption, const QString& text,
                  const QStringList& buttons) override
    {
        shown << caption + QStringLiteral(": ") + text;
        return static_cast<int>(buttons.size()) - 1;
    }
    void note(const QString&) override {}
    std::optional<QString> chooseSaveFile(const FileDialog&) override
    {
        if (saveFile.isEmpty())
            return std::nullopt;
        return saveFile;
    }
    std::optional<QString> chooseOpenFile(const FileDialog&) override { return std::nullopt; }
    std::optional<QString> chooseFolder(const QString&, const QString&) override
    {
        return std::nullopt;
    }
    // The benchmarks' server is on this machine: no server-side dialog opens.
    std::optional<QString> chooseOnServer(ServerChoice, const FileDialog&, ServerFolders&) override
    {
        return std::nullopt;
    }
    void openFolder(const QString&) override {}
    void startOperation(const QString&) override {}
    void finishOperation() override {}
};

// A figure on stdout as "name value", the form the benchmark scripts read.
inline void print(const char* name, double value)
{
    std::printf("%s %.6f\n", name, value);
    std::fflush(stdout);
}

inline void print(const char* name, qint64 value)
{
    std::printf("%s %lld\n", name, static_cast<long long>(value));
    std::fflush(stdout);
}

inline double seconds(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

// A failed measurement: what went wrong and every message the program showed; gives exit code 1.
inline int fail(const char* program, const BenchOperator& ui, const QString& what)
{
    std::fprintf(stderr, "%s: %s\n", program, what.toUtf8().constData());
    for (const QString& text : ui.shown)
        std::fprintf(stderr, "  shown: %s\n", text.toUtf8().constData());
    return 1;
}
