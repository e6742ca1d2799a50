#pragma once

#include <QObject>

class QLineEdit;

// A file dropped from the desktop shell onto a file-name field replaces its text with the
// file's full path.
class FileDrop : public QObject
{
public:
    explicit FileDrop(QLineEdit* field);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* m_field;
};
