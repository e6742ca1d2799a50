// Times the console tab on a large result, in the window as the operator uses it (platform
// offscreen). Run by bench/console; prints "name value" lines on stdout, the operator's messages
// on stderr, and exits non-zero when a measurement could not be taken.
//
//   console-bench PROGRAM_DIR DATABASE SQL first          "Выполнить запрос" to rows painted
//   console-bench PROGRAM_DIR DATABASE SQL export FILE    then "Сохранить в Excel" into FILE
//   console-bench PROGRAM_DIR DATABASE SQL last           then the navigator's "last"
//   console-bench PROGRAM_DIR DATABASE SQL phases FILE    the same reading in layers, no window
//
// PROGRAM_DIR holds the settings.ini the window starts with.
#include "BenchSupport.h"
#include "DBWorkU.h"
#include "DbSetupApplication.h"
#include "ExportText.h"
#include "QueryResult.h"
#include "SqlQueryTab.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <ctime>

using namespace Qt::StringLiterals;

namespace {

// The console tab's controls, by the names the window gives them.
struct ConsoleControls
{
    explicit ConsoleControls(const QWidget& form)
        : DBNameSQL(form.findChild<QComboBox*>(u"DBNameSQL"_s)),
          SQLText(form.findChild<QPlainTextEdit*>(u"SQLText"_s)),
          ListLRecord(form.findChild<QTableView*>(u"ListLRecord"_s)),
          BOpenSQL(form.findChild<QPushButton*>(u"BOpenSQL"_s)),
          BSaveExcel(form.findChild<QPushButton*>(u"BSaveExcel"_s)),
          NavLast(form.findChild<QToolButton*>(u"NavLast"_s))
    {}
    QComboBox* DBNameSQL;
    QPlainTextEdit* SQLText;
    QTableView* ListLRecord;
    QPushButton* BOpenSQL;
    QPushButton* BSaveExcel;
    QToolButton* NavLast;
};

// Notes the grid's first paint that shows rows (and, when asked, the last record as current).
// The paint itself runs after the filter, so the caller reads the clock once the event loop has
// come back.
class PaintWatch : public QObject
{
public:
    PaintWatch(const QueryResult& result, bool wantLast) : m_result(result), m_wantLast(wantLast) {}
    bool painted = false;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && m_result.rowCount() > 0 &&
            (!m_wantLast ||
             (m_result.isComplete() && m_result.currentRow() == m_result.rowCount() - 1)))
            painted = true;
        return QObject::eventFilter(watched, event);
    }

private:
    const QueryResult& m_result;
    bool m_wantLast;
};

// The process's peak resident memory so far (VmHWM), KiB.
qint64 peakKib()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// The processor time this process has used so far, all threads, seconds.
double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Runs the event loop until flag is set; false when timeoutMs passed first.
bool waitFor(const bool& flag, int timeoutMs)
{
    bool expired = false;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&expired] { expired = true; });
    limit.start(timeoutMs);
    while (!flag && !expired)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return flag;
}

// The reading in layers, each on its own, so that a slow whole can be taken apart: the driver
// and the connection's row fetching; the result set keeping every row; the export of rows
// already kept; the export as the window runs it, the rows past the first page straight from
// the cursor (into FILE.streamed).
int runPhases(TFormDB& form, BenchOperator& ui, const QString& database, const QString& sql,
              const QString& file)
{
    db::Connection& connection = form.session().connection();
    connection.setDefaultDatabase(database);
    QElapsedTimer timer;
    qint64 rows = 0;
    timer.start();
    double cpu = cpuSeconds();
    {
        const std::unique_ptr<db::Connection::Cursor> cursor = connection.openCursor(sql, 0);
        while (!cursor->atEnd())
            rows +=
                cursor->read(QueryResult::pageSize * 20, [](const db::Connection::RowValues&) {});
    }
    print("phase_fetch_seconds", seconds(timer));
    print("phase_fetch_cpu_seconds", cpuSeconds() - cpu);
    print("phase_fetch_rows", rows);

    QueryResult result;
    timer.restart();
    cpu = cpuSeconds();
    result.open(connection, sql, 0);
    while (result.fetchRows(QueryResult::pageSize * 20)) {
    }
    print("phase_keep_seconds", seconds(timer));
    print("phase_keep_cpu_seconds", cpuSeconds() - cpu);
    print("phase_keep_rows", static_cast<qint64>(result.fetchedCount()));

    timer.restart();
    cpu = cpuSeconds();
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail("console-bench", ui, u"cannot create the export file"_s);
    WriteExportFile(result, out);
    out.close();
    print("phase_write_seconds", seconds(timer));
    print("phase_write_cpu_seconds", cpuSeconds() - cpu);
    result.close();

    timer.restart();
    cpu = cpuSeconds();
    QFile streamed(file + u".streamed"_s);
    if (!streamed.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail("console-bench", ui, u"cannot create the streamed export file"_s);
    result.open(connection, sql, 0);
    WriteExportFile(result, streamed);
    streamed.close();
    print("phase_stream_seconds", seconds(timer));
    print("phase_stream_cpu_seconds", cpuSeconds() - cpu);
    print("phase_stream_kept_rows", static_cast<qint64>(result.fetchedCount()));
    return ui.shown.isEmpty() ? 0 : fail("console-bench", ui, u"the program reported an error"_s);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    DbSetupApplication app(argc, argv);
    // The operator's regional settings: field texts are formatted as the grid shows them.
    if (const QString locale = qEnvironmentVariable("BENCH_LOCALE"); !locale.isEmpty())
        QLocale::setDefault(QLocale(locale));
    const QStringList args = QCoreApplication::arguments();
    const QString mode = args.value(4);
    if (args.size() < 5 ||
        !QStringList{u"first"_s, u"export"_s, u"last"_s, u"phases"_s}.contains(mode) ||
        ((mode == u"export"_s || mode == u"phases"_s) && args.size() < 6)) {
        std::fprintf(stderr, "usage: console-bench PROGRAM_DIR DATABASE SQL "
                             "first|export FILE|last|phases FILE\n");
        return 2;
    }
    QString programDir = args[1];
    if (!programDir.endsWith(u'/'))
        programDir += u'/';
    const QString database = args[2];
    const QString sql = args[3];

    BenchOperator ui;
    app.setErrorReporter(&ui);
    QElapsedTimer startup;
    startup.start();
    TFormDB form(ui, programDir);
    if (!form.session().connection().isOpen())
        return fail("console-bench", ui, u"the window did not connect"_s);
    if (mode == u"phases"_s) {
        try {
            return runPhases(form, ui, database, sql, args[5]);
        } catch (const std::exception& error) {
            ui.shown << QString::fromUtf8(error.what());
            return fail("console-bench", ui, u"reading in layers failed"_s);
        }
    }

    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return fail("console-bench", ui, u"the window was not shown"_s);
    form.findChild<QTabWidget*>(u"Page"_s)->setCurrentIndex(2);
    QCoreApplication::processEvents();
    print("startup_seconds", seconds(startup));

    const ConsoleControls tab(form);
    // "Выполнить запрос" runs in the database the chooser shows.
    const int chosen = tab.DBNameSQL->findText(database);
    if (chosen < 0)
        return fail("console-bench", ui,
                    u"the console's chooser does not offer the benchmark database"_s);
    tab.DBNameSQL->setCurrentIndex(chosen);
    tab.SQLText->setPlainText(sql);
    QCoreApplication::processEvents();
    print("peak_kib_before_query", peakKib());

    PaintWatch rowsShown(form.session().console().result(), false);
    tab.ListLRecord->viewport()->installEventFilter(&rowsShown);
    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(tab.BOpenSQL, Qt::LeftButton);
    const double handler = seconds(timer);
    if (!waitFor(rowsShown.painted, 60000))
        return fail("console-bench", ui, u"the grid never showed rows"_s);
    print("first_rows_seconds", seconds(timer));
    print("first_rows_handler_seconds", handler);
    print("first_rows_fetched",
          static_cast<qint64>(form.session().console().result().fetchedCount()));
    tab.ListLRecord->viewport()->removeEventFilter(&rowsShown);
    if (!ui.shown.isEmpty())
        return fail("console-bench", ui, u"the query failed"_s);
    print("peak_kib_after_first_rows", peakKib());
    if (mode == u"first"_s)
        return 0;

    if (mode == u"export"_s) {
        ui.saveFile = args[5];
        timer.restart();
        QTest::mouseClick(tab.BSaveExcel, Qt::LeftButton);
        const double exported = seconds(timer);
        QCoreApplication::processEvents();
        print("export_seconds", exported);
        print("export_rows_fetched",
              static_cast<qint64>(form.session().console().result().fetchedCount()));
        print("peak_kib", peakKib());
        return ui.shown.isEmpty() ? 0 : fail("console-bench", ui, u"the export failed"_s);
    }

    PaintWatch lastShown(form.session().console().result(), true);
    tab.ListLRecord->viewport()->installEventFilter(&lastShown);
    timer.restart();
    QTest::mouseClick(tab.NavLast, Qt::LeftButton);
    const double fetched = seconds(timer);
    if (!waitFor(lastShown.painted, 600000))
        return fail("console-bench", ui, u"the grid never showed the last record"_s);
    print("last_seconds", seconds(timer));
    print("last_handler_seconds", fetched);
    print("last_rows_fetched",
          static_cast<qint64>(form.session().console().result().fetchedCount()));
    print("last_current_row", static_cast<qint64>(form.session().console().result().currentRow()));
    print("peak_kib", peakKib());
    return ui.shown.isEmpty() ? 0 : fail("console-bench", ui, u"the navigator failed"_s);
}
