#include "SqlQueryTab.h"

#include "Anchors.h"
#include "ColumnFit.h"
#include "EventGuard.h"
#include "ExportText.h"
#include "FileHelpers.h"
#include "MyException.h"
#include "OperatorUi.h"
#include "Session.h"
#include "TextFieldKeys.h"
#include "ui_SqlQueryTab.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPointer>
#include <QSaveFile>
#include <QScopeGuard>
#include <QShortcut>
#include <QShowEvent>
#include <QTabWidget>

using namespace Qt::StringLiterals;

namespace {
constexpr int consoleTimeoutSeconds = 3600;
// Long enough to be read, short enough not to be taken for the state of things later.
constexpr int statusShownMs = 5000;

QString recordsWord(qint64 count)
{
    return PluralForm(u"записей"_s, u"запись"_s, u"записи"_s, static_cast<double>(count), false,
                      u' ');
}

} // namespace

QString RunningTimeText(qint64 seconds)
{
    const auto twoDigits = [](qint64 n) {
        return u"%1"_s.arg(n, 2, 10, QChar(u'0'));
    };
    const QString minutesSeconds = twoDigits(seconds / 60 % 60) + u':' + twoDigits(seconds % 60);
    return seconds < 3600 ? minutesSeconds : twoDigits(seconds / 3600) + u':' + minutesSeconds;
}

QString AffectedRowsText(const QList<qint64>& counts)
{
    if (counts.isEmpty())
        return u"Результат неизвестен."_s;
    qint64 total = 0;
    for (const qint64 count : counts)
        total += count;
    QString text = u"Обработано "_s + QString::number(total) + u' ' + recordsWord(total);
    // A batch: the sum, and over how many statements, so that it is not read as the last one's.
    if (counts.size() > 1)
        text += u" в "_s + QString::number(counts.size()) + u' ' +
                PluralForm(u"инструкциях"_s, u"инструкции"_s, u"инструкциях"_s,
                           static_cast<double>(counts.size()), false, u' ');
    return text;
}

TSqlQueryTab::TSqlQueryTab(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TSqlQueryTab>())
{
    ui->setupUi(this);
    fastenControls();
    auto* keys = new DBNameKeyDown(this);
    keys->attachTo(ui->SQLText);
    keys->attachTo(ui->DBNameSQL);
    ui->DBNameSQL->installEventFilter(this);

    connect(ui->BOpenSQL, &QPushButton::clicked, this,
            [this] { guarded([this] { BOpenSQLClick(); }); });
    // F5 and Ctrl+Enter run the query from anywhere in the window while the tab is shown, as the
    // button does; not while it is unavailable (a statement runs).
    for (const QKeySequence& run :
         {QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_Return),
          QKeySequence(Qt::CTRL | Qt::Key_Enter)})
        connect(new QShortcut(run, this), &QShortcut::activated, this, [this] {
            if (ui->BOpenSQL->isEnabled())
                ui->BOpenSQL->click();
        });
    connect(ui->BExecSQL, &QPushButton::clicked, this,
            [this] { guarded([this] { BExecSQLClick(); }); });
    connect(ui->BCopyBuffer, &QPushButton::clicked, this,
            [this] { guarded([this] { BCopyBufferClick(); }); });
    // Not through guarded(): it must work while every other handler waits.
    connect(ui->BStopSQL, &QPushButton::clicked, this, &TSqlQueryTab::stopStatement);
    connect(ui->BSaveExcel, &QPushButton::clicked, this,
            [this] { guarded([this] { BSaveExcelClick(); }); });
    connect(ui->DBNameSQL, &DropDownComboBox::aboutToDropDown, this,
            [this] { guarded([this] { DBNameDropDown(); }); });
    // Only the operator's pick counts as a change, not filling or selecting from code.
    connect(ui->DBNameSQL, &QComboBox::activated, this,
            [this] { guarded([this] { DBNameSQLChange(chosenDatabase()); }); });
    m_statusTimer.setSingleShot(true);
    m_statusTimer.setInterval(statusShownMs);
    connect(&m_statusTimer, &QTimer::timeout, this, &TSqlQueryTab::clearStatus);
    m_runningTicker.setInterval(1000);
    connect(&m_runningTicker, &QTimer::timeout, this, &TSqlQueryTab::showRunning);
}

TSqlQueryTab::~TSqlQueryTab() = default;

void TSqlQueryTab::bind(Session* session, EventGuard* guard)
{
    m_session = session;
    m_guard = guard;
    if (m_session != nullptr)
        bindGrid();
}

void TSqlQueryTab::guarded(const std::function<void()>& handler)
{
    if (m_guard != nullptr)
        m_guard->handleEvent(handler);
}

QueryResult& TSqlQueryTab::result()
{
    return m_session->console().result();
}

void TSqlQueryTab::bindGrid()
{
    QueryResult& result = this->result();
    ui->ListLRecord->setModel(&result);
    // The grid's current row and the result's current record move together.
    connect(ui->ListLRecord->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [&result](const QModelIndex& current) { result.setCurrentRow(current.row()); });
    connect(&result, &QueryResult::currentRowChanged, this, &TSqlQueryTab::followCurrentRecord);
    connect(&result, &QAbstractItemModel::modelReset, this, &TSqlQueryTab::showExportNote);
    // After the grid itself has taken the new result.
    connect(&result, &QAbstractItemModel::modelReset, this,
            [this] { fitColumnsToContents(ui->ListLRecord); });
    connect(&result, &QueryResult::cutShort, this, &TSqlQueryTab::showExportNote);
    connect(&result, &QueryResult::recordWritten, this, [this](QueryResult::Written what) {
        switch (what) {
        case QueryResult::Written::Inserted:
            showStatus(u"Новая запись сохранена."_s);
            break;
        case QueryResult::Written::Updated:
            showStatus(u"Изменения записи сохранены."_s);
            break;
        case QueryResult::Written::Deleted:
            showStatus(u"Запись удалена."_s);
            break;
        }
    });
    connect(ui->NavFirst, &QToolButton::clicked, &result, &QueryResult::first);
    connect(ui->NavPrior, &QToolButton::clicked, &result, &QueryResult::prior);
    connect(ui->NavNext, &QToolButton::clicked, &result, &QueryResult::next);
    connect(ui->NavLast, &QToolButton::clicked, this,
            [this] { guarded([this] { this->result().last(); }); });
    connect(ui->NavRefresh, &QToolButton::clicked, this,
            [this] { guarded([this] { m_session->console().refresh(); }); });
    connect(ui->NavEdit, &QToolButton::clicked, this,
            [this] { guarded([this] { editRecord(); }); });
    connect(ui->NavInsert, &QToolButton::clicked, this,
            [this] { guarded([this] { insertRecord(); }); });
    connect(ui->NavDelete, &QToolButton::clicked, this,
            [this] { guarded([this] { deleteRecord(); }); });
    connect(ui->NavPost, &QToolButton::clicked, this,
            [this] { guarded([this] { this->result().post(); }); });
    connect(ui->NavCancel, &QToolButton::clicked, &result, &QueryResult::cancel);
    // A read-only result says why when the operator tries to change it.
    connect(ui->ListLRecord, &QAbstractItemView::doubleClicked, this, [this] {
        if (this->result().isOpen() && !this->result().isEditable())
            guarded([this] { editRecord(); });
    });
    updateNavigator();
}

void TSqlQueryTab::updateNavigator()
{
    const bool editable = result().isEditable();
    ui->ListLRecord->setEditTriggers(editable ? QAbstractItemView::DoubleClicked |
                                                    QAbstractItemView::EditKeyPressed |
                                                    QAbstractItemView::AnyKeyPressed
                                              : QAbstractItemView::NoEditTriggers);
}

bool TSqlQueryTab::sayWhyReadOnly()
{
    const QueryResult& result = this->result();
    if (result.isEditable())
        return false;
    const QString reason =
        result.isOpen() ? result.editTarget().readOnlyReason : u"запрос не выполнен"_s;
    m_session->operatorUi().showMessage(OperatorUi::Icon::Warning, u"Внимание"_s,
                                        u"Результат запроса нельзя изменить: "_s + reason + u'.');
    return true;
}

void TSqlQueryTab::editRecord()
{
    if (sayWhyReadOnly())
        return;
    ui->ListLRecord->edit(ui->ListLRecord->currentIndex());
}

void TSqlQueryTab::insertRecord()
{
    if (sayWhyReadOnly())
        return;
    result().insertRecord();
}

void TSqlQueryTab::deleteRecord()
{
    if (sayWhyReadOnly() || result().currentRow() < 0)
        return;
    if (!m_session->operatorUi().askYesNo(OperatorUi::Icon::Question, u"Внимание"_s,
                                          u"Удалить запись?"_s))
        return;
    result().deleteRecord();
}

void TSqlQueryTab::followCurrentRecord(int row)
{
    QItemSelectionModel* selection = ui->ListLRecord->selectionModel();
    if (row < 0 || selection == nullptr || selection->currentIndex().row() == row)
        return;
    const QModelIndex index = result().index(row, std::max(selection->currentIndex().column(), 0));
    selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    ui->ListLRecord->scrollTo(index);
}

bool TSqlQueryTab::settleUnsavedEdits()
{
    if (m_session == nullptr)
        return true;
    QTableView* grid = ui->ListLRecord;
    if (QWidget* editor = grid->indexWidget(grid->currentIndex()); editor != nullptr) {
        // Closed too: an editor left open would bring a dropped change back on its next commit.
        QAbstractItemDelegate* delegate = grid->itemDelegateForIndex(grid->currentIndex());
        emit delegate->commitData(editor);
        emit delegate->closeEditor(editor);
    }
    QueryResult& result = this->result();
    if (!result.isModified())
        return true;
    const int answer = m_session->operatorUi().askChoice(
        OperatorUi::Icon::Question, u"Внимание"_s,
        u"Изменения в таблице результата запроса не сохранены.\r\nСохранить их, отменить или "
        u"вернуться к таблице?"_s,
        {u"Сохранить"_s, u"Отменить"_s, u"Вернуться"_s});
    if (answer == 0) {
        // A refusal is reported there, and the change stays for the operator to mend.
        if (m_guard != nullptr)
            m_guard->handleEvent([&result] { result.post(); });
        if (!result.isModified())
            return true;
    } else if (answer == 1) {
        result.cancel();
        return true;
    }
    backToGrid();
    return false;
}

void TSqlQueryTab::backToGrid()
{
    for (QWidget* w = parentWidget(); w != nullptr; w = w->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
            tabs->setCurrentWidget(this);
            break;
        }
    }
    followCurrentRecord(result().currentRow());
    ui->ListLRecord->setFocus();
}

void TSqlQueryTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        guarded([this] { TabSQLQueryShow(); });
}

bool TSqlQueryTab::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->DBNameSQL && event->type() == QEvent::FocusIn)
        guarded([this] { DBNameEnter(); });
    return QWidget::eventFilter(watched, event);
}

void TSqlQueryTab::TabSQLQueryShow()
{
    ui->SQLText->setFocus();
    if (m_remembered.isEmpty())
        m_remembered = m_session->currentDBName();
    DBNameDropDown();
}

// The export buttons keep 10 pixels from the right-hand edge and 5 from the bottom, the note
// beside them down to the bottom; the grid fills what is left. The editor takes a third of the
// height the window gains, the grid the rest.
void TSqlQueryTab::fastenControls()
{
    constexpr double editorShare = 1.0 / 3;
    auto* anchors = new Anchors(this, size());
    anchors->fasten({ui->LDBNameSQL, ui->DBNameSQL}, Qt::LeftEdge | Qt::RightEdge);
    anchors->fasten({ui->BOpenSQL, ui->BExecSQL}, Qt::RightEdge);
    anchors->fasten({ui->SQLText}, {.right = 1, .bottom = editorShare});
    anchors->fasten({ui->DBNavigator}, {.top = editorShare, .bottom = editorShare});
    anchors->fasten({ui->LWorkRecordCount},
                    {.top = editorShare, .right = 1, .bottom = editorShare});
    anchors->fasten({ui->BStopSQL},
                    {.left = 1, .top = editorShare, .right = 1, .bottom = editorShare});
    anchors->fasten({ui->ListLRecord}, {.top = editorShare, .right = 1, .bottom = 1});
    anchors->fasten({ui->LExportNote}, Qt::LeftEdge | Qt::RightEdge | Qt::BottomEdge);
    anchors->fasten({ui->BCopyBuffer, ui->BSaveExcel}, Qt::RightEdge | Qt::BottomEdge);
}

void TSqlQueryTab::showExportNote()
{
    const QueryResult& result = this->result();
    QString note;
    QString more;
    if (result.unkeptCount() > 0) {
        const qsizetype kept = result.fetchedCount();
        note = u"В таблице %1 %2 из %3: остальные выгружены без сохранения."_s.arg(kept)
                   .arg(PluralForm(u"записей"_s, u"запись"_s, u"записи"_s,
                                   static_cast<double>(kept), false, u' '))
                   .arg(kept + result.unkeptCount());
        more = note + u" Выполните запрос снова, чтобы увидеть их."_s;
    } else if (result.isCutShort()) {
        // Short enough for the two lines under the grid; the tooltip says how many rows it has.
        note = u"Остальные записи не прочитаны из-за операции с базой: их покажет повторный "
               u"запрос."_s;
        const qsizetype kept = result.fetchedCount();
        more = u"В таблице %1 %2. Остальные записи не прочитаны: операция с базой данных прервала "
               u"чтение. Выполните запрос снова, чтобы увидеть их."_s.arg(kept)
                   .arg(PluralForm(u"записей"_s, u"запись"_s, u"записи"_s,
                                   static_cast<double>(kept), false, u' '));
    }
    ui->LExportNote->setText(note);
    ui->LExportNote->setToolTip(more);
}

void TSqlQueryTab::showStatus(const QString& text)
{
    m_runningTicker.stop();
    ui->LStatus->setText(text);
    ui->LStatus->setToolTip(text);
    ui->LStatus->show();
    ui->LWorkRecordCount->hide();
    m_statusTimer.start();
}

void TSqlQueryTab::clearStatus()
{
    m_statusTimer.stop();
    m_runningTicker.stop();
    ui->LStatus->hide();
    ui->LStatus->clear();
    ui->LStatus->setToolTip({});
    ui->LWorkRecordCount->show();
}

void TSqlQueryTab::showRunning()
{
    ui->LStatus->setText(u"Выполняется… "_s + RunningTimeText(m_running.elapsed() / 1000));
}

void TSqlQueryTab::DBNameDropDown()
{
    QComboBox* chooser = ui->DBNameSQL;
    const QSignalBlocker blocker(chooser);
    chooser->clear();
    // Shown as the list shows them, each item keeps the name exactly as the server gave it.
    for (const AttachedDatabase& listed : m_session->databases())
        if (!listed.name.isEmpty())
            chooser->addItem(listed.name, listed.exactName);
    int found = -1;
    for (int i = 0; i < chooser->count() && found < 0; ++i)
        if (chooser->itemData(i).toString() == m_remembered)
            found = i;
    for (int i = 0; i < chooser->count() && found < 0; ++i)
        if (chooser->itemText(i).compare(m_remembered, Qt::CaseInsensitive) == 0)
            found = i;
    chooser->setCurrentIndex(found >= 0 ? found : (chooser->count() > 0 ? 0 : -1));
}

void TSqlQueryTab::DBNameEnter()
{
    const QSignalBlocker blocker(ui->DBNameSQL);
    int index = ui->DBNameSQL->findData(m_remembered);
    if (index < 0)
        index = ui->DBNameSQL->findText(m_remembered, Qt::MatchFixedString);
    if (index >= 0)
        ui->DBNameSQL->setCurrentIndex(index);
}

QString TSqlQueryTab::chosenDatabase() const
{
    const QVariant exact = ui->DBNameSQL->currentData();
    return exact.isValid() ? exact.toString() : ui->DBNameSQL->currentText();
}

void TSqlQueryTab::DBNameSQLChange(const QString& name)
{
    m_remembered = name;
    m_session->connection().setDefaultDatabase(name);
}

QString TSqlQueryTab::statementText() const
{
    return ui->SQLText->toPlainText().split(u'\n').join(u"\r\n"_s);
}

void TSqlQueryTab::BOpenSQLClick()
{
    if (!settleUnsavedEdits())
        return;
    const QString database = chosenDatabase();
    const QString sql = statementText();
    ConsoleSession& console = m_session->console();
    console.result().close(); // a new statement closes the previous result
    QueryResult::FirstPage page;
    runStatement(
        console.connection(),
        [&] {
            m_session->connection().setDefaultDatabase(database);
            page = console.read(database, sql, consoleTimeoutSeconds);
        },
        u"Выполнение запроса остановлено."_s);
    console.show(std::move(page));
    console.makeEditable(database, sql);
    updateNavigator();
}

void TSqlQueryTab::BExecSQLClick()
{
    db::Connection& connection = m_session->connection();
    const QString database = chosenDatabase();
    const QString sql = statementText();
    QList<qint64> counts;
    runStatement(
        connection,
        [&] { counts = m_session->console().execute(database, sql, consoleTimeoutSeconds); },
        u"Выполнение апдейта остановлено. То, что сервер успел выполнить до остановки, "
        u"сохранено."_s);
    ui->LWorkRecordCount->setText(AffectedRowsText(counts));
    // Each statement's own count, when there were several.
    QStringList each;
    for (const qint64 count : std::as_const(counts))
        each << QString::number(count);
    ui->LWorkRecordCount->setToolTip(counts.size() > 1 ? u"По инструкциям: "_s + each.join(u" + "_s)
                                                       : QString());
}

void TSqlQueryTab::stopStatement()
{
    m_call.stop();
}

void TSqlQueryTab::runStatement(db::Connection& connection, const std::function<void()>& work,
                                const QString& stoppedText)
{
    // Everything but the stop control is unavailable meanwhile; the focus goes there first and
    // comes back afterwards, so that it never passes through a field of the panel (leaving one
    // reconnects and reloads the list).
    const QPointer<QWidget> focused = QApplication::focusWidget();
    ui->BStopSQL->setEnabled(true);
    ui->BStopSQL->setFocus();
    ui->BStopSQL->setCursor(Qt::ArrowCursor);
    QList<QWidget*> disabled;
    for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (control != ui->BStopSQL && qobject_cast<QLabel*>(control) == nullptr &&
            control->isEnabled()) {
            control->setEnabled(false);
            disabled << control;
        }
    m_guard->setBusy(true);
    // The running time beside the greyed controls, so that a long statement is seen to run.
    m_statusTimer.stop();
    m_running.start();
    showRunning();
    ui->LStatus->setToolTip({});
    ui->LStatus->show();
    ui->LWorkRecordCount->hide();
    m_runningTicker.start();
    const auto restore = qScopeGuard([&] {
        clearStatus();
        m_guard->setBusy(false);
        for (QWidget* control : std::as_const(disabled))
            control->setEnabled(true);
        if (focused != nullptr && focused->isEnabled())
            focused->setFocus();
        else
            ui->SQLText->setFocus();
        ui->BStopSQL->setEnabled(false);
    });
    try {
        m_call.run(work, [&connection] { connection.interrupt(); });
    } catch (const db::DbError& error) {
        if (error.isCancelled() && m_call.stopRequested())
            throw StoppedByOperator(stoppedText);
        throw;
    }
}

void TSqlQueryTab::BCopyBufferClick()
{
    const auto note = qScopeGuard([this] { showExportNote(); });
    QueryResult& result = this->result();
    QGuiApplication::clipboard()->setText(ExportText(result));
    const qint64 records = result.fetchedCount() + result.unkeptCount();
    showStatus(u"Скопировано в буфер: %1 %2."_s.arg(records).arg(recordsWord(records)));
}

void TSqlQueryTab::BSaveExcelClick()
{
    // Where the last export went, in this run or an earlier one.
    const std::optional<QString> file = m_session->operatorUi().chooseSaveFile(
        {u"Укажите файл"_s, u"Microsoft Excel|*.xls|Все файлы|*.*"_s, u"xls"_s,
         m_session->startFolder(RecentFolders::Kind::Export, {}, {}), m_lastExportFile});
    if (!file)
        return;
    m_lastExportFile = *file;
    m_session->rememberFile(RecentFolders::Kind::Export, *file);
    const auto note = qScopeGuard([this] { showExportNote(); });
    QString path = *file;
    if (QFileInfo(path).suffix().isEmpty())
        path += u".xls"_s;
    QueryResult& result = this->result();
    OperatorUi& operatorUi = m_session->operatorUi();
    // Asked once, here: the dialog does not ask (the name may still get ".xls"). A result that
    // cannot be exported says so below instead.
    if (result.isExportable() && QFileInfo(path).isFile() &&
        !operatorUi.askYesNo(
            OperatorUi::Icon::Question, u"Внимание"_s,
            u"Файл \"%1\" уже существует. Заменить его?"_s.arg(QDir::toNativeSeparators(path))))
        return;
    // The old file is replaced only by a complete export.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        throw Error(u"Не удалось создать файл \"%1\": %2"_s.arg(path, out.errorString()));
    const std::unique_ptr<QIODevice> wrapper =
        m_session->wrapOutput ? m_session->wrapOutput(out) : nullptr;
    const qint64 replaced = WriteExportFile(result, wrapper ? *wrapper : out);
    if (!out.commit())
        throw Error(u"Не удалось записать файл \"%1\": %2"_s.arg(path, out.errorString()));
    const qint64 records = result.fetchedCount() + result.unkeptCount();
    showStatus(u"Сохранено в файл \"%1\": %2 %3."_s.arg(QFileInfo(path).fileName())
                   .arg(records)
                   .arg(recordsWord(records)));
    if (replaced > 0)
        operatorUi.showMessage(
            OperatorUi::Icon::Warning, u"Внимание"_s,
            u"Файл \"%1\" записан. В кодировке Windows-1251 нет части символов результата: они "
            u"заменены знаком \"?\" (символов: %2)."_s.arg(QDir::toNativeSeparators(path))
                .arg(replaced));
}
