#include "ServerFileDialog.h"

#include "MyException.h"
#include "PathText.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace serverpath {

namespace {

bool isDriveLetter(QChar c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool hasDrive(const QString& path)
{
    return path.size() >= 2 && isDriveLetter(path[0]) && path[1] == u':';
}

bool isUnc(const QString& path)
{
    return path.size() >= 2 && path[0] == u'\\' && pathtext::isSeparator(path[1]);
}

} // namespace

QChar separatorOf(const QString& path)
{
    return path.startsWith(u'/') ? u'/' : u'\\';
}

bool isAbsolute(const QString& path)
{
    if (path.startsWith(u'/') || isUnc(path))
        return true;
    return hasDrive(path) && path.size() >= 3 && pathtext::isSeparator(path[2]);
}

QString rootOf(const QString& path)
{
    if (path.startsWith(u'/'))
        return u"/"_s;
    if (hasDrive(path))
        return path.left(2) + u'\\';
    if (!isUnc(path))
        return {};
    // "\\host\share\": the host and the share name together make the root.
    qsizetype end = 2;
    for (int part = 0; part < 2 && end < path.size(); ++part) {
        while (end < path.size() && !pathtext::isSeparator(path[end]))
            ++end;
        if (part == 0 && end < path.size())
            ++end;
    }
    QString root = path.left(end);
    root.replace(u'/', u'\\');
    return root + u'\\';
}

QString normalFolder(const QString& folder)
{
    if (folder.isEmpty())
        return {};
    const QChar separator = separatorOf(folder);
    QString normal = folder;
    if (separator == u'\\')
        normal.replace(u'/', u'\\');
    const QString root = rootOf(normal);
    if (!root.isEmpty() && normal.size() <= root.size())
        return root;
    while (normal.size() > root.size() && normal.endsWith(separator))
        normal.chop(1);
    return normal;
}

QString parentFolder(const QString& folder)
{
    const QString normal = normalFolder(folder);
    const QString root = rootOf(normal);
    if (normal.isEmpty() || normal == root)
        return {};
    const qsizetype last = normal.lastIndexOf(separatorOf(normal));
    if (last < root.size())
        return root;
    return normal.left(last);
}

QString join(const QString& folder, const QString& name)
{
    if (isAbsolute(name) || folder.isEmpty())
        return name;
    const QString normal = normalFolder(folder);
    const QChar separator = separatorOf(normal);
    if (separator == u'\\' && !name.isEmpty() && pathtext::isSeparator(name.front())) {
        const QString root = rootOf(normal);
        if (!root.isEmpty())
            return root + name.mid(1);
    }
    if (name.isEmpty())
        return normal;
    if (normal.endsWith(separator))
        return normal + name;
    return normal + separator + name;
}

QString listingPath(const QString& folder)
{
    const QString normal = normalFolder(folder);
    if (normal.isEmpty())
        return {};
    const QChar separator = separatorOf(normal);
    return normal.endsWith(separator) ? normal : normal + separator;
}

QString withDefaultExtension(const QString& name, const QString& extension)
{
    QString suffix = extension;
    while (suffix.startsWith(u'.'))
        suffix.remove(0, 1);
    const QString last = name.mid(pathtext::lastSeparator(name) + 1);
    if (suffix.isEmpty() || last.isEmpty() || last.contains(u'.'))
        return name;
    return name + u'.' + suffix;
}

QList<FileType> parseFilter(const QString& filter)
{
    QList<FileType> types;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        FileType type{parts[i].trimmed(), {}};
        for (const QString& pattern : parts[i + 1].split(u';', Qt::SkipEmptyParts)) {
            if (!pattern.trimmed().isEmpty())
                type.patterns << pattern.trimmed();
        }
        types << type;
    }
    return types;
}

QString fileTypeLabel(const FileType& type)
{
    const QString shown = u'(' + type.patterns.join(u';') + u')';
    if (type.patterns.isEmpty() || type.description.contains(shown, Qt::CaseInsensitive))
        return type.description;
    return type.description + u' ' + shown;
}

bool matchesWildcard(const QString& name, const QString& pattern)
{
    if (pattern == u"*"_s || pattern == u"*.*"_s)
        return true;
    // Greedy match that backtracks to the last "*" only.
    qsizetype n = 0;
    qsizetype p = 0;
    qsizetype starAt = -1;
    qsizetype resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starAt = p++;
            resumeAt = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == u'?' || pattern[p].toCaseFolded() == name[n].toCaseFolded())) {
            ++p;
            ++n;
        } else if (starAt >= 0) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

bool matchesAny(const QString& name, const QStringList& patterns)
{
    if (patterns.isEmpty())
        return true;
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const QString& pattern) { return matchesWildcard(name, pattern); });
}

} // namespace serverpath

namespace {

constexpr int pathRole = Qt::UserRole;
constexpr int isFileRole = Qt::UserRole + 1;

QString defaultTitle(OperatorUi::ServerChoice kind)
{
    switch (kind) {
    case OperatorUi::ServerChoice::OpenFile:
        return u"Открыть"_s;
    case OperatorUi::ServerChoice::SaveFile:
        return u"Сохранить как"_s;
    case OperatorUi::ServerChoice::Folder:
        return u"Выбор папки"_s;
    }
    return {};
}

QString acceptText(OperatorUi::ServerChoice kind)
{
    switch (kind) {
    case OperatorUi::ServerChoice::OpenFile:
        return u"Открыть"_s;
    case OperatorUi::ServerChoice::SaveFile:
        return u"Сохранить"_s;
    case OperatorUi::ServerChoice::Folder:
        return u"Выбрать"_s;
    }
    return {};
}

// What a failed call to the server says; it may throw anything, the dialog shows text.
template <typename Call> std::optional<QString> serverError(Call&& call)
{
    try {
        call();
        return std::nullopt;
    } catch (const std::exception& error) {
        return errorMessage(error);
    } catch (...) {
        return u"Сервер не ответил."_s;
    }
}

} // namespace

ServerFileDialog::ServerFileDialog(OperatorUi::ServerChoice kind,
                                   const OperatorUi::FileDialog& request,
                                   OperatorUi::ServerFolders& server, QWidget* parent)
    : QDialog(parent), m_kind(kind), m_server(server), m_defaultExtension(request.defaultExtension),
      m_types(serverpath::parseFilter(request.filter))
{
    setWindowTitle(request.title.isEmpty() ? defaultTitle(kind) : request.title);
    buildLayout(acceptText(kind));

    const std::optional<QString> drivesError = serverError([&] { m_drives = m_server.drives(); });
    fillDriveCombo();

    if (!isFolderChoice())
        m_nameEdit->setText(request.fileName);
    showFolder(request.folder.trimmed());
    if (drivesError && m_errorLabel->isHidden())
        showError(*drivesError);
    m_nameEdit->setFocus();
}

std::optional<QString> ServerFileDialog::choose(OperatorUi::ServerChoice kind,
                                                const OperatorUi::FileDialog& request,
                                                OperatorUi::ServerFolders& server, QWidget* parent)
{
    ServerFileDialog dialog(kind, request, server, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.chosenPath();
}

void ServerFileDialog::buildLayout(const QString& acceptText)
{
    auto* folderLabel = new QLabel(u"Папка:"_s, this);
    m_folderEdit = new QLineEdit(this);
    m_folderEdit->setObjectName(u"folderEdit"_s);
    folderLabel->setBuddy(m_folderEdit);
    m_upButton =
        new QPushButton(style()->standardIcon(QStyle::SP_FileDialogToParent), u"Вверх"_s, this);
    m_upButton->setObjectName(u"upButton"_s);
    m_upButton->setAutoDefault(false);
    m_driveCombo = new QComboBox(this);
    m_driveCombo->setObjectName(u"driveCombo"_s);

    auto* top = new QHBoxLayout;
    top->addWidget(folderLabel);
    top->addWidget(m_folderEdit, 1);
    top->addWidget(m_upButton);
    top->addWidget(m_driveCombo);

    m_list = new QListWidget(this);
    m_list->setObjectName(u"entryList"_s);

    m_errorLabel = new QLabel(this);
    m_errorLabel->setObjectName(u"errorLabel"_s);
    m_errorLabel->setWordWrap(true);
    m_errorLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette errorPalette = m_errorLabel->palette();
    errorPalette.setColor(QPalette::WindowText, Qt::red);
    m_errorLabel->setPalette(errorPalette);
    m_errorLabel->hide();

    auto* nameLabel = new QLabel(isFolderChoice() ? u"Папка:"_s : u"Имя файла:"_s, this);
    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setObjectName(u"nameEdit"_s);
    nameLabel->setBuddy(m_nameEdit);
    auto* typeLabel = new QLabel(u"Тип файлов:"_s, this);
    m_typeCombo = new QComboBox(this);
    m_typeCombo->setObjectName(u"typeCombo"_s);
    typeLabel->setBuddy(m_typeCombo);
    for (const serverpath::FileType& type : m_types)
        m_typeCombo->addItem(serverpath::fileTypeLabel(type));
    m_acceptButton = new QPushButton(acceptText, this);
    m_acceptButton->setObjectName(u"acceptButton"_s);
    m_acceptButton->setDefault(true);
    m_cancelButton = new QPushButton(u"Отмена"_s, this);
    m_cancelButton->setObjectName(u"cancelButton"_s);

    auto* bottom = new QGridLayout;
    bottom->addWidget(nameLabel, 0, 0);
    bottom->addWidget(m_nameEdit, 0, 1);
    bottom->addWidget(m_acceptButton, 0, 2);
    bottom->addWidget(typeLabel, 1, 0);
    bottom->addWidget(m_typeCombo, 1, 1);
    bottom->addWidget(m_cancelButton, 1, 2);
    // A folder has no type, and a dialog without a filter shows every file.
    const bool showTypes = !isFolderChoice() && !m_types.isEmpty();
    typeLabel->setVisible(showTypes);
    m_typeCombo->setVisible(showTypes);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_errorLabel);
    layout->addLayout(bottom);
    resize(560, 380);

    // Return in the folder field or the list acts there rather than on the default button; a
    // single click only selects, whatever the style says about activating items.
    m_folderEdit->installEventFilter(this);
    m_list->installEventFilter(this);

    connect(m_upButton, &QPushButton::clicked, this,
            [this] { showFolder(serverpath::parentFolder(m_folder)); });
    connect(m_driveCombo, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < m_drives.size())
            showFolder(m_drives[index]);
    });
    connect(m_list, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { activateItem(item); });
    connect(m_list, &QListWidget::currentItemChanged, this,
            [this](QListWidgetItem* item) { selectItem(item); });
    connect(m_typeCombo, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_folder.isEmpty())
            listEntries(m_entries);
    });
    connect(m_acceptButton, &QPushButton::clicked, this, [this] { acceptTyped(); });
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

bool ServerFileDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return QDialog::eventFilter(watched, event);
    if (watched == m_folderEdit) {
        showFolder(m_folderEdit->text().trimmed());
        return true;
    }
    if (watched == m_list && m_list->currentItem() != nullptr) {
        activateItem(m_list->currentItem());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void ServerFileDialog::showFolder(const QString& folder)
{
    const QString normal = serverpath::normalFolder(folder);
    if (normal.isEmpty()) {
        showDrives({});
        return;
    }
    QList<OperatorUi::ServerFolders::Entry> entries;
    if (const auto error =
            serverError([&] { entries = m_server.entries(serverpath::listingPath(normal)); })) {
        showDrives(*error);
        return;
    }
    m_folder = normal;
    m_entries = entries;
    m_folderEdit->setText(m_folder);
    m_upButton->setEnabled(true);
    const QString root = serverpath::rootOf(m_folder);
    m_driveCombo->setCurrentIndex(-1);
    for (qsizetype i = 0; i < m_drives.size(); ++i) {
        if (serverpath::normalFolder(m_drives[i]).compare(root, Qt::CaseInsensitive) == 0)
            m_driveCombo->setCurrentIndex(int(i));
    }
    m_errorLabel->hide();
    listEntries(m_entries);
    if (isFolderChoice())
        m_nameEdit->setText(m_folder);
}

void ServerFileDialog::showDrives(const QString& error)
{
    QString message = error;
    if (m_drives.isEmpty()) {
        // The first call may have failed while the server was busy: one more try.
        const auto drivesError = serverError([&] { m_drives = m_server.drives(); });
        fillDriveCombo();
        if (message.isEmpty() && drivesError)
            message = *drivesError;
    }
    m_folder.clear();
    m_entries.clear();
    m_folderEdit->clear();
    m_upButton->setEnabled(false);
    m_driveCombo->setCurrentIndex(-1);
    m_list->clear();
    const QIcon icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
    for (const QString& drive : std::as_const(m_drives)) {
        auto* item = new QListWidgetItem(icon, drive, m_list);
        item->setData(pathRole, drive);
        item->setData(isFileRole, false);
    }
    if (isFolderChoice())
        m_nameEdit->clear();
    if (message.isEmpty())
        m_errorLabel->hide();
    else
        showError(message);
}

void ServerFileDialog::showError(const QString& error)
{
    m_errorLabel->setText(error);
    m_errorLabel->show();
}

void ServerFileDialog::fillDriveCombo()
{
    m_driveCombo->clear();
    m_driveCombo->addItems(m_drives);
    m_driveCombo->setCurrentIndex(-1);
}

void ServerFileDialog::listEntries(const QList<OperatorUi::ServerFolders::Entry>& entries)
{
    m_list->clear();
    const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
    const QIcon fileIcon = style()->standardIcon(QStyle::SP_FileIcon);
    const QStringList patterns = currentPatterns();
    // Folders first whatever order the server gave.
    for (const bool files : {false, true}) {
        if (files && isFolderChoice())
            break;
        for (const OperatorUi::ServerFolders::Entry& entry : entries) {
            if (entry.isFile != files || (files && !serverpath::matchesAny(entry.name, patterns)))
                continue;
            auto* item = new QListWidgetItem(files ? fileIcon : folderIcon, entry.name, m_list);
            item->setData(pathRole, serverpath::join(m_folder, entry.name));
            item->setData(isFileRole, files);
        }
    }
}

void ServerFileDialog::activateItem(QListWidgetItem* item)
{
    if (item == nullptr)
        return;
    const QString path = item->data(pathRole).toString();
    if (!item->data(isFileRole).toBool()) {
        showFolder(path);
        return;
    }
    m_nameEdit->setText(item->text());
    finish(path);
}

void ServerFileDialog::selectItem(QListWidgetItem* item)
{
    if (item == nullptr)
        return;
    if (item->data(isFileRole).toBool())
        m_nameEdit->setText(item->text());
    else if (isFolderChoice())
        m_nameEdit->setText(serverpath::normalFolder(item->data(pathRole).toString()));
}

void ServerFileDialog::acceptTyped()
{
    const QString typed = m_nameEdit->text().trimmed();
    if (typed.isEmpty())
        return;
    if (m_folder.isEmpty() && !serverpath::isAbsolute(typed)) {
        showError(u"Выберите папку на сервере."_s);
        return;
    }
    const QString path = serverpath::join(m_folder, typed);
    if (isFolderChoice()) {
        finish(serverpath::normalFolder(path));
        return;
    }
    if (typed == u".."_s) {
        m_nameEdit->clear();
        showFolder(serverpath::parentFolder(m_folder));
        return;
    }
    // A folder named in the field is opened, as in a local file dialog.
    const bool namesListedFolder = std::any_of(
        m_entries.begin(), m_entries.end(), [&](const OperatorUi::ServerFolders::Entry& entry) {
            return !entry.isFile && entry.name.compare(typed, Qt::CaseInsensitive) == 0;
        });
    if (namesListedFolder || pathtext::isSeparator(typed.back())) {
        m_nameEdit->clear();
        showFolder(path);
        return;
    }
    if (m_kind == OperatorUi::ServerChoice::SaveFile)
        finish(serverpath::withDefaultExtension(path, m_defaultExtension));
    else
        finish(path);
}

void ServerFileDialog::finish(const QString& path)
{
    m_chosen = path;
    accept();
}

QStringList ServerFileDialog::currentPatterns() const
{
    const int index = m_typeCombo->currentIndex();
    if (index < 0 || index >= m_types.size())
        return {};
    return m_types[index].patterns;
}
