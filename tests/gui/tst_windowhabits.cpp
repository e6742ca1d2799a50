// The window as operators of other desktop database tools expect it: it grows with its lists,
// fields and grid, fits the grids' columns to their contents, answers the usual keys and keeps its
// size and place for the next start. With the demo's settings against bin/sqlsim; ctest runs it on
// Xvfb where there is one.
#include "DBWorkU.h"
#include "GuiFixture.h"
#include "WindowState.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QScreen>
#include <QSignalSpy>

using namespace Qt::StringLiterals;

namespace {

const QSize defaultSize(643, 508);

// The containers whose controls stand where their design put them.
const QStringList containers = {u"PanelDB"_s,    u"TabAttachDB"_s,  u"GAddDB"_s,
                                u"GDeleteDB"_s,  u"TabRestoreDB"_s, u"GRestoreDB"_s,
                                u"TabSQLQuery"_s};

// The controls of the panel and the tabs, each as its tab shows it.
QHash<QString, QRect> layoutOf(const TFormDB& form)
{
    auto* page = control<QTabWidget>(form, u"Page"_s);
    QHash<QString, QRect> out;
    for (int tab = 0; tab < page->count(); ++tab) {
        page->setCurrentIndex(tab);
        for (const QString& name : containers)
            for (const QWidget* w :
                 control<QWidget>(form, name)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                out.insert(w->objectName(), w->geometry());
    }
    return out;
}

bool resizeAndWait(TFormDB& form, QSize size)
{
    form.resize(size);
    return QTest::qWaitFor([&] { return form.size() == size; });
}

// What a column's cells need (QTableView hides the item view's public measure).
int contentsWidth(const QAbstractItemView& view, int column)
{
    return view.sizeHintForColumn(column);
}

} // namespace

class TestWindowHabits : public QObject
{
    Q_OBJECT

    LoggedSqlsim m_sim;
    ProgramFolder m_folder;
    const QString m_longName = u"warehouse_archive_north_2019"_s;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.process().stderrText().constData());
        prepareDemo(m_sim, m_folder);
        QVERIFY(m_sim.exec(u"CREATE DATABASE "_s + m_longName));
    }

    // Every start here begins without a remembered size and place.
    void init() { QFile::remove(windowStateFile()); }

    // At every size each control stays inside its container and off the others; the lists, the
    // grid, the editor and the path fields take the room gained, the buttons keep to their edges.
    void sizes_data()
    {
        QTest::addColumn<QSize>("growth");
        QTest::newRow("default") << QSize(0, 0);
        QTest::newRow("taller") << QSize(0, 90);
        QTest::newRow("wider") << QSize(120, 0);
        QTest::newRow("the whole screen")
            << QGuiApplication::primaryScreen()->availableGeometry().size() - defaultSize;
    }
    void sizes()
    {
        QFETCH(QSize, growth);
        ScriptedOperatorUi ui;
        auto form = openForm(m_folder, ui, QString());
        QVERIFY(form);
        QCOMPARE(form->size(), defaultSize);
        const QHash<QString, QRect> before = layoutOf(*form);
        QVERIFY(resizeAndWait(*form, defaultSize + growth));
        const QHash<QString, QRect> after = layoutOf(*form);

        auto* page = control<QTabWidget>(*form, u"Page"_s);
        for (int tab = 0; tab < page->count(); ++tab) {
            page->setCurrentIndex(tab);
            for (const QString& name : containers) {
                const auto* container = control<QWidget>(*form, name);
                QList<const QWidget*> shown;
                for (const QWidget* w :
                     container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                    if (w->isVisible())
                        shown << w;
                for (const QWidget* a : shown) {
                    QVERIFY2(container->rect().contains(a->geometry()),
                             qPrintable(a->objectName() + u" leaves "_s + name));
                    for (const QWidget* b : shown) // the credentials' frame is drawn round them
                        QVERIFY2(a == b || a->objectName() == u"BevelDB"_s ||
                                     b->objectName() == u"BevelDB"_s ||
                                     !a->geometry().intersects(b->geometry()),
                                 qPrintable(a->objectName() + u" over "_s + b->objectName()));
                }
            }
        }

        const auto grown = [&](const QString& name) {
            return after[name].size() - before[name].size();
        };
        const auto moved = [&](const QString& name) {
            return after[name].topLeft() - before[name].topLeft();
        };
        QCOMPARE(grown(u"ListDB"_s), growth);
        QCOMPARE(grown(u"ListLRecord"_s).width(), growth.width());
        QCOMPARE(grown(u"SQLText"_s).width(), growth.width());
        // The editor and the grid share the height gained, the grid the larger part.
        QCOMPARE(grown(u"SQLText"_s).height() + grown(u"ListLRecord"_s).height(), growth.height());
        QVERIFY(grown(u"SQLText"_s).height() <= grown(u"ListLRecord"_s).height());
        QCOMPARE(grown(u"SQLText"_s).height() > 0, growth.height() > 0);
        for (const QString& field :
             {u"DBFileName"_s, u"BackupFileName"_s, u"RestoreToDirectory"_s, u"LDBConnect"_s})
            QCOMPARE(grown(field).width(), growth.width());
        for (const QString& button : {u"bAttachDB"_s, u"BRestoreDB"_s, u"BExecSQL"_s})
            QCOMPARE(moved(button), QPoint(growth.width(), 0));
        QCOMPARE(moved(u"BBackupDB"_s), QPoint(0, growth.height()));
        // The export buttons: 10 pixels from the right, 5 from the bottom, 5 between them.
        const QSize tab = control<QWidget>(*form, u"TabSQLQuery"_s)->size();
        const QRect save = after[u"BSaveExcel"_s];
        const QRect copy = after[u"BCopyBuffer"_s];
        QCOMPARE(tab.width() - save.x() - save.width(), 10);
        QCOMPARE(tab.height() - save.y() - save.height(), 5);
        QCOMPARE(save.x() - copy.x() - copy.width(), 5);
        QCOMPARE(copy.y(), save.y());
    }

    // F5 and Ctrl+Enter run the query (not while its button is unavailable), Enter in a one-line
    // field presses its tab's main button and nothing else, Ctrl+Tab and Ctrl+PgDn go through the
    // tabs from wherever the focus is.
    void keys_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("unavailable");
        QTest::addColumn<QStringList>("pressed");
        QTest::addColumn<int>("tabAfter");
        const int ctrl = Qt::ControlModifier;
        const int none = Qt::NoModifier;
        const int keypad = Qt::KeypadModifier;
        const int shift = Qt::ShiftModifier;
        const QStringList run{u"BOpenSQL"_s};
        const QStringList connect{u"BRefreshConnect"_s};
        const QStringList attach{u"bAttachDB"_s};
        const QStringList nothing;
        QTest::newRow("F5 in the editor")
            << 2 << u"SQLText"_s << int(Qt::Key_F5) << none << u""_s << run << 2;
        QTest::newRow("Ctrl+Return in the editor")
            << 2 << u"SQLText"_s << int(Qt::Key_Return) << ctrl << u""_s << run << 2;
        QTest::newRow("Ctrl+Enter in the grid")
            << 2 << u"ListLRecord"_s << int(Qt::Key_Enter) << (ctrl | keypad) << u""_s << run << 2;
        QTest::newRow("F5, the run unavailable")
            << 2 << u"SQLText"_s << int(Qt::Key_F5) << none << u"BOpenSQL"_s << nothing << 2;
        QTest::newRow("F5 on another tab")
            << 0 << u"DBName"_s << int(Qt::Key_F5) << none << u""_s << nothing << 0;
        QTest::newRow("Enter in the editor")
            << 2 << u"SQLText"_s << int(Qt::Key_Return) << none << u""_s << nothing << 2;
        QTest::newRow("Enter in the server field")
            << 0 << u"Server"_s << int(Qt::Key_Return) << none << u""_s << connect << 0;
        QTest::newRow("Enter in the password")
            << 0 << u"Password"_s << int(Qt::Key_Enter) << keypad << u""_s << connect << 0;
        QTest::newRow("Enter in the database name")
            << 0 << u"DBName"_s << int(Qt::Key_Return) << none << u""_s << attach << 0;
        QTest::newRow("Enter in the log file")
            << 0 << u"DBLogFileName"_s << int(Qt::Key_Return) << none << u""_s << attach << 0;
        QTest::newRow("Enter in the list, no detach")
            << 0 << u"ListDB"_s << int(Qt::Key_Return) << none << u""_s << nothing << 0;
        QTest::newRow("Enter in the restore name")
            << 1 << u"RestoreDBName"_s << int(Qt::Key_Return) << none << u""_s
            << QStringList{u"BRestoreDB"_s} << 1;
        QTest::newRow("Ctrl+Tab in the editor")
            << 2 << u"SQLText"_s << int(Qt::Key_Tab) << ctrl << u""_s << nothing << 0;
        QTest::newRow("Ctrl+Shift+Tab in the grid") << 2 << u"ListLRecord"_s << int(Qt::Key_Backtab)
                                                    << (ctrl | shift) << u""_s << nothing << 1;
        QTest::newRow("Ctrl+PgDn in the server field")
            << 0 << u"Server"_s << int(Qt::Key_PageDown) << ctrl << u""_s << nothing << 1;
        QTest::newRow("Ctrl+PgUp in the list")
            << 0 << u"ListDB"_s << int(Qt::Key_PageUp) << ctrl << u""_s << nothing << 2;
    }
    void keys()
    {
        QFETCH(int, tab);
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, unavailable);
        QFETCH(QStringList, pressed);
        QFETCH(int, tabAfter);
        ScriptedOperatorUi ui;
        auto form = openForm(m_folder, ui, QString(), tab);
        QVERIFY(form);
        auto* editor = control<QPlainTextEdit>(*form, u"SQLText"_s);
        editor->setPlainText(u"select name from master.dbo.sysdatabases"_s);
        if (!unavailable.isEmpty())
            control<QWidget>(*form, unavailable)->setEnabled(false);
        QWidget* target = control<QWidget>(*form, focus);
        target->setFocus();
        QVERIFY(target->hasFocus());
        std::vector<std::pair<QString, std::unique_ptr<QSignalSpy>>> spies;
        for (QAbstractButton* button : form->findChildren<QAbstractButton*>())
            spies.emplace_back(button->objectName(),
                               std::make_unique<QSignalSpy>(button, &QAbstractButton::clicked));

        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QStringList clicked;
        for (const auto& [name, spy] : spies)
            if (!spy->isEmpty())
                clicked << name;
        QCOMPARE(clicked, pressed);
        QCOMPARE(control<QTabWidget>(*form, u"Page"_s)->currentIndex(), tabAfter);
        if (pressed == QStringList{u"BOpenSQL"_s})
            QVERIFY(form->session().console().result().rowCount() > 0);
        if (focus == u"SQLText"_s && key == Qt::Key_Return && modifiers == Qt::NoModifier)
            QCOMPARE(editor->blockCount(), 2);
    }

    // Columns as wide as their contents, but a long text does not push the others out of sight.
    void columnsFitContents()
    {
        ScriptedOperatorUi ui;
        auto form = openForm(m_folder, ui, QString(), 2);
        QVERIFY(form);
        runConsole(
            *form,
            u"select 7 as n, N'%1' as long_text, N'конец' as last_column"_s.arg(QString(400, u'ж')),
            u"BOpenSQL"_s);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        auto* grid = control<QTableView>(*form, u"ListLRecord"_s);
        const int limit = grid->viewport()->width() * 2 / 5;
        QCOMPARE(grid->columnWidth(1), limit);
        for (int column : {0, 2})
            QVERIFY(grid->columnWidth(column) >=
                    std::max(contentsWidth(*grid, column),
                             grid->horizontalHeader()->sectionSizeHint(column)));
        QVERIFY(grid->columnViewportPosition(2) + grid->columnWidth(2) <=
                grid->viewport()->width());

        // The database list: a name longer than its column was drawn for shows whole, and the
        // files column reaches the list's edge.
        control<QTabWidget>(*form, u"Page"_s)->setCurrentIndex(0);
        auto* list = control<QTableView>(*form, u"ListDB"_s);
        QVERIFY(listedNames(*form).contains(m_longName));
        QVERIFY(contentsWidth(*list, 0) > 112);
        QVERIFY(list->columnWidth(0) >= contentsWidth(*list, 0));
        QCOMPARE(list->columnWidth(0) + list->columnWidth(1), list->viewport()->width());
    }

    // Closed, the window leaves its size and place (and whether it was maximised) in the user's
    // state file, never in settings.ini; the next start takes them while they fit a screen.
    void remembered_data()
    {
        QTest::addColumn<QPoint>("moveBy");
        QTest::addColumn<QSize>("growth");
        QTest::addColumn<bool>("maximised");
        QTest::addColumn<bool>("kept");
        QTest::newRow("moved and larger") << QPoint(-40, 30) << QSize(150, 100) << false << true;
        QTest::newRow("maximised") << QPoint(0, 0) << QSize(0, 0) << true << true;
        QTest::newRow("off the screens")
            << QPoint(QGuiApplication::primaryScreen()->virtualGeometry().width() + 100, 0)
            << QSize(0, 0) << false << false;
    }
    void remembered()
    {
        QFETCH(QPoint, moveBy);
        QFETCH(QSize, growth);
        QFETCH(bool, maximised);
        QFETCH(bool, kept);
        if (!isOnX())
            QSKIP("no Xvfb: window places need a real X server");
        // QSettings follows XDG_CONFIG_HOME, which the test run points at a folder of its own.
        QCOMPARE(
            QFileInfo(windowStateFile()).absoluteFilePath(),
            QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).absoluteFilePath(u"dbsetup/state.ini"_s));
        const QByteArray settings = readFile(m_folder.file(u"settings.ini"_s));
        ScriptedOperatorUi ui;
        auto first = openForm(m_folder, ui, QString());
        QVERIFY(first);
        const QRect placed = first->geometry();
        first->move(placed.topLeft() + moveBy);
        QVERIFY(resizeAndWait(*first, defaultSize + growth));
        QVERIFY(QTest::qWaitFor([&] { return first->pos() == placed.topLeft() + moveBy; }));
        if (maximised)
            first->showMaximized();
        QVERIFY(first->close());
        first.reset();
        QCOMPARE(readFile(m_folder.file(u"settings.ini"_s)), settings);

        auto next = openForm(m_folder, ui, QString());
        QVERIFY(next);
        QCOMPARE(next->normalGeometry(),
                 kept ? QRect(placed.topLeft() + moveBy, defaultSize + growth) : placed);
        QCOMPARE(next->isMaximized(), maximised);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
    }
};

DBSETUP_GUI_TEST_MAIN(TestWindowHabits)
#include "tst_windowhabits.moc"
