#include "DbSetupApplication.h"

#include "OperatorUi.h"

#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>

namespace {

// Qt's own texts in Russian. Qt 6 looks up the file dialog's type of a folder ("Folder") under
// a context its Russian translation does not carry yet; the file dialog's context has the word.
class QtTexts : public QTranslator
{
public:
    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override
    {
        QString text = QTranslator::translate(context, sourceText, disambiguation, n);
        if (text.isEmpty() && qstrcmp(context, "QAbstractFileIconProvider") == 0)
            text = QTranslator::translate("QFileDialog", sourceText, nullptr, n);
        return text;
    }
};

} // namespace

DbSetupApplication::DbSetupApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // No display name: the platform would append it to every window caption.
    setApplicationName(QStringLiteral("dbsetup"));
    setApplicationVersion(QStringLiteral(DBSETUP_VERSION));
    // Qt's own texts (standard buttons, file dialogs, edit menus) speak Russian like the
    // program's, whatever the system's language; without the translation they stay English.
    auto texts = std::make_unique<QtTexts>();
    if (texts->load(QStringLiteral("qtbase_ru"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        m_qtTexts = std::move(texts);
        installTranslator(m_qtTexts.get());
    }
}

DbSetupApplication::~DbSetupApplication() = default;

bool DbSetupApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        if (m_reporter != nullptr)
            ShowErrorReport(*m_reporter, error);
        else
            std::fprintf(stderr, "%s\n", error.what());
    }
    return false;
}
