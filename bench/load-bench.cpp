// Times the window on large lists, in-process and on the real code paths (platform offscreen).
// Run by bench/load-databases and bench/load-dblist; prints "name value" lines on stdout, the
// operator's messages on stderr, and exits non-zero when a measurement could not be taken or a
// list came out wrong.
//
//   load-bench PROGRAM_DIR databases EXPECTED_FILE REPEATS
//       the attach tab's list of databases (RefreshListDB) and the console's chooser
//       (DBNameDropDown), each run REPEATS times; EXPECTED_FILE holds the names the server must
//       list, one a line
//   load-bench PROGRAM_DIR catalogue COUNT REPEATS
//       dbs.xml of COUNT entries: LoadDBList alone, the window's start-up with it, and the name
//       box's items and file fields
//
// PROGRAM_DIR holds the settings.ini (and dbs.xml) the window starts with.
#include "AttachTab.h"
#include "BenchSupport.h"
#include "DBWorkU.h"
#include "DatabaseList.h"
#include "DbSetupApplication.h"
#include "DropDownComboBox.h"
#include "SqlQueryTab.h"
#include "XMLUtils.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// What differs between two lists of names taken as sets; empty when they are equal.
QString compareNames(QStringList got, QStringList expected)
{
    got.sort();
    expected.sort();
    if (got == expected)
        return {};
    QString text = u"%1 names instead of %2"_s.arg(got.size()).arg(expected.size());
    for (qsizetype i = 0; i < std::min(got.size(), expected.size()); ++i)
        if (got[i] != expected[i])
            return text +
                   u"; first difference: \"%1\" instead of \"%2\""_s.arg(got[i], expected[i]);
    return text;
}

QStringList listNames(const TAttachTab& tab)
{
    QStringList names;
    for (int row = 0; row < tab.rowCount(); ++row)
        names << tab.rowName(row);
    return names;
}

// Every row must name a database and its data file.
QString checkList(const TAttachTab& tab, const QStringList& expected)
{
    for (int row = 0; row < tab.rowCount(); ++row)
        if (tab.rowFileName(row).isEmpty())
            return u"row %1 (%2) has no data file"_s.arg(row).arg(tab.rowName(row));
    return compareNames(listNames(tab), expected);
}

QStringList chooserNames(const QComboBox& chooser)
{
    QStringList names;
    for (int i = 0; i < chooser.count(); ++i)
        names << chooser.itemText(i);
    return names;
}

int runDatabases(TFormDB& form, BenchOperator& ui, const QString& expectedFile, int repeats)
{
    QFile file(expectedFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return fail("load-bench", ui, u"cannot read "_s + expectedFile);
    const QStringList expected = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    print("expected_databases", static_cast<qint64>(expected.size()));

    // Showing the window shows the attach tab, whose show handler fills the list.
    QElapsedTimer timer;
    timer.start();
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return fail("load-bench", ui, u"the window was not shown"_s);
    print("show_seconds", seconds(timer));
    TAttachTab& attach = *form.attachTab();
    if (const QString wrong = checkList(attach, expected); !wrong.isEmpty())
        return fail("load-bench", ui, u"the list after start-up: "_s + wrong);

    for (int i = 0; i < repeats; ++i) {
        timer.restart();
        form.RefreshListDB();
        print("refresh_seconds", seconds(timer));
        // The same in parts: the query read into rows, and the selection handler's probe.
        timer.restart();
        const QList<AttachedDatabase> rows = ReadAttachedDatabases(form.session().connection());
        print("read_seconds", seconds(timer));
        if (rows.size() != expected.size())
            return fail("load-bench", ui, u"the query gave %1 rows"_s.arg(rows.size()));
        timer.restart();
        attach.ListDBClick();
        print("probe_seconds", seconds(timer));
        QCoreApplication::processEvents();
    }
    print("list_rows", static_cast<qint64>(attach.rowCount()));
    if (const QString wrong = checkList(attach, expected); !wrong.isEmpty())
        return fail("load-bench", ui, u"the list after refreshing: "_s + wrong);
    print("probe_enabled_add_files",
          static_cast<qint64>(form.findChild<QCheckBox*>(u"isFileInDB"_s)->isEnabled()));

    // The console tab: showing it fills the chooser; then each drop-down fills it anew.
    auto* chooser = form.findChild<DropDownComboBox*>(u"DBNameSQL"_s);
    timer.restart();
    form.findChild<QTabWidget*>(u"Page"_s)->setCurrentIndex(2);
    print("console_show_seconds", seconds(timer));
    QCoreApplication::processEvents();
    for (int i = 0; i < repeats; ++i) {
        timer.restart();
        emit chooser->aboutToDropDown();
        print("chooser_fill_seconds", seconds(timer));
        // As the operator opens it: filled, then the popup laid out and shown.
        timer.restart();
        chooser->showPopup();
        QCoreApplication::processEvents();
        print("chooser_dropdown_seconds", seconds(timer));
        chooser->hidePopup();
        QCoreApplication::processEvents();
    }
    print("chooser_items", static_cast<qint64>(chooser->count()));
    if (const QString wrong = compareNames(chooserNames(*chooser), expected); !wrong.isEmpty())
        return fail("load-bench", ui, u"the console's chooser: "_s + wrong);
    // It offers the current database, as it does with a short list.
    if (chooser->currentText().compare(form.session().currentDBName(), Qt::CaseInsensitive) != 0)
        return fail("load-bench", ui,
                    u"the chooser shows \"%1\", not the current database \"%2\""_s.arg(
                        chooser->currentText(), form.session().currentDBName()));
    return ui.shown.isEmpty() ? 0 : fail("load-bench", ui, u"the program reported an error"_s);
}

int runCatalogue(const QString& programDir, BenchOperator& ui, int count, int repeats)
{
    QElapsedTimer timer;
    for (int i = 0; i < repeats; ++i) {
        DBCatalogue catalogue;
        timer.start();
        LoadDBList(programDir + u"dbs.xml"_s, catalogue);
        print("load_seconds", seconds(timer));
        if (catalogue.items.size() != count || catalogue.paths.size() != count)
            return fail("load-bench", ui,
                        u"LoadDBList read %1 names, %2 paths"_s.arg(catalogue.items.size())
                            .arg(catalogue.paths.size()));
    }

    // The window with the catalogue, created and shown anew each time.
    for (int i = 0; i < repeats; ++i) {
        timer.start();
        auto form = std::make_unique<TFormDB>(ui, programDir);
        print("construct_seconds", seconds(timer));
        timer.restart();
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            return fail("load-bench", ui, u"the window was not shown"_s);
        print("show_seconds", seconds(timer));

        struct
        {
            QComboBox* DBName;
            QLineEdit* DBFileName;
            QLineEdit* DBLogFileName;
        } attach{form->findChild<QComboBox*>(u"DBName"_s),
                 form->findChild<QLineEdit*>(u"DBFileName"_s),
                 form->findChild<QLineEdit*>(u"DBLogFileName"_s)};
        print("name_box_items", static_cast<qint64>(attach.DBName->count()));
        if (attach.DBName->count() != count)
            return fail("load-bench", ui,
                        u"the name box holds %1 items"_s.arg(attach.DBName->count()));
        // An entry from the middle and the last one, typed in another case, fill the file
        // fields (PROGRAM_DIR/Data exists, so the first paths count).
        for (const int entry : {count / 2, count - 1}) {
            const QString name = attach.DBName->itemText(entry);
            timer.restart();
            attach.DBName->setEditText(name.toUpper());
            print("name_lookup_seconds", seconds(timer));
            const QString data = programDir + u"Data/"_s + name + u".mdf"_s;
            const QString log = programDir + u"Data/"_s + name + u"_log.ldf"_s;
            if (attach.DBFileName->text() != data || attach.DBLogFileName->text() != log)
                return fail("load-bench", ui,
                            u"\"%1\" filled \"%2\" and \"%3\""_s.arg(
                                name, attach.DBFileName->text(), attach.DBLogFileName->text()));
        }
        // What the program's end costs: the window and its lists freed.
        timer.restart();
        form.reset();
        print("destroy_seconds", seconds(timer));
        QCoreApplication::processEvents();
    }
    return ui.shown.isEmpty() ? 0 : fail("load-bench", ui, u"the program reported an error"_s);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    DbSetupApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString mode = args.value(2);
    bool repeatsOk = false;
    const int repeats = args.value(4).toInt(&repeatsOk);
    if (args.size() < 5 || !repeatsOk || repeats < 1 ||
        (mode != u"databases"_s && mode != u"catalogue"_s)) {
        std::fprintf(stderr, "usage: load-bench PROGRAM_DIR databases EXPECTED_FILE REPEATS\n"
                             "       load-bench PROGRAM_DIR catalogue COUNT REPEATS\n");
        return 2;
    }
    QString programDir = args[1];
    if (!programDir.endsWith(u'/'))
        programDir += u'/';

    BenchOperator ui;
    app.setErrorReporter(&ui);
    try {
        if (mode == u"catalogue"_s)
            return runCatalogue(programDir, ui, args[3].toInt(), repeats);
        QElapsedTimer timer;
        timer.start();
        TFormDB form(ui, programDir);
        print("construct_seconds", seconds(timer));
        if (!form.session().connection().isOpen())
            return fail("load-bench", ui, u"the window did not connect"_s);
        return runDatabases(form, ui, args[3], repeats);
    } catch (const std::exception& error) {
        ui.shown << QString::fromUtf8(error.what());
        return fail("load-bench", ui, u"the measurement failed"_s);
    }
}
